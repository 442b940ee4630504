#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// CRC-32 (the one of zip and PNG) over whole files, fed in 65536-byte reads.
// Compute continues from the running value, so two calls without Reset give
// the CRC of both files one after the other.
class CCrc32 {
 public:
  CCrc32() = default;
  virtual ~CCrc32() = default;

  void Reset() { m_dwRunning = 0xFFFFFFFFu; }
  // On failure *error holds the system's error code (0 when the buffer could
  // not be allocated); the running value keeps what was fed before.
  bool Compute(const std::string& path, uint32_t* error);
  void Update(const void* data, size_t size);
  uint32_t GetValue() const { return m_dwRunning ^ 0xFFFFFFFFu; }

  static constexpr size_t kBlockSize = 65536;

 private:
  uint32_t m_dwRunning = 0xFFFFFFFFu;
};

// Feeds every byte of a file to consume, in CCrc32::kBlockSize reads: one read
// of the file for every value taken from it. On failure *error (if given)
// holds the system's error code, 0 when the buffer could not be allocated.
bool ForEachFileBlock(const std::string& path, const std::function<void(const void*, size_t)>& consume,
                      uint32_t* error);
