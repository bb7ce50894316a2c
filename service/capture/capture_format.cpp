#include "capture_format.h"

#include <cstring>

namespace capture {

namespace {

constexpr SensorFormat kFormats[] = {
    {kProductPlain, kWidthPlain, kHeightPlain, kRawLengthPlain, false, kLibrarySensorTypePlain},
    {kProduct12Bit, kWidth12Bit, kHeight12Bit, kRawLength12Bit, true, kLibrarySensorType12Bit},
    {kProductSplitRows, kWidthSplitRows, kHeightSplitRows, kRawLengthSplitRows, false, kLibrarySensorTypeSplitRows},
};

// 12-bit layout: a row holds four column groups; group g carries columns
// g, g + 4, ..., g + 92 as pairs of pixels in three bytes.
constexpr int kColumnGroups = 4;
constexpr int kPixelsPerGroup = kWidth12Bit / kColumnGroups;  // 24
constexpr int kBytesPerGroup = kPixelsPerGroup / 2 * 3;       // 36
constexpr int kBytesPerRow12Bit = kBytesPerGroup * kColumnGroups;
static_assert(kBytesPerRow12Bit * kHeight12Bit == static_cast<int>(kRawLength12Bit));

constexpr int kHalfRowSplit = kWidthSplitRows / 2;  // 34
static_assert(kWidthSplitRows * kHeightSplitRows == static_cast<int>(kRawLengthSplitRows));
static_assert(kWidthPlain * kHeightPlain == static_cast<int>(kRawLengthPlain));

// Column of the pixel at position `index` (0..23) of column group `group`.
constexpr int groupColumn(int group, int index) { return group + kColumnGroups * index; }

}  // namespace

const SensorFormat *findSensorFormat(uint16_t productId) {
    for (const SensorFormat &format : kFormats) {
        if (format.productId == productId) return &format;
    }
    return nullptr;
}

void unpack12BitImage(const uint8_t *raw, uint16_t *values12) {
    for (int row = 0; row < kHeight12Bit; ++row) {
        const uint8_t *rowBytes = raw + row * kBytesPerRow12Bit;
        uint16_t *out = values12 + row * kWidth12Bit;
        for (int group = 0; group < kColumnGroups; ++group) {
            const uint8_t *bytes = rowBytes + group * kBytesPerGroup;
            for (int pair = 0; pair < kPixelsPerGroup / 2; ++pair, bytes += 3) {
                // b0 and b1 are the high bytes of two pixels, b2 holds both low nibbles.
                out[groupColumn(group, 2 * pair)] = static_cast<uint16_t>((bytes[0] << 4) | (bytes[2] >> 4));
                out[groupColumn(group, 2 * pair + 1)] = static_cast<uint16_t>((bytes[1] << 4) | (bytes[2] & 0x0F));
            }
        }
    }
}

void pack12BitImage(const uint16_t *values12, uint8_t *raw) {
    for (int row = 0; row < kHeight12Bit; ++row) {
        const uint16_t *in = values12 + row * kWidth12Bit;
        uint8_t *rowBytes = raw + row * kBytesPerRow12Bit;
        for (int group = 0; group < kColumnGroups; ++group) {
            uint8_t *bytes = rowBytes + group * kBytesPerGroup;
            for (int pair = 0; pair < kPixelsPerGroup / 2; ++pair, bytes += 3) {
                const unsigned first = in[groupColumn(group, 2 * pair)] & 0x0FFFu;
                const unsigned second = in[groupColumn(group, 2 * pair + 1)] & 0x0FFFu;
                bytes[0] = static_cast<uint8_t>(first >> 4);
                bytes[1] = static_cast<uint8_t>(second >> 4);
                bytes[2] = static_cast<uint8_t>(((first & 0x0Fu) << 4) | (second & 0x0Fu));
            }
        }
    }
}

void reorderSplitColumns(const uint8_t *raw, uint8_t *image) {
    for (int row = 0; row < kHeightSplitRows; ++row) {
        const uint8_t *in = raw + row * kWidthSplitRows;
        uint8_t *out = image + row * kWidthSplitRows;
        for (int k = 0; k < kHalfRowSplit; ++k) {
            out[2 * k] = in[k];
            out[2 * k + 1] = in[kHalfRowSplit + k];
        }
    }
}

void splitColumns(const uint8_t *image, uint8_t *raw) {
    for (int row = 0; row < kHeightSplitRows; ++row) {
        const uint8_t *in = image + row * kWidthSplitRows;
        uint8_t *out = raw + row * kWidthSplitRows;
        for (int k = 0; k < kHalfRowSplit; ++k) {
            out[k] = in[2 * k];
            out[kHalfRowSplit + k] = in[2 * k + 1];
        }
    }
}

bool decodeCapture(uint16_t productId, const uint8_t *raw, size_t rawLength, DecodedCapture *out) {
    const SensorFormat *format = findSensorFormat(productId);
    if (format == nullptr || raw == nullptr || out == nullptr || rawLength != format->rawLength) return false;

    out->productId = productId;
    out->width = format->width;
    out->height = format->height;
    out->sixteenBit = format->sixteenBitImage;
    switch (productId) {
    case kProduct12Bit:
        unpack12BitImage(raw, out->pixels16);
        for (uint16_t &pixel : out->pixels16) pixel = libraryLevelOf12Bit(pixel);
        break;
    case kProductSplitRows:
        reorderSplitColumns(raw, out->pixels8);
        break;
    default:
        std::memcpy(out->pixels8, raw, format->rawLength);
        break;
    }
    return true;
}

size_t encodeCapture(const DecodedCapture &image, uint8_t *raw, size_t rawCapacity) {
    const SensorFormat *format = findSensorFormat(image.productId);
    if (format == nullptr || raw == nullptr || rawCapacity < format->rawLength) return 0;
    if (image.width != format->width || image.height != format->height || image.sixteenBit != format->sixteenBitImage)
        return 0;

    switch (image.productId) {
    case kProduct12Bit: {
        constexpr uint16_t kLargestLevel = kMax12BitValue >> 2;
        uint16_t values12[kPixels12Bit];
        for (int i = 0; i < kPixels12Bit; ++i) {
            if (image.pixels16[i] > kLargestLevel) return 0;
            // The two low bits are lost by the division; any value decodes alike.
            values12[i] = static_cast<uint16_t>(image.pixels16[i] << 2);
        }
        pack12BitImage(values12, raw);
        break;
    }
    case kProductSplitRows:
        splitColumns(image.pixels8, raw);
        break;
    default:
        std::memcpy(raw, image.pixels8, format->rawLength);
        break;
    }
    return format->rawLength;
}

}  // namespace capture
