#include "platform/module.h"

#include <windows.h>

namespace plat {

std::string GetProgramPath() {
  char buffer[MAX_PATH] = {};
  DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
}

}  // namespace plat
