#include <iconv.h>

#include "platform/text.h"

namespace plat {

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return {};
  iconv_t cd = ::iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  std::string out;
  char buffer[1024];
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t done = ::iconv(cd, &in, &inLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (done == static_cast<size_t>(-1) && dstLeft == sizeof buffer) {
      // A byte that is no character: show it as '?' and go on after it.
      out += '?';
      ++in;
      --inLeft;
    }
  }
  ::iconv_close(cd);
  return out;
}

}  // namespace plat
