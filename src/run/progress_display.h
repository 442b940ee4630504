// The numbers and texts of the install page's progress display. Pure rules,
// kept apart from the controls so that they can be checked without a window.
#pragma once

#include <cstdint>
#include <string>

// Strings of the progress display.
enum : unsigned {
  IDS_ESTIMATE_SECONDS = 8000,
  IDS_ESTIMATE_MINUTES = 8001,
  IDS_ESTIMATE_HOURS = 8002,
  IDS_ESTIMATE_UNKNOWN = 8003,
  IDS_REMAINING_PARTS = 8004,
  IDS_DOWNLOADING = 8005,
  IDS_INSTALLING = 8006,
  IDS_INSTALL_COUNTER = 8007,
};

// Position of the current file's bar (0-100): full only when every byte is
// in, so a file that is almost done never looks finished.
int FileBarPosition(uint32_t done, uint32_t total);
// "1.50 MB/3.00 MB": done and total by FormatSize, no spaces around "/".
std::string ByteCountText(uint64_t done, uint64_t total);
// The remaining-time text for `remaining` bytes at the rate measured so far;
// "unknown" while nothing has been measured.
std::string EstimateText(uint64_t remaining, uint64_t measuredBytes, uint64_t measuredMs);
// done * 100 / total rounded to the nearest integer; 0 without a total.
int InstallBarPosition(uint32_t done, uint32_t total);
std::string RemainingPartsText(int remaining, int count);
std::string InstallCounterText(int done, int total);
