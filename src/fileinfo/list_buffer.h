// The block that collects the server's file list as it arrives, piece by piece.
#pragma once

#include <cstdint>
#include <memory>

class CFileListBuffer {
 public:
  // Drops any earlier block and allocates kilobytes * 1024 zero bytes; false
  // when that much memory cannot be had.
  bool Alloc(uint32_t kilobytes);
  // Appends length bytes; false (nothing copied) without a block, without data,
  // or when they do not fit into what is left of the block.
  bool Append(const void* data, uint32_t length);
  // The bytes appended so far, or (capacity) the size of the block, 0 without one.
  uint32_t GetSize(bool capacity) const;
  void Free();

  const unsigned char* Data() const { return m_pListBuffer.get(); }

 private:
  std::unique_ptr<unsigned char[]> m_pListBuffer;
  uint32_t m_nListBytes = 0;
  uint32_t m_nCapacity = 0;
};
