// Deterministic synthetic raw captures for the conditioning tests: concentric
// ridges of period 9 inside an elliptic contact area, a background above the
// white level, a per-channel offset of period 8 and a little noise.
#ifndef QV_TEST_SYNTHETIC_CAPTURE_H
#define QV_TEST_SYNTHETIC_CAPTURE_H

#include <cmath>
#include <cstdint>
#include <vector>

#include "QVAlgDll.h"

namespace synthetic {

constexpr int32_t kRidgePeriod = 9;

// Raw capture of the configured source geometry (call Quorvane_Init first).
// Levels scale with the configured bit depth.
inline std::vector<uint16_t> rawCapture(uint32_t seed = 1) {
    const int32_t w = IMAGE_WIDTH_SRC;
    const int32_t h = IMAGE_HEIGHT_SRC;
    const int32_t unit = IMG_DATA_RANGE / 4096;  // 1 for 12-bit, 16 for 16-bit data
    const int32_t ridge = 1100 * unit;
    const int32_t valley = 2500 * unit;
    const int32_t background = IMG_DATA_WHITE + 300 * unit > IMG_DATA_MAX ? IMG_DATA_MAX : IMG_DATA_WHITE + 300 * unit;
    static const int32_t kChannelOffset[8] = {0, 40, 15, 60, 5, 30, 50, 20};
    std::vector<uint16_t> img(static_cast<size_t>(w * h));
    const double cx = w * 0.5, cy = h * 0.55, ax = w * 0.42, ay = h * 0.46;
    uint32_t state = seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double ex = (x - cx) / ax, ey = (y - cy) / ay;
            int32_t v;
            if (ex * ex + ey * ey <= 1.0) {
                // Triangle profile over the distance from a core above the centre.
                const double d = std::sqrt((x - cx) * (x - cx) + (y - cy + h * 0.1) * (y - cy + h * 0.1));
                const int32_t phase = static_cast<int32_t>(d * 16.0) % (kRidgePeriod * 16);
                const int32_t tri = phase < kRidgePeriod * 8 ? phase : kRidgePeriod * 16 - phase;  // 0..72
                v = ridge + (valley - ridge) * tri / (kRidgePeriod * 8);
            } else {
                v = background;
            }
            state = state * 1103515245u + 12345u;
            v += static_cast<int32_t>((state >> 16) % 41) * unit - 20 * unit;
            v += kChannelOffset[(y * w + x) % 8] * unit;
            img[static_cast<size_t>(y * w + x)] =
                static_cast<uint16_t>(v < 0 ? 0 : (v > IMG_DATA_MAX ? IMG_DATA_MAX : v));
        }
    return img;
}

}  // namespace synthetic

#endif
