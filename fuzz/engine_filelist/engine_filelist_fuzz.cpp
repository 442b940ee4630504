// Feeds arbitrary bytes through the loader's path: unpack when it is a
// container, then parse. Any input must end in a result code, never a crash,
// an overrun or an allocation far beyond the input.
#include <cstddef>
#include <cstdint>

#include "engine/checker_core.h"
#include "engine/filelist.h"
#include "engine/packed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CCheckerCore engine;
  unsigned char* unpacked = nullptr;
  uint32_t unpackedSize = 0;
  int rc = UnpackBuffer(data, size, &unpacked, &unpackedSize);
  if (rc == UNPACK_OK) {
    engine.ParseFileList(unpacked, unpackedSize);
    FreeUnpacked(unpacked);
  } else {
    engine.ParseFileList(data, size);
  }
  // Whatever was parsed must satisfy the rules every later step relies on.
  for (const auto& file : engine.m_listFiles) {
    if (file->m_aParts.empty() || file->m_aParts.size() > 63) __builtin_trap();
    if (file->m_strName.size() > MAX_LIST_NAME) __builtin_trap();
  }
  return 0;
}
