#include "platform/module.h"

#include <climits>
#include <unistd.h>

namespace plat {

std::string GetProgramPath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return std::string();
  std::string path(buffer, static_cast<size_t>(n));
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace plat
