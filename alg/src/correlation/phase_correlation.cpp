#include "correlation/phase_correlation.h"

#include <cstring>

#include "correlation/fixed_fft.h"
#include "correlation/phase_spectrum.h"

namespace {

// A bin and its mirror each contribute 2^14 / 4096 at a perfect match.
constexpr int32_t kPerfectPerBin = 2 * (1 << kTwiddleShift) / (kFrame * kFrame);
constexpr int32_t kPerfectPeak = kPerfectPerBin * kBandBins;

int32_t permille(int32_t peak) { return peak <= 0 ? 0 : static_cast<int32_t>(int64_t{peak} * 1000 / kPerfectPeak); }

struct Phasors {
    int32_t cos[kPhaseLevels];
    int32_t sin[kPhaseLevels];
};

Phasors makePhasors() {
    Phasors p{};
    for (int32_t d = 0; d < kPhaseLevels; ++d) {
        p.cos[d] = FftCos(d * kFftSize / kPhaseLevels);
        p.sin[d] = FftSin(d * kFftSize / kPhaseLevels);
    }
    return p;
}

const Phasors kPhasors = makePhasors();

FftFrame g_loaded;
FftFrame g_surface;

// Where each band bin and its mirror go in the first pass's layout.
struct BinPlaces {
    int32_t at[kBandBins];
    int32_t mirror[kBandBins];
};

BinPlaces makePlaces() {
    BinPlaces p{};
    const BandBin *bins = BandBins();
    constexpr int32_t m = kFrame - 1;
    for (int32_t i = 0; i < kBandBins; ++i) {
        p.at[i] = BitReverse6(bins[i].kx) * kFrame + (bins[i].ky & m);
        p.mirror[i] = BitReverse6(-bins[i].kx) * kFrame + ((-bins[i].ky) & m);
    }
    return p;
}

const BinPlaces kPlaces = makePlaces();

// Peak of a correlation surface: the largest sum of a 2 x 2 block, since a
// shift between two sample positions spreads the peak over its neighbours.
int32_t surfacePeak(const int32_t *s) {
    constexpr int32_t n = kFrame;
    int32_t pairs[n + 1][n];  // pairs[y][x] = s[y][x] + s[y][x + 1], wrapping
    for (int32_t y = 0; y < n; ++y) {
        const int32_t *row = s + y * n;
        for (int32_t x = 0; x < n - 1; ++x) pairs[y][x] = row[x] + row[x + 1];
        pairs[y][n - 1] = row[n - 1] + row[0];
    }
    for (int32_t x = 0; x < n; ++x) pairs[n][x] = pairs[0][x];
    int32_t best = 0;
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const int32_t v = pairs[y][x] + pairs[y + 1][x];
            best = v > best ? v : best;
        }
    return best;
}

// Largest 2 x 2 block sum of a surface whose top left lies within
// kPoseWindow cells of (cx, cy), wrapping like the surface.
int32_t windowPeak(const int32_t *s, int32_t cx, int32_t cy) {
    constexpr int32_t n = kFrame, m = kFrame - 1;
    const auto at = [s](int32_t x, int32_t y) { return s[(y & m) * n + (x & m)]; };
    int32_t best = 0;
    for (int32_t y = cy - kPoseWindow; y <= cy + kPoseWindow; ++y)
        for (int32_t x = cx - kPoseWindow; x <= cx + kPoseWindow; ++x) {
            const int32_t v = at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1);
            best = v > best ? v : best;
        }
    return best;
}

// Leaves in g_surface the correlation of `stored` with probeA (real part) and
// probeB (imaginary part).
void correlate(const uint8_t *stored, const uint8_t *probeA, const uint8_t *probeB) {
    int32_t *re = g_loaded.re;
    int32_t *im = g_loaded.im;
    std::memset(&g_loaded, 0, sizeof g_loaded);
    constexpr int32_t levels = kPhaseLevels - 1;
    for (int32_t i = 0; i < kBandBins; ++i) {
        const int32_t g = PhaseAt(stored, i);
        const int32_t d1 = (g - PhaseAt(probeA, i)) & levels;
        const int32_t d2 = (g - PhaseAt(probeB, i)) & levels;
        const int32_t a = kPhasors.cos[d1], b = kPhasors.sin[d1];
        const int32_t c = kPhasors.cos[d2], d = kPhasors.sin[d2];
        // Z = A + iB with A, B Hermitian: the inverse transform's real part is
        // the correlation with probeA, its imaginary part that with probeB.
        const int32_t at = kPlaces.at[i], mirror = kPlaces.mirror[i];
        re[at] = a - d;
        im[at] = b + c;
        re[mirror] = a + d;
        im[mirror] = c - b;
    }
    Fft2DFromLoaded(g_loaded, g_surface, true, kBandOuter);
}

}  // namespace

void CorrelationPeaks(const uint8_t *stored, const uint8_t *probeA, const uint8_t *probeB, int32_t &peakA,
                      int32_t &peakB) {
    correlate(stored, probeA, probeB);
    peakA = permille(surfacePeak(g_surface.re));
    peakB = permille(surfacePeak(g_surface.im));
}

int32_t PosePeak(const uint8_t *stored, const uint8_t *probeA, const uint8_t *probeB, int32_t cellX, int32_t cellY) {
    correlate(stored, probeA, probeB);
    const int32_t peakA = windowPeak(g_surface.re, cellX, cellY);
    const int32_t peakB = windowPeak(g_surface.im, cellX, cellY);
    return permille(peakA > peakB ? peakA : peakB);
}

int32_t BestCorrelationPeak(const uint8_t *stored, const uint8_t *probeRecords, int32_t count, int32_t *bestRecord) {
    const auto record = [probeRecords](int32_t r) { return probeRecords + static_cast<int64_t>(r) * kPhaseBytes; };
    int32_t best = 0, bestAt = 0;
    const auto consider = [&best, &bestAt](int32_t peak, int32_t r) {
        if (peak > best) {
            best = peak;
            bestAt = r;
        }
    };
    // Every other record first (two per transform), then the two records
    // beside the best of them.
    for (int32_t r = 0; r < count; r += 4) {
        const int32_t next = r + 2 < count ? r + 2 : r;
        int32_t a = 0, b = 0;
        CorrelationPeaks(stored, record(r), record(next), a, b);
        consider(a, r);
        consider(b, next);
    }
    const int32_t coarse = bestAt;
    const int32_t below = coarse > 0 ? coarse - 1 : coarse;
    const int32_t above = coarse + 1 < count ? coarse + 1 : coarse;
    if (below != coarse || above != coarse) {
        int32_t a = 0, b = 0;
        CorrelationPeaks(stored, record(below), record(above), a, b);
        consider(a, below);
        consider(b, above);
    }
    if (bestRecord != nullptr) *bestRecord = bestAt;
    return best;
}
