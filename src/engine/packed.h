// The packed container of the file-list data and of packed part files:
// magic "MWC\x1A", unpacked size, packed size (all u32 little-endian), then a
// zlib stream of exactly packed size bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t PACKED_MAGIC = 0x1A43574D;
inline constexpr size_t PACKED_HEADER_SIZE = 12;

// Results of UnpackBuffer / UnpackFile; a negative value is a zlib code.
enum : int {
  UNPACK_OK = 0,
  UNPACK_NO_MEMORY = 2,
  UNPACK_NOT_PACKED = 3,
  UNPACK_CANNOT_READ = 4,
  UNPACK_BAD_CALL = 6,
};

// Unpacks a container. On 0 the caller owns *out (FreeUnpacked) holding *outSize
// bytes; on failure *out is null.
int UnpackBuffer(const void* data, size_t length, unsigned char** out, uint32_t* outSize);
// Reads a whole file and unpacks it; 4 when the file cannot be opened, sized or read.
int UnpackFile(const std::string& path, unsigned char** out, uint32_t* outSize);
void FreeUnpacked(unsigned char* buffer);

// Packs bytes into a container at the given zlib level. Throws std::bad_alloc.
std::vector<unsigned char> PackBuffer(const void* data, size_t length, int level = 9);
