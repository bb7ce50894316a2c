#include "png.h"

#include <algorithm>
#include <array>

namespace imageio {

namespace {

constexpr size_t kStoredBlockLimit = 65535;  // largest payload of a stored deflate block

void appendBigEndian32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void appendChunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &payload) {
    appendBigEndian32(out, static_cast<uint32_t>(payload.size()));
    const size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), payload.begin(), payload.end());
    appendBigEndian32(out, crc32(out.data() + typeStart, out.size() - typeStart));
}

}  // namespace

uint32_t crc32(const uint8_t *data, size_t size, uint32_t crc) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32(const uint8_t *data, size_t size) {
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> encodePng(const GrayImage &image) {
    // Scanlines, each preceded by filter type 0 (none).
    std::vector<uint8_t> scanlines;
    scanlines.reserve(static_cast<size_t>(image.height) * (static_cast<size_t>(image.width) + 1));
    for (int y = 0; y < image.height; ++y) {
        scanlines.push_back(0);
        const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(y) * image.width;
        scanlines.insert(scanlines.end(), row, row + image.width);
    }

    std::vector<uint8_t> zlib = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t length = std::min(kStoredBlockLimit, scanlines.size() - pos);
        const bool last = pos + length == scanlines.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(length));
        zlib.push_back(static_cast<uint8_t>(length >> 8));
        zlib.push_back(static_cast<uint8_t>(~length));
        zlib.push_back(static_cast<uint8_t>(~length >> 8));
        zlib.insert(zlib.end(), scanlines.begin() + static_cast<std::ptrdiff_t>(pos),
                    scanlines.begin() + static_cast<std::ptrdiff_t>(pos + length));
        pos += length;
    } while (pos < scanlines.size());
    appendBigEndian32(zlib, adler32(scanlines.data(), scanlines.size()));

    std::vector<uint8_t> header;
    appendBigEndian32(header, static_cast<uint32_t>(image.width));
    appendBigEndian32(header, static_cast<uint32_t>(image.height));
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey, deflate, adaptive filters, no interlace

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    appendChunk(out, "IHDR", header);
    appendChunk(out, "IDAT", zlib);
    appendChunk(out, "IEND", {});
    return out;
}

bool writePng(const std::string &path, const GrayImage &image) {
    const std::vector<uint8_t> bytes = encodePng(image);
    return writeFile(path, bytes.data(), bytes.size());
}

}  // namespace imageio
