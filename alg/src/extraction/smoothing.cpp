#include "extraction/smoothing.h"

#include <cstring>

#include "QVAlgDll.h"

namespace {

constexpr int32_t kGaussHalf = 6;
constexpr uint8_t kExcluded = 255;
constexpr uint8_t kHalfFrame = 240;
// Where the reduction reads the expanded image, and where that lands in the
// half image: the source area starts 32 pixels in, the kernel 4 before it.
constexpr int32_t kZoomEdge = 28;
constexpr int32_t kHalfEdge = 14;

}  // namespace

namespace {

constexpr int32_t kGaussTaps = 2 * kGaussHalf + 1;
constexpr int32_t kGaussFullWeight = 257;

// Smooths one row or column of n samples, `stride` apart, from src into dst:
// finger samples get the weighted mean of the finger samples within 6
// positions, background samples are left alone. A running count of the
// background samples in the window selects a branch-free path with a
// constant divisor where the whole window is finger.
void smoothLine(const int16_t *src, const uint8_t *mask, int16_t *dst, int32_t n, int32_t stride) {
    int32_t background = 0;  // background samples at positions x - 6 .. x + 6 inside the line
    for (int32_t k = 0; k <= kGaussHalf && k < n; ++k) background += mask[k * stride] == 255;
    for (int32_t x = 0; x < n; ++x) {
        if (x > 0) {
            if (x + kGaussHalf < n) background += mask[(x + kGaussHalf) * stride] == 255;
            if (x - kGaussHalf - 1 >= 0) background -= mask[(x - kGaussHalf - 1) * stride] == 255;
        }
        if (mask[x * stride] == 255) continue;
        int32_t sum = 0;
        if (background == 0 && x >= kGaussHalf && x + kGaussHalf < n) {
            const int16_t *p = src + (x - kGaussHalf) * stride;
            for (int32_t k = 0; k < kGaussTaps; ++k) sum += g_fGaussKernelTable[k] * p[k * stride];
            dst[x * stride] = static_cast<int16_t>(sum / kGaussFullWeight);
            continue;
        }
        int32_t weight = 0;
        for (int32_t d = -kGaussHalf; d <= kGaussHalf; ++d) {
            const int32_t xx = x + d;
            if (xx < 0 || xx >= n || mask[xx * stride] == 255) continue;
            sum += g_fGaussKernelTable[d + kGaussHalf] * src[xx * stride];
            weight += g_fGaussKernelTable[d + kGaussHalf];
        }
        dst[x * stride] = static_cast<int16_t>(sum / weight);
    }
}

}  // namespace

void GaussSmooth2(int16_t *in, const uint8_t *mask, int16_t *out, int32_t w, int32_t h) {
    const size_t bytes = sizeof(int16_t) * static_cast<size_t>(w * h);
    std::memcpy(out, in, bytes);
    for (int32_t y = 0; y < h; ++y) smoothLine(in + y * w, mask + y * w, out + y * w, w, 1);
    // Each column result depends on the row results only, so the columns can
    // be done one after another.
    for (int32_t x = 0; x < w; ++x) smoothLine(out + x, mask + x, in + x, h, w);
    std::memcpy(out, in, bytes);
}

void vwn_GaussSmooth2(const uint8_t *image, const uint8_t *whiteSpots, const uint8_t *mask, uint8_t *out, int32_t w,
                      int32_t h) {
    static constexpr int8_t kDy[9] = {-1, -1, -1, 0, 0, 0, 1, 1, 1};
    static constexpr int8_t kDx[9] = {-1, 0, 1, -1, 0, 1, -1, 0, 1};
    static constexpr int32_t kWeight[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    static constexpr int32_t kFullWeight = 16;

    std::memcpy(out, image, static_cast<size_t>(w * h));
    for (int32_t y = 1; y < h - 1; ++y)
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t i = y * w + x;
            if (whiteSpots[i] == kExcluded || mask[i] == kExcluded) continue;
            int32_t sum = 0;
            int32_t weight = 0;
            for (int32_t k = 0; k < 9; ++k) {
                const int32_t j = i + kDy[k] * w + kDx[k];
                if (whiteSpots[j] == kExcluded || mask[j] == kExcluded) continue;
                sum += kWeight[k] * image[j];
                weight += kWeight[k];
            }
            out[i] = static_cast<uint8_t>(weight == kFullWeight ? sum / kFullWeight : sum / weight);
        }
}

void zoomout2(const uint8_t *image, int32_t w, int32_t h, uint8_t *out, int32_t *outW, int32_t *outH, int32_t step) {
    const int32_t w2 = w / 2;
    const int32_t h2 = h / 2;
    std::memset(out, kHalfFrame, static_cast<size_t>(w2 * h2));
    for (int32_t y = 0; y < h; y += step) {
        out[(y / 2) * w2 + kHalfEdge] = image[y * w + kZoomEdge];
        out[(y / 2) * w2 + w2 - kHalfEdge - 1] = image[y * w + w - kZoomEdge - 2];
    }
    for (int32_t x = 0; x < w; x += step) {
        out[kHalfEdge * w2 + x / 2] = image[kZoomEdge * w + x];
        out[(h2 - kHalfEdge - 1) * w2 + x / 2] = image[(h - kZoomEdge - 2) * w + x];
    }
    for (int32_t y = kZoomEdge + step; y < h - kZoomEdge - step; y += step)
        for (int32_t k = 1; kZoomEdge + k * step < w - kZoomEdge - step; ++k) {
            const uint8_t *c = image + y * w + kZoomEdge + 2 * k;
            const int32_t v =
                4 * c[0] + 2 * (c[-w] + c[w] + c[-1] + c[1]) + c[-w - 1] + c[-w + 1] + c[w - 1] + c[w + 1];
            out[(y / 2) * w2 + kHalfEdge + k] = static_cast<uint8_t>(v >> 4);
        }
    *outW = w2;
    *outH = h2;
}
