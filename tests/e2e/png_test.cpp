#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver/png.h"

namespace {

struct Chunk {
  std::string type;
  std::vector<uint8_t> data;
  bool crcOk;
};

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Splits a PNG into its chunks, checking lengths and CRCs on the way.
std::vector<Chunk> ReadChunks(const std::vector<uint8_t>& png) {
  std::vector<Chunk> out;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = Be32(&png[at]);
    if (at + 12 + length > png.size()) break;
    Chunk c;
    c.type.assign(reinterpret_cast<const char*>(&png[at + 4]), 4);
    c.data.assign(png.begin() + static_cast<ptrdiff_t>(at + 8), png.begin() + static_cast<ptrdiff_t>(at + 8 + length));
    c.crcOk = crc32(crc32(0, Z_NULL, 0), &png[at + 4], length + 4) == Be32(&png[at + 8 + length]);
    out.push_back(c);
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size()) << "trailing bytes after the last chunk";
  return out;
}

TEST(Png, WritesAnImageThatDecodesToTheSamePixels) {
  // 3 x 2 pixels with distinct values, so a swapped row or channel shows.
  const std::vector<uint8_t> rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  const std::vector<uint8_t> png = e2e::EncodePng(3, 2, rgb);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
            (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));

  const std::vector<Chunk> chunks = ReadChunks(png);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[1].type, "IDAT");
  EXPECT_EQ(chunks[2].type, "IEND");
  for (const Chunk& c : chunks) EXPECT_TRUE(c.crcOk) << c.type;

  const std::vector<uint8_t> ihdr = chunks[0].data;
  ASSERT_EQ(ihdr.size(), 13u);
  EXPECT_EQ(Be32(&ihdr[0]), 3u);
  EXPECT_EQ(Be32(&ihdr[4]), 2u);
  EXPECT_EQ(std::vector<uint8_t>(ihdr.begin() + 8, ihdr.end()), (std::vector<uint8_t>{8, 2, 0, 0, 0}));

  // Each row: filter byte 0, then the row's RGB triples.
  std::vector<uint8_t> raw(64);
  uLongf rawSize = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &rawSize, chunks[1].data.data(), static_cast<uLong>(chunks[1].data.size())),
            Z_OK);
  raw.resize(rawSize);
  EXPECT_EQ(raw, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
}

TEST(Png, RefusesPixelDataThatDoesNotMatchTheSize) {
  struct Case {
    uint32_t width, height;
    size_t bytes;
  };
  const Case cases[] = {
      {0, 1, 0},       // no columns
      {1, 0, 0},       // no rows
      {2, 2, 11},      // one byte short
      {2, 2, 13},      // one byte over
      {0x80000000u, 2, 6},  // width * 3 * height overflows 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " with " << c.bytes << " bytes");
    EXPECT_TRUE(e2e::EncodePng(c.width, c.height, std::vector<uint8_t>(c.bytes)).empty());
  }
}

}  // namespace
