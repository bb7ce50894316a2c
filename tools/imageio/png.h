// Writes an 8-bit grey image as PNG without a compression library: the image
// data go into stored (uncompressed) deflate blocks, which every viewer reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pgm.h"

namespace imageio {

std::vector<uint8_t> encodePng(const GrayImage &image);
bool writePng(const std::string &path, const GrayImage &image);

// CRC-32 (as used by PNG and zip) and Adler-32 (zlib), exposed for tests.
uint32_t crc32(const uint8_t *data, size_t size, uint32_t crc = 0);
uint32_t adler32(const uint8_t *data, size_t size);

}  // namespace imageio
