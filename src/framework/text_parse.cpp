#include "framework/text_parse.h"

bool ParseUnsignedText(const std::string& text, uint32_t* value) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return false;
  size_t end = text.find_last_not_of(" \t") + 1;
  uint64_t result = 0;
  for (size_t i = begin; i < end; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
    if (result > 0xFFFFFFFFull) return false;
  }
  *value = static_cast<uint32_t>(result);
  return true;
}
