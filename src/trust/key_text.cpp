#include "trust/key_text.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::string_view kPublicPrefix = "wren-ed25519-public ";
constexpr std::string_view kPrivatePrefix = "wren-ed25519-private ";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

using Key32 = std::array<uint8_t, 32>;

std::string Format(std::string_view prefix, const Key32& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(prefix);
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  text += '\n';
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Key32> Parse(std::string_view prefix, std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  if (text.substr(0, prefix.size()) != prefix) return std::nullopt;
  text.remove_prefix(prefix.size());
  Key32 bytes;
  if (text.size() != 2 * bytes.size()) return std::nullopt;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int hi = HexValue(text[2 * i]);
    const int lo = HexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return bytes;
}

}  // namespace

std::string FormatPublicKey(const ed25519::PublicKey& key) { return Format(kPublicPrefix, key); }

std::string FormatPrivateKey(const ed25519::Seed& seed) { return Format(kPrivatePrefix, seed); }

std::optional<ed25519::PublicKey> ParsePublicKey(std::string_view text) { return Parse(kPublicPrefix, text); }

std::optional<ed25519::Seed> ParsePrivateKey(std::string_view text) { return Parse(kPrivatePrefix, text); }
