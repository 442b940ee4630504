#include "platform/random.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(PlatformRandom, FillsBuffersWithFreshBytes) {
  EXPECT_TRUE(plat::GetRandomBytes(nullptr, 0));
  // Two 32-byte draws agree with probability 2^-256; a source that hands
  // back zeros or a fixed pattern fails here.
  unsigned char a[32] = {};
  unsigned char b[32] = {};
  ASSERT_TRUE(plat::GetRandomBytes(a, sizeof a));
  ASSERT_TRUE(plat::GetRandomBytes(b, sizeof b));
  EXPECT_NE(0, std::memcmp(a, b, sizeof a));
  // A large request is filled to its end, not just its first read's worth.
  std::vector<unsigned char> big(1 << 20, 0);
  ASSERT_TRUE(plat::GetRandomBytes(big.data(), big.size()));
  size_t zeros_at_end = 0;
  for (size_t i = big.size() - 64; i < big.size(); ++i) zeros_at_end += big[i] == 0;
  EXPECT_LT(zeros_at_end, 16u);
}

}  // namespace
