#include "run/progress_display.h"

#include "common/format_size.h"
#include "common/strings.h"
#include "framework/msgbox.h"

int FileBarPosition(uint32_t done, uint32_t total) {
  if (done == 0 || total == 0) return 0;
  if (done >= total) return 100;
  const uint64_t percent = static_cast<uint64_t>(done) * 100 / total;
  return percent > 99 ? 99 : static_cast<int>(percent);
}

std::string ByteCountText(uint64_t done, uint64_t total) { return FormatSize(done) + "/" + FormatSize(total); }

std::string EstimateText(uint64_t remaining, uint64_t measuredBytes, uint64_t measuredMs) {
  const std::string unknown = LoadResString(IDS_ESTIMATE_UNKNOWN);
  if (measuredMs == 0) return unknown;
  const uint64_t rate = measuredBytes * 1000 / measuredMs;
  if (rate == 0) return unknown;
  uint64_t seconds = remaining / rate;
  // Something left always reads as at least one second, never as none.
  if (remaining != 0 && seconds <= 1) seconds = 1;
  else if (seconds > 3600)
    return FormatText(LoadResString(IDS_ESTIMATE_HOURS).c_str(), static_cast<unsigned>(seconds / 3600),
                      static_cast<unsigned>((seconds / 60) % 60));
  else if (seconds > 60)
    return FormatText(LoadResString(IDS_ESTIMATE_MINUTES).c_str(), static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
  return FormatText(LoadResString(IDS_ESTIMATE_SECONDS).c_str(), static_cast<unsigned>(seconds));
}

int InstallBarPosition(uint32_t done, uint32_t total) {
  if (total == 0) return 0;
  return static_cast<int>((static_cast<uint64_t>(done) * 100 + total / 2) / total);
}

std::string RemainingPartsText(int remaining, int count) {
  return FormatText(LoadResString(IDS_REMAINING_PARTS).c_str(), remaining, count);
}

std::string InstallCounterText(int done, int total) {
  return FormatText(LoadResString(IDS_INSTALL_COUNTER).c_str(), done, total);
}
