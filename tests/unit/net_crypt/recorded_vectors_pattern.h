// The plain bytes of the recorded long chunks (recorded_vectors.h).
#pragma once

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> RecordedLongPlain(int32_t len, uint8_t seed) {
  std::vector<uint8_t> plain(static_cast<size_t>(len));
  for (int32_t i = 0; i < len; ++i) plain[size_t(i)] = uint8_t((i * 167 + seed) ^ (i >> 8));
  return plain;
}
