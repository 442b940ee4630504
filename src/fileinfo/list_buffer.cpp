#include "fileinfo/list_buffer.h"

#include <cstring>
#include <new>

bool CFileListBuffer::Alloc(uint32_t kilobytes) {
  Free();
  uint64_t size = static_cast<uint64_t>(kilobytes) * 1024;
  // The sizes are kept as 32-bit counts.
  if (size > UINT32_MAX) return false;
  m_pListBuffer.reset(new (std::nothrow) unsigned char[size]());
  if (!m_pListBuffer) return false;
  m_nCapacity = static_cast<uint32_t>(size);
  return true;
}

bool CFileListBuffer::Append(const void* data, uint32_t length) {
  if (!m_pListBuffer || data == nullptr) return false;
  // In 64 bits, so that a huge length cannot wrap past the check.
  if (static_cast<uint64_t>(m_nListBytes) + length > m_nCapacity) return false;
  std::memcpy(m_pListBuffer.get() + m_nListBytes, data, length);
  m_nListBytes += length;
  return true;
}

uint32_t CFileListBuffer::GetSize(bool capacity) const {
  if (capacity) return m_pListBuffer ? m_nCapacity : 0;
  return m_nListBytes;
}

void CFileListBuffer::Free() {
  m_pListBuffer.reset();
  m_nListBytes = 0;
  m_nCapacity = 0;
}
