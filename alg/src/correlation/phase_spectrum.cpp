#include "correlation/phase_spectrum.h"

#include <cstring>

#include "core/fixedmath.h"
#include "correlation/fixed_fft.h"

static_assert(kFrame == kFftSize);

namespace {

struct BandTable {
    BandBin bins[kBandBins];
};

constexpr BandTable makeBand() {
    BandTable t{};
    int32_t n = 0;
    for (int32_t ky = -kBandOuter; ky <= kBandOuter; ++ky)
        for (int32_t kx = -kBandOuter; kx <= kBandOuter; ++kx)
            if (InBand(kx, ky)) t.bins[n++] = BandBin{static_cast<int8_t>(kx), static_cast<int8_t>(ky)};
    return t;
}

constexpr BandTable kBand = makeBand();

constexpr int32_t kAngleShift = 9;  // sin512 / cos512
constexpr int32_t kFracMask = (1 << kAngleShift) - 1;
constexpr int32_t kValueShift = 2 * kAngleShift - 4;  // bilinear sums to 1/16 grey level

// Quantised phase of (re, im): 16 sectors of 22.5 degrees, sector 0 centred on +re.
int32_t quantisePhase(int32_t re, int32_t im) {
    const int32_t deg = atan_256(im, re);
    return ((deg * kPhaseLevels + 180) / 360) & (kPhaseLevels - 1);
}

FftFrame g_frame;
FftFrame g_scratch;

}  // namespace

const BandBin *BandBins() { return kBand.bins; }

// Samples are at most 250 x 16 x (kTaperPixels + 1) = 36000 in magnitude,
// within the transform's 2^16.
void TouchPhases(const uint8_t *image, int32_t w, int32_t h, int32_t angleDeg, uint8_t *phases) {
    int32_t *re = g_frame.re;
    std::memset(&g_frame, 0, sizeof g_frame);
    int64_t sum = 0;
    for (int32_t i = 0; i < w * h; ++i) sum += image[i];
    const int32_t mean16 = w * h > 0 ? static_cast<int32_t>(sum * 16 / (w * h)) : 0;
    const int32_t c = cos512(angleDeg), s = sin512(angleDeg);
    // Centre of the image in 1/512 px.
    const int32_t cx = (w - 1) << (kAngleShift - 1), cy = (h - 1) << (kAngleShift - 1);
    for (int32_t v = 0; v < kFrame; ++v) {
        const int32_t dy = kSampleStep * (v - kFrame / 2) + 1;
        for (int32_t u = 0; u < kFrame; ++u) {
            const int32_t dx = kSampleStep * (u - kFrame / 2) + 1;
            const int32_t sx = cx + dx * c - dy * s;
            const int32_t sy = cy + dx * s + dy * c;
            const int32_t ix = sx >> kAngleShift, iy = sy >> kAngleShift;
            if (ix < 0 || iy < 0 || ix >= w - 1 || iy >= h - 1) continue;
            const int32_t fx = sx & kFracMask, fy = sy & kFracMask;
            const uint8_t *p = image + iy * w + ix;
            const int32_t top = p[0] * (512 - fx) + p[1] * fx;
            const int32_t bottom = p[w] * (512 - fx) + p[w + 1] * fx;
            const int32_t value = ((top * (512 - fy) + bottom * fy) >> kValueShift) - mean16;
            int32_t d = ix < iy ? ix : iy;
            if (w - 2 - ix < d) d = w - 2 - ix;
            if (h - 2 - iy < d) d = h - 2 - iy;
            const int32_t weight = d < kTaperPixels ? d + 1 : kTaperPixels + 1;
            re[v * kFrame + u] = value * weight;
        }
    }
    Fft2D(g_frame, g_scratch, false);
    std::memset(phases, 0, kPhaseBytes);
    for (int32_t i = 0; i < kBandBins; ++i) {
        const BandBin b = kBand.bins[i];
        const int32_t at = (b.ky & (kFrame - 1)) * kFrame + (b.kx & (kFrame - 1));
        const int32_t q = quantisePhase(g_frame.re[at], g_frame.im[at]);
        phases[i >> 1] |= static_cast<uint8_t>((i & 1) ? q << 4 : q);
    }
}
