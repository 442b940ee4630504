// Private-profile (INI) files: [section] headers and key=value lines. Windows
// uses its own profile functions; the POSIX backend keeps a text file with the
// same rules: names compare without case, values are read without surrounding
// blanks (and one pair of matching quotes), a missing file or key gives the
// default, and writing a null value deletes the key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// The value cut to bufferSize - 1 bytes, as a fixed buffer would hold it; a
// null default reads as "".
std::string ProfileReadString(const std::string& path, const char* section, const char* key,
                              const char* defaultValue, size_t bufferSize);
// The value's leading decimal number (0 when it has none); the default when the
// key is missing or empty.
uint32_t ProfileReadInt(const std::string& path, const char* section, const char* key, int defaultValue);
// A null value deletes the key; the file and section are made when missing.
bool ProfileWriteString(const std::string& path, const char* section, const char* key, const char* value);

}  // namespace plat
