#include <windows.h>

#include <vector>

#include "platform/text.h"

namespace plat {

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) return text;
  std::vector<wchar_t> buffer(static_cast<size_t>(wide));
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, buffer.data(), wide);
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string utf8(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, buffer.data(), wide, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}

}  // namespace plat
