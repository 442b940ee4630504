// A stored password comes from a file anyone can edit: decoding any text must
// be safe, and whatever is encoded must decode to itself.
#include "settings/password.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string plain;
  if (DecodePassword(input, kPasswordKey, plain) && plain.size() + 4 > (input.size() + 1) * 3 / 4 + 1) std::abort();

  const std::string password = input.c_str();  // a password never holds a NUL
  std::string text;
  const uint32_t seed = size >= 4 ? uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                                        uint32_t(data[3]) << 24
                                  : 0;
  if (EncodePasswordWithSeed(password, kPasswordKey, seed, text) != !password.empty()) std::abort();
  if (!password.empty() && (!DecodePassword(text, kPasswordKey, plain) || plain != password + '\0')) std::abort();
  return 0;
}
