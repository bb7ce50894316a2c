#include "extraction/contrast_normalisation.h"

#include <cstring>

#include "QVAlgDll.h"

namespace {

constexpr int32_t kNormalTop = 1023;
constexpr int32_t kRankRadius = 4;

int32_t clampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

int32_t Normalize(const uint8_t *image, int16_t *out, int32_t w, int32_t h) {
    const int32_t n = w * h;
    std::memset(out, 0, sizeof(int16_t) * static_cast<size_t>(n));
    int32_t mn = 255;
    int32_t mx = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (image[i] < mn) mn = image[i];
        if (image[i] > mx) mx = image[i];
    }
    if (mn >= mx) return 0;
    const int32_t gain = kNormalTop / (mx - mn);
    for (int32_t i = 0; i < n; ++i) out[i] = static_cast<int16_t>(clampInt(gain * (image[i] - mn), 0, kNormalTop));
    return 1;
}

int32_t ContrastEnhance(uint8_t *a, uint8_t *b, const uint8_t *halfMask, int32_t w, int32_t h) {
    const int32_t halfW = w / 2;
    auto finger = [&](int32_t y, int32_t x) { return halfMask[(y / 2) * halfW + x / 2] < 255; };

    int32_t above = 0;  // largest a - b where b <= a
    int32_t below = 0;  // largest b - a where b > a
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (!finger(y, x)) continue;
            const int32_t d = a[y * w + x] - b[y * w + x];
            if (d >= 0 && d > above) above = d;
            if (d < 0 && -d > below) below = -d;
        }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t i = y * w + x;
            if (!finger(y, x)) {
                b[i] = 255;
            } else if (below > 0) {
                const int32_t v = (a[i] + below - b[i]) * 255 / (above + below);
                b[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
            } else {
                b[i] = static_cast<uint8_t>(a[i] - b[i]);
            }
        }

    std::memset(a, 255, static_cast<size_t>(w * h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (!finger(y, x)) continue;
            const uint8_t centre = b[y * w + x];
            int32_t n = 0;
            int32_t darker = 0;
            for (int32_t yy = y - kRankRadius; yy <= y + kRankRadius; ++yy) {
                if (yy < 0 || yy >= h) continue;
                for (int32_t xx = x - kRankRadius; xx <= x + kRankRadius; ++xx) {
                    if (xx < 0 || xx >= w || !finger(yy, xx)) continue;
                    ++n;
                    if (b[yy * w + xx] < centre) ++darker;
                }
            }
            a[y * w + x] = static_cast<uint8_t>(darker * 255 / n);
        }
    return 1;
}
