// Raw capture layouts of the supported sensor models and their conversion into
// the images the algorithm library receives.
//
//   0x2547: 96 x 96 pixels of 12 bits, packed into 13824 bytes. Each row is 144
//           bytes in four groups of 36; group g holds columns g, g + 4, ...,
//           g + 92, two pixels per three bytes. The library receives value / 4.
//   0x2548: 68 x 118 bytes; each row sends its even columns first, then the
//           odd ones.
//   0x2549: 112 x 88 bytes, row-major, handed over unchanged.
//
// The encoders are the exact inverses of the decoders, so a generated image
// written as raw bytes decodes to the very pixels it was made from. Nothing
// here allocates; every buffer belongs to the caller.
#pragma once

#include <cstddef>
#include <cstdint>

namespace capture {

constexpr uint16_t kVendorId = 0x2541;
constexpr uint16_t kProduct12Bit = 0x2547;      // 96 x 96, 12-bit packed
constexpr uint16_t kProductSplitRows = 0x2548;  // 68 x 118, columns split by parity
constexpr uint16_t kProductPlain = 0x2549;      // 112 x 88, plain bytes

constexpr int kWidth12Bit = 96;
constexpr int kHeight12Bit = 96;
constexpr int kWidthSplitRows = 68;
constexpr int kHeightSplitRows = 118;
constexpr int kWidthPlain = 112;
constexpr int kHeightPlain = 88;

constexpr size_t kRawLength12Bit = 13824;
constexpr size_t kRawLengthSplitRows = 8024;
constexpr size_t kRawLengthPlain = 9856;
constexpr size_t kLargestRawLength = kRawLength12Bit;

// Library sensor types given to Quorvane_Init for each model.
constexpr int kLibrarySensorType12Bit = 5;
constexpr int kLibrarySensorTypeSplitRows = 3;
constexpr int kLibrarySensorTypePlain = 1;

constexpr int kPixels12Bit = kWidth12Bit * kHeight12Bit;        // 9216
constexpr int kLargestPixelCount = kWidthPlain * kHeightPlain;  // 9856
constexpr uint16_t kMax12BitValue = 4095;

struct SensorFormat {
    uint16_t productId;
    int width;
    int height;
    size_t rawLength;
    bool sixteenBitImage;  // the library receives 16-bit pixels (value / 4)
    int librarySensorType;
};

// The format of a product id, or nullptr for a product this code does not know.
const SensorFormat *findSensorFormat(uint16_t productId);

// The image one capture turns into: 16-bit pixels (0..1023) for the 12-bit
// model, bytes for the other two. Only the first width x height entries of the
// array in use are meaningful.
struct DecodedCapture {
    uint16_t productId;
    int width;
    int height;
    bool sixteenBit;
    uint16_t pixels16[kPixels12Bit];
    uint8_t pixels8[kLargestPixelCount];
};

// Unpacks 13824 raw bytes into 9216 12-bit sensor values (row-major, 96 x 96).
void unpack12BitImage(const uint8_t *raw, uint16_t *values12);
// Packs 9216 sensor values into 13824 raw bytes; bits above the twelfth are dropped.
void pack12BitImage(const uint16_t *values12, uint8_t *raw);
// Sensor value to the level the library receives: the 12-bit value divided by 4.
constexpr uint16_t libraryLevelOf12Bit(uint16_t value12) { return static_cast<uint16_t>((value12 & 0x0FFF) >> 2); }

// 8024 raw bytes (each row: even columns, then odd columns) to a 68 x 118 image.
void reorderSplitColumns(const uint8_t *raw, uint8_t *image);
// The inverse: a 68 x 118 image to the sensor's column order.
void splitColumns(const uint8_t *image, uint8_t *raw);

// Converts one raw capture into the library's image. Returns false, leaving
// *out untouched, for an unknown product, a null pointer or a length other
// than the model's exact raw length.
bool decodeCapture(uint16_t productId, const uint8_t *raw, size_t rawLength, DecodedCapture *out);

// The inverse of decodeCapture: writes the raw bytes that decode to `image`
// (its productId selects the model; 16-bit levels above 1023 are refused).
// Returns the raw length written, or 0 when the product is unknown, the
// geometry does not match the model, a level is out of range or rawCapacity
// is too small.
size_t encodeCapture(const DecodedCapture &image, uint8_t *raw, size_t rawCapacity);

}  // namespace capture
