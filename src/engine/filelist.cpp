#include "engine/filelist.h"

#include <array>
#include <cstring>
#include <new>
#include <unordered_set>

#include "platform/mbcs.h"
#include "engine/byte_order.h"
#include "engine/checker_core.h"

bool CListReader::Take(size_t n, const unsigned char** p) {
  if (m_length - m_pos < n) return false;
  *p = m_data + m_pos;
  m_pos += n;
  return true;
}

bool CListReader::ReadU8(uint8_t* v) {
  const unsigned char* p;
  if (!Take(1, &p)) return false;
  *v = *p;
  return true;
}

bool CListReader::ReadU32(uint32_t* v) {
  const unsigned char* p;
  if (!Take(4, &p)) return false;
  *v = GetLE32(p);
  return true;
}

bool CListReader::ReadU64(uint64_t* v) {
  const unsigned char* p;
  if (!Take(8, &p)) return false;
  *v = GetLE64(p);
  return true;
}

bool CListReader::ReadCompact(uint32_t* v) {
  const unsigned char* p;
  if (!Take(1, &p)) return false;
  if (*p != 0xFF) {
    *v = *p;
    return true;
  }
  if (!Take(2, &p)) return false;
  uint16_t v16 = GetLE16(p);
  if (v16 != 0xFFFF) {
    *v = v16;
    return true;
  }
  return ReadU32(v);
}

bool CListReader::ReadText(uint32_t length, std::string* text) {
  if (length == 0) {
    text->clear();
    return true;
  }
  const unsigned char* p;
  if (!Take(length, &p)) return false;
  const void* nul = std::memchr(p, 0, length);
  size_t used = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - p) : length;
  text->assign(reinterpret_cast<const char*>(p), used);
  return true;
}

bool CListReader::ReadCountedString(std::string* text) {
  uint32_t length;
  return ReadCompact(&length) && ReadText(length, text);
}

std::string DeriveLocalName(const std::string& base, const std::string& remoteName) {
  std::string whole = base + remoteName;
  size_t slash = mbcs::FindLastChar(whole, '/');
  return slash == std::string::npos ? whole : whole.substr(slash + 1);
}

namespace {

bool IsReservedDevice(std::string_view component) {
  // The device name is the part before the first dot, with trailing blanks
  // ignored: "con", "CON.txt" and "Com1 .log" all name devices.
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kFixed = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kFixed)
    if (mbcs::ICompare(stem, name) == 0) return true;
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9' &&
      (mbcs::ICompare(stem.substr(0, 3), "COM") == 0 || mbcs::ICompare(stem.substr(0, 3), "LPT") == 0))
    return true;
  return false;
}

bool IsSafeComponent(std::string_view component) {
  if (component.empty() || component == "." || component == "..") return false;
  size_t lastChar = 0;
  for (size_t i = 0; i < component.size(); i = mbcs::CharNext(component, i)) {
    lastChar = i;
    if (mbcs::CharLength(component, i) == 2) continue;
    unsigned char c = static_cast<unsigned char>(component[i]);
    if (c < 0x20 || c == 0x7F || std::strchr(":<>\"|?*", c)) return false;
    // A lead byte without its trail byte would pair with whatever follows.
    if (mbcs::IsLeadByte(c)) return false;
  }
  // Windows drops a trailing dot or blank, so "a." would name the file "a".
  if (mbcs::CharLength(component, lastChar) == 1 && (component[lastChar] == '.' || component[lastChar] == ' '))
    return false;
  return !IsReservedDevice(component);
}

}  // namespace

bool IsSafeRelativePath(std::string_view name) {
  // Leading separators (rooted, UNC, "\\?\") give an empty first component;
  // a drive ("C:", "C:x") is caught by ':'.
  size_t start = 0;
  while (true) {
    size_t sep = mbcs::FindSeparator(name, start);
    if (!IsSafeComponent(name.substr(start, sep == std::string_view::npos ? name.npos : sep - start)))
      return false;
    if (sep == std::string_view::npos) return true;
    start = sep + 1;
  }
}

bool IsSafeFileName(std::string_view name) {
  return mbcs::FindSeparator(name) == std::string_view::npos && IsSafeRelativePath(name);
}

std::string UnsafeNameIn(const std::string& baseUrl, const CCheckFile& file) {
  if (!IsSafeRelativePath(file.m_strName)) return "unsafe target name: " + file.m_strName;
  std::unordered_set<std::string> locals;
  for (const CDLFileInfo& part : file.m_aParts) {
    const std::string local = DeriveLocalName(baseUrl, part.m_strRemoteName);
    if (!IsSafeFileName(local)) return "unsafe local part name \"" + local + "\" of " + file.m_strName;
    // Two parts in one place: the second download would replace the first.
    if (!locals.insert(mbcs::PathKey(local)).second)
      return "two parts of " + file.m_strName + " named \"" + local + "\"";
  }
  return std::string();
}

