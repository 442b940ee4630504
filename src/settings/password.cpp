#include "settings/password.h"

#include <ctime>
#include <new>

namespace {

const char kAlphabet[] = "@ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
constexpr int kInvalid = -1;

int SixBitValue(unsigned char c) {
  if (c == '@') return 0;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 1;
  if (c >= 'a' && c <= 'z') return c - 'a' + 27;
  if (c >= '0' && c <= '9') return c - '0' + 53;
  if (c == '_') return 63;
  return kInvalid;
}

// XORs the generator's low bytes over every byte after the 4-byte header.
void ApplyStream(std::string& bytes, uint32_t dwSeed) {
  M521Random random(dwSeed);
  for (size_t i = 4; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ (random.Next() & 0xFF));
}

}  // namespace

void M521Random::Init(uint32_t seed) {
  uint32_t u = 0;
  for (int i = 0; i <= 16; ++i) {
    for (int bit = 0; bit < 32; ++bit) {
      seed = seed * 1566083941u + 1;
      u = (u >> 1) | (seed & 0x80000000u);
    }
    m_dwX[i] = u;
  }
  m_dwX[16] = (m_dwX[16] << 23) ^ (m_dwX[0] >> 9) ^ m_dwX[15];
  for (int i = 17; i <= 520; ++i)
    m_dwX[i] = (m_dwX[i - 17] << 23) ^ (m_dwX[i - 16] >> 9) ^ m_dwX[i - 1];
  Refill();
  Refill();
  Refill();
  m_nIndex = 520;
}

void M521Random::Refill() {
  for (int i = 1; i < 32; ++i) m_dwX[i] ^= m_dwX[i + 489];
  for (int i = 32; i <= 520; ++i) m_dwX[i] ^= m_dwX[i - 32];
}

uint32_t M521Random::Next() {
  if (++m_nIndex >= 521) {
    Refill();
    m_nIndex = 0;
  }
  return m_dwX[m_nIndex];
}

std::string PackSixBit(const std::string& bytes) {
  std::string text;
  text.reserve((4 * bytes.size() + 2) / 3);
  auto put = [&](unsigned v) { text += kAlphabet[v & 63]; };
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned b0 = static_cast<unsigned char>(bytes[i]);
    const unsigned b1 = static_cast<unsigned char>(bytes[i + 1]);
    const unsigned b2 = static_cast<unsigned char>(bytes[i + 2]);
    put(b0 & 63);
    put((b0 >> 6) | ((b1 & 15) << 2));
    put((b1 >> 4) | ((b2 & 3) << 4));
    put(b2 >> 2);
  }
  const size_t left = bytes.size() - i;
  if (left > 0) {
    const unsigned b0 = static_cast<unsigned char>(bytes[i]);
    const unsigned b1 = left == 2 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    put(b0 & 63);
    put((b0 >> 6) | ((b1 & 15) << 2));
    if (left == 2) put(b1 >> 4);
  }
  return text;
}

std::string UnpackSixBit(const std::string& text) {
  std::string bytes;
  bytes.reserve((text.size() + 1) * 3 / 4 + 1);
  auto value = [&](size_t pos) {
    return pos < text.size() ? SixBitValue(static_cast<unsigned char>(text[pos])) : kInvalid;
  };
  for (size_t pos = 0;; pos += 4) {
    const int a = value(pos), b = value(pos + 1), c = value(pos + 2), d = value(pos + 3);
    if (a == kInvalid || b == kInvalid) break;
    bytes += static_cast<char>((a | (b << 6)) & 0xFF);
    if (c == kInvalid) break;
    bytes += static_cast<char>(((b >> 2) | (c << 4)) & 0xFF);
    if (d == kInvalid) break;
    bytes += static_cast<char>(((c >> 4) | (d << 2)) & 0xFF);
  }
  return bytes;
}

bool EncodePasswordWithSeed(const std::string& strPassword, uint32_t dwKey, uint32_t dwSeed,
                            std::string& strOut) {
  strOut.clear();
  if (strPassword.empty()) return false;
  try {
    const uint32_t header = dwSeed ^ dwKey;
    std::string bytes;
    bytes.reserve(strPassword.size() + 5);
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((header >> shift) & 0xFF);
    bytes += strPassword;
    bytes += '\0';
    ApplyStream(bytes, dwSeed);
    strOut = PackSixBit(bytes);
    return true;
  } catch (const std::bad_alloc&) {
    strOut.clear();
    return false;
  }
}

bool EncodePassword(const std::string& strPassword, uint32_t dwKey, std::string& strOut) {
  return EncodePasswordWithSeed(strPassword, dwKey, static_cast<uint32_t>(std::time(nullptr)),
                                strOut);
}

bool DecodePassword(const std::string& strText, uint32_t dwKey, std::string& strOut) {
  strOut.clear();
  if (strText.empty()) return false;
  try {
    std::string bytes = UnpackSixBit(strText);
    if (bytes.size() < 5) return false;
    uint32_t header = 0;
    for (int k = 0; k < 4; ++k) header |= uint32_t(static_cast<unsigned char>(bytes[k])) << (8 * k);
    ApplyStream(bytes, header ^ dwKey);
    strOut.assign(bytes, 4);
    return true;
  } catch (const std::bad_alloc&) {
    strOut.clear();
    return false;
  }
}
