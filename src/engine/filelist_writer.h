// Writing file-list data: the publisher's side of ParseFileList. Records are
// given as the engine reads them back, and the block can be packed into the
// container the starter expects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/filelist.h"  // UnsafeNameIn, for checking files before they are added
#include "engine/records.h"

// Appends a compact integer: one byte below 255, else FF + u16 below 65535,
// else FF FF FF + u32.
void AppendCompact(std::vector<unsigned char>& out, uint32_t value);
// Appends a compact length and the bytes.
void AppendCountedString(std::vector<unsigned char>& out, const std::string& text);

class CFileListWriter {
 public:
  CFileListWriter(uint32_t leadNumber, std::string baseUrl, std::string installerName);

  // Adds one target file with at least one and at most 63 parts, names of at
  // most 259 bytes. A single part that carries the file's own flags, CRC and
  // size is written in the short form. Throws std::invalid_argument otherwise.
  void AddFile(const CCheckFile& file);

  // The unpacked file-list data.
  std::vector<unsigned char> Build() const;
  // The same, in the packed container.
  std::vector<unsigned char> BuildPacked() const;

  size_t FileCount() const { return m_nCount; }

 private:
  uint32_t m_nLeadNumber;
  std::string m_strBaseUrl;
  std::string m_strInstallerName;
  uint32_t m_nCount = 0;
  std::vector<unsigned char> m_records;
};