int CCheckerCore::ReadParts(CListReader& in, uint8_t flags, CCheckFile& file) {
  const unsigned partCount = flags & 0x3F;
  uint32_t nameLength;
  if (partCount == 0) {
    // A single part that takes its flags, CRC and size from the file.
    file.m_aParts.resize(1);
    CDLFileInfo& part = file.m_aParts[0];
    part.m_wFlags = file.m_wFlags;
    part.m_dwCrc = file.m_dwCrc;
    part.m_dwSize = file.m_dwSize;
    if (!in.ReadU32(&part.m_dwPackedCrc) || !in.ReadCompact(&part.m_dwPackedSize) || !in.ReadCompact(&nameLength))
      return PARSE_UNREADABLE;
    if (nameLength > MAX_LIST_NAME) return PARSE_BAD_NAME;
    if (!in.ReadText(nameLength, &part.m_strRemoteName)) return PARSE_UNREADABLE;
    return 0;
  }
  // Every promised entry must be there: a list cut short is not a shorter list.
  file.m_aParts.resize(partCount);
  for (unsigned j = 0; j < partCount; ++j) {
    CDLFileInfo& part = file.m_aParts[j];
    uint8_t partFlags;
    if (!in.ReadU8(&partFlags) || !in.ReadU32(&part.m_dwCrc) || !in.ReadCompact(&part.m_dwSize) ||
        !in.ReadU32(&part.m_dwPackedCrc) || !in.ReadCompact(&part.m_dwPackedSize) || !in.ReadCompact(&nameLength))
      return PARSE_UNREADABLE;
    part.m_wFlags = (partFlags & 0x40) ? FILE_FLAG_RAW : 0;
    if (nameLength > MAX_LIST_NAME) return PARSE_BAD_NAME;
    if (!in.ReadText(nameLength, &part.m_strRemoteName)) return PARSE_UNREADABLE;
  }
  return 0;
}

int CCheckerCore::ParseFileList(const void* data, size_t length) {
  CListReader in(static_cast<const unsigned char*>(data), data ? length : 0);
  try {
    uint32_t leadNumber, recordCount;
    if (!in.ReadCompact(&leadNumber) || !in.ReadCountedString(&m_strBaseUrl) ||
        !in.ReadCountedString(&m_strInstallerName) || !in.ReadCompact(&recordCount))
      return PARSE_UNREADABLE;
    m_nLeadNumber = static_cast<int>(leadNumber);
    // The installer is launched from the image folder: it must lie inside it.
    if (!m_strInstallerName.empty() && !IsSafeRelativePath(m_strInstallerName)) return PARSE_BAD_NAME;

    // Every promised record must be there: data cut off after k records
    // would otherwise pass for a list of k files.
    std::unordered_set<std::string> targets;
    for (uint32_t i = 0; i < recordCount; ++i) {
      uint8_t flags;
      uint32_t crc, size, nameLength;
      uint64_t creation, lastWrite;
      std::string name;
      if (!in.ReadU8(&flags) || !in.ReadU32(&crc) || !in.ReadCompact(&size) || !in.ReadU64(&creation) ||
          !in.ReadU64(&lastWrite) || !in.ReadCompact(&nameLength))
        return PARSE_UNREADABLE;
      if (nameLength > MAX_LIST_NAME) return PARSE_BAD_NAME;
      if (!in.ReadText(nameLength, &name)) return PARSE_UNREADABLE;

      std::unique_ptr<CCheckFile> file(new (std::nothrow) CCheckFile);
      if (!file) return PARSE_NO_RECORD;
      file->m_strName = std::move(name);
      file->m_dwCrc = crc;
      file->m_dwSize = size;
      file->m_ftCreation = creation;
      file->m_ftLastWrite = lastWrite;
      file->m_wFlags = (flags & 0x40) ? FILE_FLAG_RAW : 0;

      int result = ReadParts(in, flags, *file);
      // Every name is joined to a folder the user chose; one that could leave
      // it stops the run before anything is written.
      if (result == 0 && !UnsafeNameIn(m_strBaseUrl, *file).empty()) result = PARSE_BAD_NAME;
      // Two records for one file on Windows: one would overwrite the other,
      // and the check could never be satisfied.
      if (result == 0 && !targets.insert(mbcs::PathKey(file->m_strName)).second) result = PARSE_BAD_NAME;
      m_listFiles.push_back(std::move(file));
      if (result != 0) return result;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return PARSE_NO_RECORD;
  }
}
