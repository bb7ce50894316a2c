#include "conditioning/histogram_stretch.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/variant_rules.h"

namespace {

constexpr int32_t kWindowHalf = 25;
// The tall sensors measure over a window twice as high.
constexpr int32_t kTallWindowHalfHeight = 50;
// Pixels of the square window; the refusal threshold uses it for both shapes.
constexpr int32_t kWindowArea = (2 * kWindowHalf + 1) * (2 * kWindowHalf + 1);
// Levels ignored at each end of the histogram: 0.2 % of the window, rounded.
constexpr int32_t kTailCount = (2 * kWindowArea + 500) / 1000;
// Window means at which a narrow level range is still stretched.
constexpr int32_t kMeanLow = 25;
constexpr int32_t kMeanHigh = 128;
constexpr int32_t kNarrowRange = 8;
constexpr int32_t kStretchTop = 250;

int32_t clampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

int32_t ExpandHistogram(uint8_t *image, int32_t w, int32_t h) {
    const int32_t halfHeight = CurrentVariantRules().tallStretchWindow ? kTallWindowHalfHeight : kWindowHalf;
    // The configured centre always leaves the window inside the image; the
    // clip only guards against a caller with another geometry.
    const int32_t top = clampInt(YCENTER - halfHeight, 0, h - 1);
    const int32_t bottom = clampInt(YCENTER + halfHeight, 0, h - 1);
    const int32_t left = clampInt(XCENTER - kWindowHalf, 0, w - 1);
    const int32_t right = clampInt(XCENTER + kWindowHalf, 0, w - 1);

    int32_t hist[256] = {};
    int32_t sum = 0;
    for (int32_t y = top; y <= bottom; ++y)
        for (int32_t x = left; x <= right; ++x) {
            const uint8_t p = image[y * w + x];
            ++hist[p];
            sum += p;
        }
    const int32_t mean = sum / kWindowArea;

    int32_t lo = 0;
    for (int32_t count = 0; lo < 256; ++lo) {
        count += hist[lo];
        if (count >= kTailCount) break;
    }
    int32_t hi = 255;
    for (int32_t count = 0; hi >= 0; --hi) {
        count += hist[hi];
        if (count >= kTailCount) break;
    }
    if (lo >= hi) return 0;
    if ((mean < kMeanLow || mean > kMeanHigh) && hi - lo <= kNarrowRange) return 0;

    const int32_t range = hi - lo;
    const int32_t scale = (range / 2 + 25000) / range;  // 100 x 250 / range, rounded
    const int32_t n = w * h;
    for (int32_t i = 0; i < n; ++i)
        image[i] = static_cast<uint8_t>(clampInt(((image[i] - lo) * scale + 50) / 100, 0, kStretchTop));
    return 1;
}
