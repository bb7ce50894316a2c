// Removal of the per-channel offsets of a raw capture, and the finger mask and
// finger mean of a raw image.
//
// The sensor reads its pixels through parallel channels that each add their
// own offset. Every channel variant copies the source, subtracts the image
// minimum, measures each channel's mean over its non-white pixels and
// subtracts it from the source, lifting the whole image when a source pixel
// lies below its channel mean so that nothing becomes negative. The variants
// differ in the channel layout and in the pixel type:
//   period 8:      channel = flat index mod 8, over the first (n / 8) x 8 pixels
//   column groups: channel = column / g, over columns 0 .. (W / g) x g - 1
//   row and phase: channel = (row, column mod g), over the same columns
//   rows:          channel = row, every pixel
// Pixels outside the covered area keep the minimum-subtracted value. A 16-bit
// pixel is white (background) at or above IMG_DATA_WHITE, an 8-bit pixel
// above 249. The source is never changed. Each returns 1.
#ifndef QV_REFERENCE_SUBTRACT_H
#define QV_REFERENCE_SUBTRACT_H

#include <cstdint>

// Level at and above which an 8-bit pixel counts as background.
inline constexpr int32_t kWhite8 = 250;

int32_t SubCurrentRefer16(const uint16_t *src, uint16_t *dst, int32_t n);
int32_t removeStripeLP(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h);
int32_t SubCurrentRefer16_3(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h, int32_t g);
int32_t removeStripeLP_3(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h, int32_t g);

// The row-and-phase and row variants accept the caller's scratch area (5 x g x H
// bytes for 16-bit, 3 x g x H for 8-bit) so that callers can keep one workspace
// layout; the channel statistics are gathered one channel at a time, so the
// scratch is not written and no per-channel counter can wrap.
int32_t removeHStripeLP16_3(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h, int32_t g, uint8_t *scratch);
int32_t removeHStripeLP_3(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h, int32_t g, uint8_t *scratch);
int32_t removeHStripeLP16(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h, uint8_t *scratch);
int32_t removeHStripeLP(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h, uint8_t *scratch);

// Subtracts a stored reference frame pixel by pixel, lifting the result by the
// largest shortfall when the source dips below the reference; the result is
// capped at IMG_DATA_MAX (16-bit) or 255. Returns n.
int32_t SubRefer16(const uint16_t *src, const uint16_t *ref, uint16_t *dst, int32_t n);
int32_t SubRefer(const uint8_t *src, const uint8_t *ref, uint8_t *dst, int32_t n);

// Finger mask of a raw image: 0 (finger) where the value is at most
// IMG_DATA_WHITE, 255 (background) above.
void CacFingerprintMask16(const uint16_t *raw, uint8_t *mask, int32_t w, int32_t h);

// Mean raw value of the finger pixels (mask 0), IMG_DATA_WHITE when there is none.
int32_t CacFingerprintMean16(const uint16_t *raw, const uint8_t *mask, int32_t w, int32_t h);

#endif
