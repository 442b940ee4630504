#pragma once

#include <cstdint>
#include <string>

// A byte count as the user reads it: "1023 BYTE", "1 KB", "1.50 MB", "5.000 GB".
std::string FormatSize(uint64_t bytes);
