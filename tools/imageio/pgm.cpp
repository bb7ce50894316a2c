#include "pgm.h"

#include <cstdio>
#include <memory>

namespace imageio {

namespace {

bool fail(std::string *error, const char *reason) {
    if (error != nullptr) *error = reason;
    return false;
}

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Reads the next header or plain-format number, skipping white space and
// '#' comments. Values above `limit` are refused.
bool nextNumber(const uint8_t *data, size_t size, size_t &pos, long limit, long &value) {
    for (;;) {
        while (pos < size && isSpace(data[pos])) ++pos;
        if (pos < size && data[pos] == '#') {
            while (pos < size && data[pos] != '\n') ++pos;
            continue;
        }
        break;
    }
    if (pos >= size || data[pos] < '0' || data[pos] > '9') return false;
    value = 0;
    while (pos < size && data[pos] >= '0' && data[pos] <= '9') {
        value = value * 10 + (data[pos] - '0');
        if (value > limit) return false;
        ++pos;
    }
    return true;
}

uint8_t scaleTo8Bit(long value, long maxValue) {
    if (maxValue == 255) return static_cast<uint8_t>(value);
    return static_cast<uint8_t>((value * 255 + maxValue / 2) / maxValue);
}

}  // namespace

bool parsePgm(const uint8_t *data, size_t size, GrayImage &image, std::string *error) {
    if (data == nullptr || size < 2 || data[0] != 'P' || (data[1] != '5' && data[1] != '2'))
        return fail(error, "not a PGM file (no P5 or P2 signature)");
    const bool binary = data[1] == '5';
    size_t pos = 2;
    long width = 0, height = 0, maxValue = 0;
    if (!nextNumber(data, size, pos, kMaxImageSide, width) || !nextNumber(data, size, pos, kMaxImageSide, height) ||
        !nextNumber(data, size, pos, 65535, maxValue))
        return fail(error, "malformed PGM header");
    if (width < 1 || height < 1) return fail(error, "PGM image has no pixels");
    if (maxValue < 1) return fail(error, "PGM maximum value must be positive");

    GrayImage result(static_cast<int>(width), static_cast<int>(height));
    const size_t count = result.pixels.size();
    if (binary) {
        // Exactly one white-space byte separates the header from the samples.
        if (pos >= size || !isSpace(data[pos])) return fail(error, "malformed PGM header");
        ++pos;
        const size_t bytesPerSample = maxValue > 255 ? 2 : 1;
        if (size - pos < count * bytesPerSample) return fail(error, "PGM pixel data is truncated");
        for (size_t i = 0; i < count; ++i) {
            long value = data[pos + i * bytesPerSample];
            if (bytesPerSample == 2) value = (value << 8) | data[pos + i * 2 + 1];
            if (value > maxValue) return fail(error, "PGM sample above the maximum value");
            result.pixels[i] = scaleTo8Bit(value, maxValue);
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            long value = 0;
            if (!nextNumber(data, size, pos, maxValue, value))
                return fail(error, "PGM pixel data is truncated or out of range");
            result.pixels[i] = scaleTo8Bit(value, maxValue);
        }
    }
    image = std::move(result);
    return true;
}

bool readFile(const std::string &path, std::vector<uint8_t> &bytes) {
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return false;
    bytes.clear();
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    return std::ferror(file.get()) == 0;
}

bool writeFile(const std::string &path, const uint8_t *bytes, size_t size) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

bool readPgm(const std::string &path, GrayImage &image, std::string *error) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes)) return fail(error, "cannot read the file");
    return parsePgm(bytes.data(), bytes.size(), image, error);
}

std::vector<uint8_t> encodePgm(const GrayImage &image) {
    const std::string header = "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), image.pixels.begin(), image.pixels.end());
    return bytes;
}

bool writePgm(const std::string &path, const GrayImage &image) {
    const std::vector<uint8_t> bytes = encodePgm(image);
    return writeFile(path, bytes.data(), bytes.size());
}

}  // namespace imageio
