// Value codecs of record bodies.
#include <gtest/gtest.h>

#include <vector>

#include "net/codec.h"
#include "net/core.h"
#include "net_test_util.h"

namespace {

using nettest::Bytes;

TEST(Codec, LengthPrefix) {
  struct {
    const char* what;
    std::vector<unsigned char> in;
    int available;
    int expect;
    uint32_t high, low;
  } cases[] = {
      {"one byte", Bytes({252}), 1, 1, 0, 252},
      {"five bytes", Bytes({253, 0, 0, 1, 0}), 5, 5, 0, 256},
      {"nine bytes", Bytes({254, 0, 0, 0, 0, 0, 0, 0, 5}), 9, 9, 0, 5},
      {"nine bytes, high word", Bytes({254, 0, 0, 0, 1, 0, 0, 0, 0}), 9, 9, 1, 0},
      {"253 with four bytes", Bytes({253, 0, 0, 1}), 4, NET_ERR_TRUNCATED, 7, 7},
      {"254 with eight bytes", Bytes({254, 0, 0, 0, 0, 0, 0, 0}), 8, NET_ERR_TRUNCATED, 7, 7},
      {"nothing", Bytes({0}), 0, NET_ERR_TRUNCATED, 7, 7},
      {"255", Bytes({255, 1, 2, 3, 4}), 5, NET_ERR_BAD_PREFIX, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t high = 7, low = 7;
    EXPECT_EQ(c.expect, net_read_length_prefix(c.in.data(), c.available, &high, &low)) << c.what;
    EXPECT_EQ(c.high, high) << c.what;
    EXPECT_EQ(c.low, low) << c.what;
    EXPECT_EQ(c.expect < 0 ? c.expect : 0, net_last_error()) << c.what;
  }
}

TEST(Codec, CountedBytes) {
  struct {
    const char* what;
    std::vector<unsigned char> in;
    int index;
    int capacity;
    int expect;
    std::vector<unsigned char> out;
  } cases[] = {
      {"empty string", Bytes({9, 0}), 1, 4, 2, {}},
      {"capacity equal", Bytes({3, 'a', 'b', 'c'}), 0, 3, 4, Bytes({'a', 'b', 'c'})},
      {"capacity one less", Bytes({3, 'a', 'b', 'c'}), 0, 2, NET_ERR_NOROOM, {}},
      {"nine-byte prefix", Bytes({254, 0, 0, 0, 0, 0, 0, 0, 2, 'x', 'y'}), 0, 8, 11, Bytes({'x', 'y'})},
      {"high word set", Bytes({254, 0, 0, 0, 1, 0, 0, 0, 0}), 0, 8, NET_ERR_BAD_PREFIX, {}},
      {"body cut short", Bytes({4, 'a', 'b', 'c'}), 0, 8, NET_ERR_TRUNCATED, {}},
      {"huge 5-byte length", Bytes({253, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), 0, 8, NET_ERR_TRUNCATED, {}},
      {"index at end", Bytes({1, 'a'}), 2, 8, NET_ERR_TRUNCATED, {}},
      {"index past end", Bytes({1, 'a'}), 5, 8, NET_ERR_TRUNCATED, {}},
      {"negative index", Bytes({1, 'a'}), -1, 8, NET_ERR_TRUNCATED, {}},
      {"negative capacity", Bytes({1, 'a'}), 0, -1, NET_ERR_NOROOM, {}},
      {"invalid prefix", Bytes({255}), 0, 8, NET_ERR_BAD_PREFIX, {}},
  };
  for (const auto& c : cases) {
    unsigned char out[16] = {};
    int32_t cap = c.capacity;
    int r = net_read_counted_bytes(c.in.data(), static_cast<int32_t>(c.in.size()), c.index, out, &cap);
    EXPECT_EQ(c.expect, r) << c.what;
    if (r >= 0) {
      EXPECT_EQ(static_cast<int32_t>(c.out.size()), cap) << c.what;
      EXPECT_EQ(c.out, std::vector<unsigned char>(out, out + cap)) << c.what;
    } else {
      EXPECT_EQ(c.capacity, cap) << c.what;  // left as it was
    }
  }
}

TEST(Codec, IntegersAtTheEdges) {
  unsigned char buf[8] = {};
  EXPECT_EQ(8, net_write_u32(buf, 4, 8, 0x0102A0FFu));
  EXPECT_EQ(Bytes({0, 0, 0, 0, 1, 2, 0xA0, 0xFF}), std::vector<unsigned char>(buf, buf + 8));
  EXPECT_EQ(NET_ERR_NOROOM, net_write_u32(buf, 5, 8, 1));
  EXPECT_EQ(NET_ERR_NOROOM, net_write_u32(buf, 0x7FFFFFFE, 0x7FFFFFFF, 1));
  EXPECT_EQ(NET_ERR_NOROOM, net_write_u32(buf, -1, 8, 1));

  uint32_t v = 7;
  EXPECT_EQ(8, net_read_u32(buf, 8, 4, &v));
  EXPECT_EQ(0x0102A0FFu, v);  // taken as the 32 bits they are
  v = 7;
  EXPECT_EQ(NET_ERR_NOROOM, net_read_u32(buf, 8, 5, &v));
  EXPECT_EQ(NET_ERR_NOROOM, net_read_u32(buf, 3, 0, &v));
  EXPECT_EQ(NET_ERR_NOROOM, net_read_u32(buf, 8, -2, &v));
  EXPECT_EQ(7u, v);

  unsigned char b = 9;
  EXPECT_EQ(8, net_read_u8(buf, 8, 7, &b));
  EXPECT_EQ(0xFF, b);
  b = 9;
  EXPECT_EQ(NET_ERR_NOROOM, net_read_u8(buf, 8, 8, &b));
  EXPECT_EQ(NET_ERR_NOROOM, net_read_u8(buf, 8, -1, &b));
  EXPECT_EQ(9, b);
  EXPECT_EQ(NET_ERR_NOROOM, net_last_error());
}

TEST(Codec, PrefixWriterRoundTrips) {
  const uint64_t values[] = {0, 252, 253, 65536, 0xFFFFFFFFull, 0x100000000ull};
  for (uint64_t v : values) {
    unsigned char buf[9];
    int n = net_write_length_prefix(buf, 0, 9, v);
    ASSERT_GT(n, 0);
    uint32_t high = 0, low = 0;
    EXPECT_EQ(n, net_read_length_prefix(buf, n, &high, &low));
    EXPECT_EQ(v, (static_cast<uint64_t>(high) << 32) | low);
  }
  unsigned char small[4];
  EXPECT_EQ(NET_ERR_NOROOM, net_write_length_prefix(small, 0, 4, 300));
}

}  // namespace
