// Character stepping and comparison for ANSI texts in code page 932 (Shift_JIS),
// the code page of every path and text the program handles. A double-byte
// character's trail byte may be 0x5C ("表" is 95 5C) or 0x7C, so a byte scan for
// '\' or '|' would split characters: every such scan steps by characters here.
// Header-only so that the lowest layer (the POSIX file backend) can use it too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mbcs {

// Lead bytes of code page 932 (IsDBCSLeadByteEx(932, c)).
constexpr bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes of the character at text[pos]: 2 for a lead byte followed by
// another byte, else 1 (a lead byte at the end stands alone, as CharNextA does).
constexpr size_t CharLength(std::string_view text, size_t pos) {
  return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

// Offset of the next character (CharNextA); the end stays the end.
constexpr size_t CharNext(std::string_view text, size_t pos) {
  return pos >= text.size() ? text.size() : pos + CharLength(text, pos);
}

// Offset of the first / last single-byte character c, or npos. Only meaningful for
// ASCII c; trail bytes never match.
constexpr size_t FindChar(std::string_view text, char c, size_t from = 0) {
  for (size_t i = from; i < text.size(); i = CharNext(text, i))
    if (text[i] == c && CharLength(text, i) == 1) return i;
  return std::string_view::npos;
}
constexpr size_t FindLastChar(std::string_view text, char c) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < text.size(); i = CharNext(text, i))
    if (text[i] == c && CharLength(text, i) == 1) found = i;
  return found;
}

// True when the text's last character is the single-byte character c
// (so "表" = 95 5C does not end with '\').
constexpr bool EndsWithChar(std::string_view text, char c) {
  size_t last = FindLastChar(text, c);
  return last != std::string_view::npos && last + 1 == text.size();
}

// Offset of the first path separator ('\' or '/') at or after from, or npos.
constexpr size_t FindSeparator(std::string_view text, size_t from = 0) {
  for (size_t i = from; i < text.size(); i = CharNext(text, i))
    if ((text[i] == '\\' || text[i] == '/') && CharLength(text, i) == 1) return i;
  return std::string_view::npos;
}

// Case-insensitive comparison like _mbsicmp: single-byte letters A-Z and a-z
// compare equal, double-byte characters compare by their bytes. Returns <0, 0, >0.
constexpr int ICompare(std::string_view a, std::string_view b) {
  auto fold = [](unsigned char c) -> unsigned {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned>(c - 'A' + 'a') : c;
  };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t la = CharLength(a, i), lb = CharLength(b, j);
    unsigned ca = la == 2 ? (static_cast<unsigned char>(a[i]) << 8) | static_cast<unsigned char>(a[i + 1])
                          : fold(static_cast<unsigned char>(a[i]));
    unsigned cb = lb == 2 ? (static_cast<unsigned char>(b[j]) << 8) | static_cast<unsigned char>(b[j + 1])
                          : fold(static_cast<unsigned char>(b[j]));
    if (ca != cb) return ca < cb ? -1 : 1;
    i += la;
    j += lb;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

// Replaces every single-byte character from by to, leaving double-byte
// characters alone ('\' -> '/' for POSIX paths).
inline std::string ReplaceChar(std::string_view text, char from, char to) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); i = CharNext(out, i))
    if (out[i] == from && CharLength(out, i) == 1) out[i] = to;
  return out;
}

// The key under which Windows would find a path: '/' and '\' alike, and
// letters compared without case (single-byte and full-width Latin ones; the
// trail byte of a double-byte character is never folded). Two paths name the
// same file when their keys are equal.
inline std::string PathKey(std::string_view path) {
  std::string key(path);
  for (size_t i = 0; i < key.size(); i = CharNext(key, i)) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (CharLength(key, i) == 2) {
      // Full-width A-Z (0x8260-0x8279) fold to a-z (0x8281-0x829A).
      unsigned char t = static_cast<unsigned char>(key[i + 1]);
      if (c == 0x82 && t >= 0x60 && t <= 0x79) key[i + 1] = static_cast<char>(t + 0x21);
    } else if (c == '/') {
      key[i] = '\\';
    } else if (c >= 'A' && c <= 'Z') {
      key[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return key;
}

}  // namespace mbcs
