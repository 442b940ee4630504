// Stored-password encoding: the proxy password is kept in the settings file as
// text that does not show it. A time-seeded pseudo-random stream is XORed over
// the password; a 4-byte header (seed XOR key) lets the reader rebuild the
// stream; the bytes are packed six bits per character.
#pragma once

#include <cstdint>
#include <string>

// The fixed key of the settings file; both directions must use the same one.
inline constexpr uint32_t kPasswordKey = 19971123;

// Lagged-XOR generator over 521 words. Refill deliberately leaves x[0] out of
// its first loop: texts already stored depend on exactly this stream.
class M521Random {
 public:
  explicit M521Random(uint32_t seed) { Init(seed); }
  void Init(uint32_t seed);
  uint32_t Next();

 private:
  void Refill();

  int m_nIndex = 0;
  uint32_t m_dwX[521] = {};
};

// Fails (false, out emptied) for an empty password or when memory runs out.
bool EncodePassword(const std::string& strPassword, uint32_t dwKey, std::string& strOut);
// The same with a given seed instead of the current time.
bool EncodePasswordWithSeed(const std::string& strPassword, uint32_t dwKey, uint32_t dwSeed,
                            std::string& strOut);
// Out receives every byte after the header (for an encoded password: the
// password and its own NUL), so out.c_str() is the password. Fails for an
// empty text, one that unpacks to fewer than 5 bytes, or when memory runs out.
bool DecodePassword(const std::string& strText, uint32_t dwKey, std::string& strOut);

// The six-bit text packing, exposed for tests.
std::string PackSixBit(const std::string& bytes);
// Stops at the first character outside the alphabet (or a missing one).
std::string UnpackSixBit(const std::string& text);
