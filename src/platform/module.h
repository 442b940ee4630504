// The full path of the running program (GetModuleFileNameA; POSIX: the
// executable's path with '\' separators). Empty when unknown.
#pragma once

#include <string>

namespace plat {

std::string GetProgramPath();

}  // namespace plat
