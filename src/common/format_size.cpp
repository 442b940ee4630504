#include "common/format_size.h"

#include <cstdio>

std::string FormatSize(uint64_t bytes) {
  char text[64];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%u BYTE", static_cast<unsigned>(bytes));
  } else if (bytes < 1048576) {
    std::snprintf(text, sizeof text, "%u KB", static_cast<unsigned>(bytes / 1024));
  } else if (bytes < 1073741824) {
    unsigned hundredths = static_cast<unsigned>(((bytes / 1024 % 1024) * 1000 / 1024) / 10);
    std::snprintf(text, sizeof text, "%u.%02u MB", static_cast<unsigned>(bytes / 1048576), hundredths);
  } else {
    unsigned thousandths = static_cast<unsigned>((bytes / 1048576 % 1024) * 1000 / 1024);
    std::snprintf(text, sizeof text, "%u.%03u GB", static_cast<unsigned>(bytes / 1073741824), thousandths);
  }
  return text;
}
