// Text conversion for files that are read outside the program (the run log).
#pragma once

#include <string>

namespace plat {

// A text in the program's code page (932) as UTF-8. Bytes that do not
// convert come out as '?'.
std::string AnsiToUtf8(const std::string& text);

}  // namespace plat
