#include "conditioning/signal_strength.h"

#include "QVAlgDll.h"

namespace {

constexpr int32_t kPixelsPerUnit = 100;
constexpr int32_t kRawRowDivisor = 4;

// |dx| + |dy| + max(|dx|, |dy|) with the vertical difference taken one column
// to the left of the pixel.
template <typename T>
int32_t gradient(const T *img, int32_t w, int32_t r, int32_t c) {
    int32_t dx = img[r * w + c + 1] - img[r * w + c - 1];
    int32_t dy = img[(r + 1) * w + c - 1] - img[(r - 1) * w + c - 1];
    dx = dx < 0 ? -dx : dx;
    dy = dy < 0 ? -dy : dy;
    return dx + dy + (dx > dy ? dx : dy);
}

template <typename T>
int32_t strength(const T *img, int32_t w, int32_t h, int32_t rowDivisor) {
    if (img == nullptr || w < 3 || h < 3) return 1;
    int64_t total = 0;
    for (int32_t r = 1; r <= h - 2; ++r) {
        int64_t row = 0;
        for (int32_t c = 1; c <= w - 2; ++c) row += gradient(img, w, r, c);
        total += row / rowDivisor;
    }
    const int32_t units = (w - 2) * (h - 2) / kPixelsPerUnit;
    const int64_t s = units > 0 ? total / units : 0;
    return s > 0 ? static_cast<int32_t>(s) : 1;
}

}  // namespace

int32_t SignalStrength(const uint8_t *image, int32_t w, int32_t h) { return strength(image, w, h, 1); }

int32_t SignalStrength16(const uint16_t *image, int32_t w, int32_t h) { return strength(image, w, h, kRawRowDivisor); }

extern "C" int32_t Quorvane_SignalStrength(const uint8_t *image, int16_t width, int16_t height) {
    return SignalStrength(image, width, height);
}

extern "C" int32_t Quorvane_SignalStrength16(const uint16_t *raw, int16_t width, int16_t height) {
    return SignalStrength16(raw, width, height);
}
