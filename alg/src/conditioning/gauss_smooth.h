// 3 x 3 smoothing with weights 4 (centre), 2 (edge neighbours) and 1
// (diagonals), sum divided by 16; the outer rim of the image is copied.
#ifndef QV_GAUSS_SMOOTH_H
#define QV_GAUSS_SMOOTH_H

#include <cstdint>

void vwn_GaussSmooth(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h);
void vwn_GaussSmooth_16(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h);

// The kernel at (y, x) of a w-wide image; the caller keeps (y, x) off the rim.
template <typename T>
int32_t GaussKernel3x3(const T *img, int32_t w, int32_t y, int32_t x) {
    const T *up = img + (y - 1) * w + x;
    const T *mid = img + y * w + x;
    const T *down = img + (y + 1) * w + x;
    return (4 * mid[0] + 2 * (mid[-1] + mid[1] + up[0] + down[0]) + up[-1] + up[1] + down[-1] + down[1]) / 16;
}

#endif
