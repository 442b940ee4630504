// POSIX backend of the INI services: the whole file is read as lines, looked
// up or edited, and written back, with the Windows rules for names and values.
#include "platform/mbcs.h"
#include "platform/files.h"
#include "platform/ini.h"

#include <string_view>
#include <vector>

namespace plat {
namespace {

constexpr size_t npos = std::string_view::npos;

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\r";
  size_t first = s.find_first_not_of(blanks);
  if (first == npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) { return mbcs::ICompare(a, b) == 0; }

// False when the line is not a section header; otherwise its name.
bool SectionName(std::string_view line, std::string_view* name) {
  std::string_view t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  size_t close = mbcs::FindChar(t, ']', 1);
  *name = Trim(t.substr(1, close == npos ? npos : close - 1));
  return true;
}

// False for blank lines and comments; a line without '=' is a key with no value.
bool KeyValue(std::string_view line, std::string_view* key, std::string_view* value) {
  std::string_view t = Trim(line);
  if (t.empty() || t[0] == ';') return false;
  size_t eq = mbcs::FindChar(t, '=');
  *key = Trim(t.substr(0, eq));
  *value = eq == npos ? std::string_view() : Trim(t.substr(eq + 1));
  return true;
}

// Reads the file as lines without their line ends. A missing file is empty.
bool ReadLines(const std::string& path, std::vector<std::string>* lines) {
  lines->clear();
  FileHandle file = OpenFile(path, OpenMode::ReadExisting);
  if (file == kInvalidFile) return LastError() == kErrorFileNotFound || LastError() == kErrorPathNotFound;
  std::string text;
  char buffer[8192];
  size_t got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got)) && got > 0) text.append(buffer, got);
  CloseFile(file);
  if (!ok) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines->push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  FileHandle file = OpenFile(path, OpenMode::CreateAlways);
  if (file == kInvalidFile) return false;
  bool ok = WriteFile(file, text.data(), text.size());
  return CloseFile(file) && ok;
}

// Where a key lives: its section header, its line, and the line that ends the
// section (the next header or the end). npos when absent.
struct Place {
  size_t section = npos;
  size_t key = npos;
  size_t end = npos;
};

Place Find(const std::vector<std::string>& lines, std::string_view section, std::string_view key) {
  Place place;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name, k, v;
    if (SectionName(lines[i], &name)) {
      if (place.section != npos) {
        place.end = i;
        return place;
      }
      if (SameName(name, section)) place.section = i;
    } else if (place.section != npos && place.key == npos && KeyValue(lines[i], &k, &v) &&
               SameName(k, key)) {
      place.key = i;
    }
  }
  place.end = lines.size();
  return place;
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

std::string ProfileReadString(const std::string& path, const char* section, const char* key,
                              const char* defaultValue, size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  std::string_view value = defaultValue ? defaultValue : "";
  value = value.substr(0, value.find_last_not_of(" \t") + 1);  // Windows drops the default's trailing blanks
  std::vector<std::string> lines;
  std::string_view k;
  if (section && key && ReadLines(path, &lines)) {
    Place place = Find(lines, section, key);
    if (place.key != npos) {
      KeyValue(lines[place.key], &k, &value);
      value = StripQuotes(value);
    }
  }
  return std::string(value.substr(0, bufferSize - 1));
}

uint32_t ProfileReadInt(const std::string& path, const char* section, const char* key, int defaultValue) {
  std::string value = ProfileReadString(path, section, key, "", 32);
  if (value.empty()) return static_cast<uint32_t>(defaultValue);
  // As Windows reads it: a sign, an optional 0x / 0o / 0b base prefix, digits up
  // to the first other character, wrapping modulo 2^32.
  size_t i = 0;
  bool negative = false;
  if (value[i] == '+' || value[i] == '-') negative = value[i++] == '-';
  uint32_t base = 10;
  if (i + 1 < value.size() && value[i] == '0') {
    const char prefix = static_cast<char>(value[i + 1] | 0x20);
    base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
    if (base != 10) i += 2;
  }
  uint32_t number = 0;
  for (; i < value.size(); ++i) {
    const char c = static_cast<char>(value[i] | 0x20);
    const uint32_t digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
    if (digit >= base) break;
    number = number * base + digit;
  }
  return negative ? 0u - number : number;
}

bool ProfileWriteString(const std::string& path, const char* section, const char* key, const char* value) {
  if (!section || !key) return false;
  std::vector<std::string> lines;
  if (!ReadLines(path, &lines)) return false;
  Place place = Find(lines, section, key);
  if (!value) {
    if (place.key == npos) return true;  // nothing to delete
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(place.key));
  } else {
    std::string line = std::string(key) + "=" + value;
    if (place.key != npos) {
      lines[place.key] = line;
    } else if (place.section != npos) {
      // After the section's last non-blank line, so blank separators stay below it.
      size_t at = place.end;
      while (at > place.section + 1 && Trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    } else {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(line);
    }
  }
  return WriteLines(path, lines);
}

}  // namespace plat
