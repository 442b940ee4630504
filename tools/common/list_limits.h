// How much file-list data one file-information session can carry. The client
// keeps the reply in a buffer of (chunk count + 1) x 1024 bytes and silently
// drops what does not fit, the chunk count travels in one byte, and one chunk
// holds at most 8192 bytes. The publisher and the server both check a list
// against these rules, so a list one accepts the other can serve.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wren_tools {

inline constexpr size_t kMaxChunkData = 8192;
inline constexpr size_t kMaxChunkCount = 255;
inline constexpr size_t kClientBufferUnit = 1024;
// The largest list any chunk size can deliver: 255 chunks, a 256 KiB buffer.
inline constexpr size_t kMaxListBytes = (kMaxChunkCount + 1) * kClientBufferUnit;

// Number of chunks for a list of size bytes (an empty list still takes one).
inline constexpr size_t ChunkCount(size_t size, size_t chunkSize) {
  return size == 0 ? 1 : (size + chunkSize - 1) / chunkSize;
}

// True when a list of size bytes, cut into chunks of chunkSize, arrives whole.
inline constexpr bool ListFits(size_t size, size_t chunkSize) {
  if (chunkSize == 0 || chunkSize > kMaxChunkData) return false;
  const size_t count = ChunkCount(size, chunkSize);
  return count <= kMaxChunkCount && size <= (count + 1) * kClientBufferUnit;
}

// The chunk size the server uses unless told otherwise: 1024 whenever that
// works, else the smallest size that spreads the list over 255 chunks. Every
// list of at most kMaxListBytes fits with it.
inline constexpr size_t DefaultChunkSize(size_t size) {
  const size_t spread = (size + kMaxChunkCount - 1) / kMaxChunkCount;
  return spread > kClientBufferUnit ? spread : kClientBufferUnit;
}

}  // namespace wren_tools
