#include "common/strings.h"

#include <windows.h>

std::string LoadResString(unsigned id) {
  char buffer[4096];
  int n = ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}
