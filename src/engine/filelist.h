// Reading the file-list data: the byte reader with its compact integers and
// counted strings, the local name of a part, and the safety rules for names
// that come from the server. ParseFileList itself is a member of CCheckerCore.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Results of ParseFileList.
inline constexpr int PARSE_NO_RECORD = -183;  // a record could not be created
inline constexpr int PARSE_BAD_NAME = -184;   // a name too long or unsafe
inline constexpr int PARSE_UNREADABLE = -185; // the header or a field cannot be read

// Longest name, remote name or local name the list may carry (MAX_PATH - 1).
inline constexpr uint32_t MAX_LIST_NAME = 259;

// A read-only cursor over the list data. Every read fails (returns false)
// rather than reading past the end.
class CListReader {
 public:
  CListReader(const unsigned char* data, size_t length) : m_data(data), m_length(length) {}

  bool ReadU8(uint8_t* v);
  bool ReadU32(uint32_t* v);
  bool ReadU64(uint64_t* v);
  // One byte; 0xFF: a u16 follows; 0xFFFF: a u32 follows.
  bool ReadCompact(uint32_t* v);
  // length bytes; the text ends at the first NUL inside.
  bool ReadText(uint32_t length, std::string* text);
  // A compact length and that many bytes.
  bool ReadCountedString(std::string* text);

  size_t Position() const { return m_pos; }
  bool AtEnd() const { return m_pos >= m_length; }

 private:
  bool Take(size_t n, const unsigned char** p);
  const unsigned char* m_data;
  size_t m_length;
  size_t m_pos = 0;
};

// The text behind the last '/' of base + remote name (the whole text when it
// has no '/').
std::string DeriveLocalName(const std::string& base, const std::string& remoteName);

// Names from the server must stay inside the folder they are joined to: no
// absolute or drive path, no "." or ".." component, no empty component, no
// ':' < > " | ? * or control character, no component ending in '.' or ' ',
// no reserved device name. '/' and '\' both separate components.
bool IsSafeRelativePath(std::string_view name);
// The same, and a single component (a file name in the download folder).
bool IsSafeFileName(std::string_view name);

struct CCheckFile;
// What the starter refuses in a file's names (the target name, or a part's
// local name made from baseUrl and its remote name), or an empty text when
// they are all safe.
std::string UnsafeNameIn(const std::string& baseUrl, const CCheckFile& file);
