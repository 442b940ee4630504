// POSIX backend of the profile read: an environment variable stands in for
// the registry value.
#include "platform/profile.h"

#include <cctype>
#include <cstdlib>

namespace plat {

std::string ReadProfileString(const char* /*company*/, const char* /*application*/, const char* section,
                              const char* entry, const char* defaultValue) {
  std::string name = std::string("WREN_") + section + "_" + entry;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const char* value = std::getenv(name.c_str());
  return value ? value : (defaultValue ? defaultValue : "");
}

}  // namespace plat
