#include "png.h"

#include <zlib.h>

#include <cstdio>

namespace e2e {
namespace {

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  // The chunk CRC covers the type and the data, not the length.
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
  PutBe32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
  const uint64_t rowBytes = uint64_t{width} * 3;
  if (width == 0 || height == 0 || rowBytes * height != rgb.size() || rgb.size() > 0x40000000u)
    return {};

  // Each scan line starts with its filter type; 0 (none) keeps this simple.
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>((rowBytes + 1) * height));
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    const auto row = rgb.begin() + static_cast<ptrdiff_t>(rowBytes * y);
    raw.insert(raw.end(), row, row + static_cast<ptrdiff_t>(rowBytes));
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
    return {};
  packed.resize(packedSize);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit depth, RGB, deflate, no filter set, no interlace
  PutChunk(png, "IHDR", ihdr);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", {});
  return png;
}

bool WritePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgb) {
  const std::vector<uint8_t> png = EncodePng(width, height, rgb);
  if (png.empty()) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace e2e
