// Minimal grey-level image files: read binary (P5) and plain (P2) PGM, write
// binary PGM. 16-bit PGMs are scaled down to 8 bits on reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imageio {

// Row-major 8-bit image, 0 = black.
struct GrayImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    GrayImage() = default;
    GrayImage(int w, int h, uint8_t fill = 0)
        : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}
    uint8_t &at(int x, int y) { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
    uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
};

// Images larger than this on either side are refused as implausible.
constexpr int kMaxImageSide = 16384;

// Parses a PGM held in memory. On failure returns false and, when `error` is
// given, a one-line reason.
bool parsePgm(const uint8_t *data, size_t size, GrayImage &image, std::string *error = nullptr);
bool readPgm(const std::string &path, GrayImage &image, std::string *error = nullptr);

std::vector<uint8_t> encodePgm(const GrayImage &image);
bool writePgm(const std::string &path, const GrayImage &image);

// Whole-file helpers shared by the tools.
bool readFile(const std::string &path, std::vector<uint8_t> &bytes);
bool writeFile(const std::string &path, const uint8_t *bytes, size_t size);

}  // namespace imageio
