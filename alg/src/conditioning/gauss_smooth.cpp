#include "conditioning/gauss_smooth.h"

#include <cstring>

namespace {

template <typename T>
void smooth(const T *src, T *dst, int32_t w, int32_t h) {
    if (w <= 0 || h <= 0) return;
    std::memcpy(dst, src, sizeof(T) * static_cast<size_t>(w * h));
    for (int32_t y = 1; y < h - 1; ++y)
        for (int32_t x = 1; x < w - 1; ++x) dst[y * w + x] = static_cast<T>(GaussKernel3x3(src, w, y, x));
}

}  // namespace

void vwn_GaussSmooth(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h) { smooth(src, dst, w, h); }

void vwn_GaussSmooth_16(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h) { smooth(src, dst, w, h); }
