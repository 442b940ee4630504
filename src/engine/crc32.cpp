#include "engine/crc32.h"

#include <zlib.h>

#include <memory>
#include <new>

#include "platform/files.h"

void CCrc32::Update(const void* data, size_t size) {
  // zlib keeps the register already inverted; feed it ours and take it back.
  const Bytef* p = static_cast<const Bytef*>(data);
  uLong crc = m_dwRunning ^ 0xFFFFFFFFu;
  while (size > 0) {
    uInt chunk = size > 0x40000000 ? 0x40000000 : static_cast<uInt>(size);
    crc = crc32(crc, p, chunk);
    p += chunk;
    size -= chunk;
  }
  m_dwRunning = static_cast<uint32_t>(crc) ^ 0xFFFFFFFFu;
}

bool CCrc32::Compute(const std::string& path, uint32_t* error) {
  return ForEachFileBlock(path, [this](const void* data, size_t size) { Update(data, size); }, error);
}

bool ForEachFileBlock(const std::string& path, const std::function<void(const void*, size_t)>& consume,
                      uint32_t* error) {
  if (error) *error = 0;
  plat::FileHandle file = plat::OpenFile(path, plat::OpenMode::ReadExisting);
  if (file == plat::kInvalidFile) {
    if (error) *error = plat::LastError();
    return false;
  }
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[CCrc32::kBlockSize]);
  if (!buffer) {
    plat::CloseFile(file);
    return false;
  }
  bool ok = true;
  for (;;) {
    size_t got = 0;
    if (!plat::ReadFile(file, buffer.get(), CCrc32::kBlockSize, &got)) {
      if (error) *error = plat::LastError();
      ok = false;
      break;
    }
    if (got == 0) break;
    consume(buffer.get(), got);
  }
  plat::CloseFile(file);
  return ok;
}
