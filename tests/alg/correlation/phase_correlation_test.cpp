// The image correlator of profile 3: the fixed-point transform against
// known spectra, and phase-only correlation finding a touch again when it is
// shifted or rotated, but not another ridge pattern.
#include "correlation/phase_correlation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "correlation/fixed_fft.h"
#include "correlation/phase_records.h"
#include "correlation/phase_spectrum.h"

namespace {

FftFrame g_frame, g_scratch;

// Curved ridges about 9 px apart whose course wanders with the seed: a
// print-like pattern, different for every seed. The window (w x h) sits at
// (cx, cy) of the pattern, turned by angleDeg about its centre.
std::vector<uint8_t> ridges(int32_t w, int32_t h, double cx, double cy, double angleDeg, int32_t seed) {
    std::vector<uint8_t> image(static_cast<size_t>(w * h));
    const double pi = 3.14159265358979, a = angleDeg * pi / 180.0, t = 0.7 * seed;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double dx = x - (w - 1) / 2.0, dy = y - (h - 1) / 2.0;
            const double px = cx + dx * std::cos(a) - dy * std::sin(a);
            const double py = cy + dx * std::sin(a) + dy * std::cos(a);
            const double phase = 2 * pi / 9.0 * (px * std::cos(t) + py * std::sin(t)) +
                                 3.0 * std::sin(px / 15.0 + seed) + 3.0 * std::cos(py / 12.0 + 2.0 * seed);
            image[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(125 + 100 * std::cos(phase));
        }
    return image;
}

std::vector<uint8_t> phasesOf(const std::vector<uint8_t> &image, int32_t w, int32_t h, int32_t angle) {
    std::vector<uint8_t> p(kPhaseBytes);
    TouchPhases(image.data(), w, h, angle, p.data());
    return p;
}

std::vector<uint8_t> rotations(const std::vector<uint8_t> &image, int32_t w, int32_t h) {
    std::vector<uint8_t> all(static_cast<size_t>(kTouchRotations) * kPhaseBytes);
    for (int32_t r = 0; r < kTouchRotations; ++r)
        TouchPhases(image.data(), w, h, kFirstRotation + r * kRotationStep, all.data() + r * kPhaseBytes);
    return all;
}

TEST(FixedFft, TwiddlesAndTheSpectrumOfAnImpulse) {
    EXPECT_EQ(FftSin(0), 0);
    EXPECT_EQ(FftSin(16), 16384);
    EXPECT_EQ(FftSin(8), 11585);    // sin 45 degrees
    EXPECT_EQ(FftCos(32), -16384);  // cos 180 degrees
    EXPECT_EQ(FftSin(-16), -16384);

    // An impulse of 4096 * 1000 at (x0, y0) transforms to 1000 exp(-2 pi i (kx x0 + ky y0) / 64).
    const int32_t x0 = 5, y0 = 3;
    std::memset(&g_frame, 0, sizeof g_frame);
    g_frame.re[y0 * kFftSize + x0] = 64000;  // within the 2^16 bound; 64000 / 4096 = 15.625
    Fft2D(g_frame, g_scratch, false);
    for (const auto &[kx, ky] :
         {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}, std::pair{7, 11}, std::pair{40, 63}}) {
        const double phase = -2 * 3.14159265358979 * (kx * x0 + ky * y0) / 64.0;
        const int32_t at = ky * kFftSize + kx;
        EXPECT_NEAR(g_frame.re[at], 15.625 * std::cos(phase), 1.5) << kx << "," << ky;
        EXPECT_NEAR(g_frame.im[at], 15.625 * std::sin(phase), 1.5) << kx << "," << ky;
    }

    // The inverse of a single bin is a plane wave: exp(+2 pi i (kx x + ky y) / 64) / 4096.
    std::memset(&g_frame, 0, sizeof g_frame);
    g_frame.re[2 * kFftSize + 1] = 60000;
    Fft2D(g_frame, g_scratch, true);
    for (const auto &[x, y] : {std::pair{0, 0}, std::pair{16, 0}, std::pair{3, 9}}) {
        const double phase = 2 * 3.14159265358979 * (1 * x + 2 * y) / 64.0;
        EXPECT_NEAR(g_frame.re[y * kFftSize + x], 60000 / 4096.0 * std::cos(phase), 1.5);
        EXPECT_NEAR(g_frame.im[y * kFftSize + x], 60000 / 4096.0 * std::sin(phase), 1.5);
    }
}

// The correlator transforms band limited spectra with the first pass on the
// band's columns only; that must give exactly the full transform, for every
// ky up to the limit, the band's edge and its mirror included.
TEST(FixedFft, BandLimitedTransformEqualsTheFullOne) {
    static FftFrame band, full, outBand, outFull;
    std::memset(&band, 0, sizeof band);
    uint32_t state = 7;
    for (int32_t kx = 0; kx < kFftSize; ++kx)
        for (int32_t ky = -kBandOuter; ky <= kBandOuter; ++ky) {
            state = state * 1664525u + 1013904223u;
            const int32_t at = BitReverse6(kx) * kFftSize + (ky & (kFftSize - 1));
            band.re[at] = static_cast<int32_t>(state >> 17) - 16384;
            band.im[at] = static_cast<int32_t>(state & 0x7FFF) - 16384;
        }
    full = band;
    Fft2DFromLoaded(band, outBand, true, kBandOuter);
    Fft2DFromLoaded(full, outFull, true);
    EXPECT_EQ(std::memcmp(&outBand, &outFull, sizeof outBand), 0);
}

TEST(PhaseCorrelation, FindsTheSameRidgesShiftedOrRotatedButNotOthers) {
    const int32_t w = 96, h = 96;
    const auto touch = ridges(w, h, 10, -6, 0, 1);
    const auto stored = phasesOf(touch, w, h, 0);
    int32_t same = 0, other = 0;
    CorrelationPeaks(stored.data(), stored.data(), stored.data(), same, other);
    EXPECT_GE(same, 900);
    EXPECT_EQ(same, other);

    // 14 px to the right and 8 px down, 2/3 of the window shared.
    const auto shifted = rotations(ridges(w, h, 24, 2, 0, 1), w, h);
    int32_t best = -1;
    const int32_t shiftedPeak = BestCorrelationPeak(stored.data(), shifted.data(), kTouchRotations, &best);
    EXPECT_EQ(best, kUnrotatedRecord);

    // The same place touched 12 degrees turned: the record that turns it back wins.
    const auto turned = rotations(ridges(w, h, 10, -6, 12, 1), w, h);
    const int32_t turnedPeak = BestCorrelationPeak(stored.data(), turned.data(), kTouchRotations, &best);
    EXPECT_EQ(kFirstRotation + best * kRotationStep, -12);

    // Another finger.
    const auto stranger = rotations(ridges(w, h, 10, -6, 0, 4), w, h);
    const int32_t strangerPeak = BestCorrelationPeak(stored.data(), stranger.data(), kTouchRotations, nullptr);
    // Ridges of the same spacing and general direction correlate somewhat;
    // the same skin correlates far more.
    EXPECT_GT(shiftedPeak, strangerPeak + 300);
    EXPECT_GT(turnedPeak, strangerPeak + 300);
}

}  // namespace
