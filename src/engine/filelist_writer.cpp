#include "engine/filelist_writer.h"

#include <stdexcept>

#include "engine/byte_order.h"
#include "engine/filelist.h"
#include "engine/packed.h"

namespace {

constexpr unsigned kMaxParts = 63;

void AppendU8(std::vector<unsigned char>& out, uint8_t v) { out.push_back(v); }

void AppendU32(std::vector<unsigned char>& out, uint32_t v) {
  unsigned char b[4];
  PutLE32(b, v);
  out.insert(out.end(), b, b + 4);
}

void AppendU64(std::vector<unsigned char>& out, uint64_t v) {
  unsigned char b[8];
  PutLE64(b, v);
  out.insert(out.end(), b, b + 8);
}

void AppendName(std::vector<unsigned char>& out, const std::string& name) {
  if (name.size() > MAX_LIST_NAME) throw std::invalid_argument("name longer than 259 bytes: " + name);
  AppendCountedString(out, name);
}

uint8_t RawBit(uint16_t flags) { return (flags & FILE_FLAG_RAW) ? 0x40 : 0; }

}  // namespace

void AppendCompact(std::vector<unsigned char>& out, uint32_t value) {
  if (value < 0xFF) {
    out.push_back(static_cast<unsigned char>(value));
    return;
  }
  out.push_back(0xFF);
  unsigned char b[2];
  if (value < 0xFFFF) {
    PutLE16(b, static_cast<uint16_t>(value));
    out.insert(out.end(), b, b + 2);
    return;
  }
  PutLE16(b, 0xFFFF);
  out.insert(out.end(), b, b + 2);
  AppendU32(out, value);
}

void AppendCountedString(std::vector<unsigned char>& out, const std::string& text) {
  AppendCompact(out, static_cast<uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

CFileListWriter::CFileListWriter(uint32_t leadNumber, std::string baseUrl, std::string installerName)
    : m_nLeadNumber(leadNumber), m_strBaseUrl(std::move(baseUrl)), m_strInstallerName(std::move(installerName)) {}

void CFileListWriter::AddFile(const CCheckFile& file) {
  const size_t partCount = file.m_aParts.size();
  if (partCount == 0 || partCount > kMaxParts) throw std::invalid_argument("a file needs 1 to 63 parts: " + file.m_strName);
  const CDLFileInfo& first = file.m_aParts[0];
  const bool shortForm = partCount == 1 && first.m_dwCrc == file.m_dwCrc && first.m_dwSize == file.m_dwSize &&
                         RawBit(first.m_wFlags) == RawBit(file.m_wFlags);

  std::vector<unsigned char> record;
  AppendU8(record, static_cast<uint8_t>(RawBit(file.m_wFlags) | (shortForm ? 0 : partCount)));
  AppendU32(record, file.m_dwCrc);
  AppendCompact(record, file.m_dwSize);
  AppendU64(record, file.m_ftCreation);
  AppendU64(record, file.m_ftLastWrite);
  AppendName(record, file.m_strName);
  if (shortForm) {
    AppendU32(record, first.m_dwPackedCrc);
    AppendCompact(record, first.m_dwPackedSize);
    AppendName(record, first.m_strRemoteName);
  } else {
    for (const CDLFileInfo& part : file.m_aParts) {
      AppendU8(record, RawBit(part.m_wFlags));
      AppendU32(record, part.m_dwCrc);
      AppendCompact(record, part.m_dwSize);
      AppendU32(record, part.m_dwPackedCrc);
      AppendCompact(record, part.m_dwPackedSize);
      AppendName(record, part.m_strRemoteName);
    }
  }
  m_records.insert(m_records.end(), record.begin(), record.end());
  ++m_nCount;
}

std::vector<unsigned char> CFileListWriter::Build() const {
  std::vector<unsigned char> out;
  AppendCompact(out, m_nLeadNumber);
  AppendCountedString(out, m_strBaseUrl);
  AppendCountedString(out, m_strInstallerName);
  AppendCompact(out, m_nCount);
  out.insert(out.end(), m_records.begin(), m_records.end());
  return out;
}

std::vector<unsigned char> CFileListWriter::BuildPacked() const {
  const std::vector<unsigned char> data = Build();
  return PackBuffer(data.data(), data.size());
}
