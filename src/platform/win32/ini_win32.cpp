// Windows backend of the INI services: the kernel's private-profile functions.
#include "platform/ini.h"

#include <windows.h>

#include <vector>

namespace plat {

std::string ProfileReadString(const std::string& path, const char* section, const char* key,
                              const char* defaultValue, size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::vector<char> buffer(bufferSize);
  DWORD n = ::GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", buffer.data(),
                                       static_cast<DWORD>(bufferSize), path.c_str());
  return std::string(buffer.data(), n);
}

uint32_t ProfileReadInt(const std::string& path, const char* section, const char* key, int defaultValue) {
  return ::GetPrivateProfileIntA(section, key, defaultValue, path.c_str());
}

bool ProfileWriteString(const std::string& path, const char* section, const char* key, const char* value) {
  return ::WritePrivateProfileStringA(section, key, value, path.c_str()) != FALSE;
}

}  // namespace plat
