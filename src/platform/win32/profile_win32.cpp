// Windows backend of the profile read: a string value of the user's registry.
#include "platform/profile.h"

#include <windows.h>

#include <vector>

namespace plat {

std::string ReadProfileString(const char* company, const char* application, const char* section,
                              const char* entry, const char* defaultValue) {
  std::string fallback = defaultValue ? defaultValue : "";
  std::string subkey = std::string("Software\\") + company + "\\" + application + "\\" + section;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return fallback;
  DWORD type = 0, size = 0;
  std::string value = fallback;
  if (::RegQueryValueExA(key, entry, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::vector<char> buffer(size + 1, '\0');
    if (::RegQueryValueExA(key, entry, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ)
      value = buffer.data();  // up to the first NUL; a stored value need not end with one
  }
  ::RegCloseKey(key);
  return value;
}

}  // namespace plat
