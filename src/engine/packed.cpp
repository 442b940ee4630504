#include "engine/packed.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/byte_order.h"
#include "engine/file_ops.h"
#include "platform/files.h"

namespace {

constexpr uInt kInflateStep = 8196;

// Deflate cannot expand data by more than about 1032:1, so a header that claims
// more than this is a lie; refusing it keeps a tiny hostile container from
// making us allocate up to 4 GiB.
bool PlausibleSizes(uint32_t unpacked, uint32_t packed) {
  return static_cast<uint64_t>(unpacked) <= static_cast<uint64_t>(packed) * 1040 + 4096;
}

}  // namespace

int UnpackBuffer(const void* data, size_t length, unsigned char** out, uint32_t* outSize) {
  if (!data || !out || !outSize || length == 0) return UNPACK_BAD_CALL;
  *out = nullptr;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  if (length < 4 || GetLE32(bytes) != PACKED_MAGIC) return UNPACK_NOT_PACKED;
  if (length < PACKED_HEADER_SIZE) return UNPACK_BAD_CALL;
  const uint32_t unpacked = GetLE32(bytes + 4);
  const uint32_t packed = GetLE32(bytes + 8);
  if (length != static_cast<uint64_t>(packed) + PACKED_HEADER_SIZE) return UNPACK_BAD_CALL;
  if (!PlausibleSizes(unpacked, packed)) return Z_DATA_ERROR;

  unsigned char* buffer = static_cast<unsigned char*>(std::malloc(std::max<size_t>(unpacked, 1)));
  if (!buffer) return UNPACK_NO_MEMORY;

  z_stream zs{};
  int result = inflateInit(&zs);
  if (result >= 0) {
    result = 0;
    const size_t inTotal = length - PACKED_HEADER_SIZE;
    const unsigned char* in = bytes + PACKED_HEADER_SIZE;
    while (result == 0 && zs.total_out < unpacked && zs.total_in < inTotal) {
      zs.next_in = const_cast<unsigned char*>(in + zs.total_in);
      zs.avail_in = static_cast<uInt>(std::min<size_t>(kInflateStep, inTotal - zs.total_in));
      zs.next_out = buffer + zs.total_out;
      zs.avail_out = static_cast<uInt>(std::min<size_t>(kInflateStep, unpacked - zs.total_out));
      int rc = inflate(&zs, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) break;
      // A stream that wants a preset dictionary would never make progress.
      if (rc == Z_NEED_DICT) rc = Z_DATA_ERROR;
      if (rc < 0) result = rc;
    }
    // A stream that stops short of the declared size would leave the rest of
    // the buffer undefined: call it damaged data.
    if (result == 0 && zs.total_out < unpacked) result = Z_DATA_ERROR;
    int endRc = inflateEnd(&zs);
    if (result == 0 && endRc < 0) result = endRc;
  }
  if (result != 0) {
    std::free(buffer);
    return result;
  }
  *out = buffer;
  *outSize = unpacked;
  return UNPACK_OK;
}

int UnpackFile(const std::string& path, unsigned char** out, uint32_t* outSize) {
  if (!out || !outSize) return UNPACK_BAD_CALL;
  *out = nullptr;
  plat::FileHandle file = plat::OpenFile(path, plat::OpenMode::ReadExisting);
  if (file == plat::kInvalidFile) return UNPACK_CANNOT_READ;

  plat::FileStatus status;
  if (!plat::GetFileStatus(path, &status)) {
    uint32_t err = plat::LastError();
    plat::CloseFile(file);
    plat::SetLastError(err);
    return UNPACK_CANNOT_READ;
  }
  // The header decides before the whole file is read, so a large file that is
  // not a container (or not one of this size) is never loaded into memory.
  unsigned char header[PACKED_HEADER_SIZE];
  const size_t headerSize = static_cast<size_t>(std::min<uint64_t>(status.size, PACKED_HEADER_SIZE));
  int result;
  if (!ReadExactly(file, header, headerSize)) {
    result = UNPACK_CANNOT_READ;
  } else if (status.size == 0) {
    result = UNPACK_BAD_CALL;
  } else if (headerSize < 4 || GetLE32(header) != PACKED_MAGIC) {
    result = UNPACK_NOT_PACKED;
  } else if (headerSize < PACKED_HEADER_SIZE ||
             status.size != static_cast<uint64_t>(GetLE32(header + 8)) + PACKED_HEADER_SIZE) {
    result = UNPACK_BAD_CALL;
  } else {
    const size_t size = static_cast<size_t>(status.size);
    unsigned char* whole = static_cast<unsigned char*>(std::malloc(size));
    if (!whole) {
      result = UNPACK_NO_MEMORY;
    } else {
      std::memcpy(whole, header, PACKED_HEADER_SIZE);
      result = ReadExactly(file, whole + PACKED_HEADER_SIZE, size - PACKED_HEADER_SIZE)
                   ? UnpackBuffer(whole, size, out, outSize)
                   : UNPACK_CANNOT_READ;
      std::free(whole);
    }
  }
  uint32_t err = plat::LastError();
  plat::CloseFile(file);
  plat::SetLastError(err);
  return result;
}

void FreeUnpacked(unsigned char* buffer) { std::free(buffer); }

std::vector<unsigned char> PackBuffer(const void* data, size_t length, int level) {
  uLong bound = compressBound(static_cast<uLong>(length));
  std::vector<unsigned char> out(PACKED_HEADER_SIZE + bound);
  uLongf packed = bound;
  int rc = compress2(out.data() + PACKED_HEADER_SIZE, &packed, static_cast<const Bytef*>(data),
                     static_cast<uLong>(length), level);
  if (rc != Z_OK) throw std::bad_alloc();
  PutLE32(out.data(), PACKED_MAGIC);
  PutLE32(out.data() + 4, static_cast<uint32_t>(length));
  PutLE32(out.data() + 8, static_cast<uint32_t>(packed));
  out.resize(PACKED_HEADER_SIZE + packed);
  return out;
}
