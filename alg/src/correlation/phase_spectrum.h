// Phase spectrum of a touch: the ridge-filtered image sampled every 2 px into
// a 64 x 64 frame (rotated about the image centre, tapered towards the image
// border), transformed, and the phase of every frequency of the ridge band
// quantised to 4 bits. Ridges 8-10 px apart fall in the middle of the band;
// the lowest frequencies (finger outline, pressure) and the highest (noise,
// pores) are left out.
#ifndef QV_PHASE_SPECTRUM_H
#define QV_PHASE_SPECTRUM_H

#include <cstdint>

inline constexpr int32_t kFrame = 64;
inline constexpr int32_t kSampleStep = 2;  // source pixels per frame cell
inline constexpr int32_t kBandInner = 6;   // ring of frequencies kept, in cycles per frame
inline constexpr int32_t kBandOuter = 22;
inline constexpr int32_t kPhaseLevels = 16;
inline constexpr int32_t kTaperPixels = 8;  // samples closer to the image border are weighted down

struct BandBin {
    int8_t kx;
    int8_t ky;
};

// The band's frequencies in one half plane (ky > 0, or ky == 0 and kx > 0);
// the other half is their mirror image for a real image.
constexpr bool InBand(int32_t kx, int32_t ky) {
    const int32_t r2 = kx * kx + ky * ky;
    const bool upper = ky > 0 || (ky == 0 && kx > 0);
    return upper && r2 >= kBandInner * kBandInner && r2 <= kBandOuter * kBandOuter;
}

constexpr int32_t CountBand() {
    int32_t n = 0;
    for (int32_t ky = -kBandOuter; ky <= kBandOuter; ++ky)
        for (int32_t kx = -kBandOuter; kx <= kBandOuter; ++kx) n += InBand(kx, ky);
    return n;
}

inline constexpr int32_t kBandBins = CountBand();
inline constexpr int32_t kPhaseBytes = (kBandBins + 1) / 2;  // two 4-bit phases a byte

// The band's bins in storage order (row by row, left to right).
const BandBin *BandBins();

// Phase of the touch rotated by angleDeg (whole degrees, counter-clockwise in
// image coordinates) into phases (kPhaseBytes). image: w x h ridge-filtered
// pixels.
void TouchPhases(const uint8_t *image, int32_t w, int32_t h, int32_t angleDeg, uint8_t *phases);

// Phase index 0..15 of bin i of a phase record.
inline int32_t PhaseAt(const uint8_t *phases, int32_t i) { return (i & 1) ? phases[i >> 1] >> 4 : phases[i >> 1] & 15; }

#endif
