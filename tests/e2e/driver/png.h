// Minimal PNG writer for screenshots: 8-bit RGB, no interlace, one IDAT.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// Encodes a width x height image whose rows are packed RGB triples, top row
// first. Returns an empty vector when the sizes do not match the pixel data
// or compression fails.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

// EncodePng and write the result to a file (replacing it). False on failure.
bool WritePng(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& rgb);

}  // namespace e2e
