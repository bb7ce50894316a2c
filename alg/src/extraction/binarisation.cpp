#include "extraction/binarisation.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/algdef.h"
#include "core/fixedmath.h"
#include "extraction/skeleton_walk.h"

namespace {

constexpr int32_t kDirections = 16;
constexpr int32_t kTaps = 7;
constexpr uint8_t kNoOrientation = 255;
constexpr int32_t kAlongTaps[kTaps] = {2, 2, 3, 4, 3, 2, 2};

// binaryClear marks: a pixel to flip, and the re-mark of its same-valued
// neighbours (low bits replaced), which puts them up for re-examination.
constexpr uint8_t kFlip = 6;
constexpr uint8_t kKeepHighBits = 248;
constexpr uint8_t kRecheck = 2;
constexpr uint8_t kSettled = 255;
constexpr int32_t kEnoughAlike = 3;
constexpr int32_t kExtraRounds = 7;

// Tap sum and point count when every point of the line counts: constant
// divisors, much cheaper than variable ones.
constexpr int32_t kFullWeight = 18;
constexpr int32_t kFullCount = kTaps;

struct DirectionBins {
    uint8_t of[180];
    DirectionBins() {
        for (int32_t o = 0; o < 180; ++o) of[o] = static_cast<uint8_t>(DDIndex(o, kDirections));
    }
};

struct LineOffsets {
    int32_t at[kDirections][kTaps];
    explicit LineOffsets(int32_t w) {
        for (int32_t d = 0; d < kDirections; ++d)
            for (int32_t i = 0; i < kTaps; ++i) at[d][i] = g_DSite7[d][i][1] * w + g_DSite7[d][i][0];
    }
};

// Counts the neighbours with the pixel's own value, stopping at kEnoughAlike;
// with fewer, marks the pixel for flipping and its alike neighbours for a
// later look. Returns true when the pixel was marked.
bool markLonelyPixel(const uint8_t *image, uint8_t *marks, int32_t i, const NeighbourOffsets &n) {
    const uint8_t v = image[i];
    int32_t alike = 0;
    for (int32_t k = 0; k < 8 && alike < kEnoughAlike; ++k)
        if (image[i + n.at[k]] == v) ++alike;
    if (alike >= kEnoughAlike) return false;
    marks[i] = kFlip;
    for (int32_t k = 0; k < 8; ++k) {
        const int32_t j = i + n.at[k];
        if (image[j] == v) marks[j] = static_cast<uint8_t>((marks[j] & kKeepHighBits) + kRecheck);
    }
    return true;
}

void flipMarked(uint8_t *image, uint8_t *marks, int32_t w, int32_t h) {
    const int32_t e = kExpandBorder;
    for (int32_t y = e; y < h - e; ++y)
        for (int32_t x = e; x < w - e; ++x) {
            const int32_t i = y * w + x;
            if (marks[i] != kFlip) continue;
            image[i] = image[i] == kBlack ? kWhite : kBlack;
            marks[i] = image[i];
        }
}

}  // namespace

int32_t binary(const uint8_t *filtered, const uint8_t *orient, uint8_t *out, int32_t w, int32_t h) {
    const LineOffsets line(w);
    const DirectionBins bins;
    const int32_t e = kExpandBorder;
    std::memset(out, kWhite, static_cast<size_t>(w * h));
    for (int32_t y = e; y < h - e; ++y)
        for (int32_t x = e; x < w - e; ++x) {
            const int32_t i = y * w + x;
            if (orient[i] == kNoOrientation) continue;
            const int32_t d = bins.of[orient[i]];
            const int32_t *along = line.at[d];
            int32_t sum = 0, weight = 0;
            for (int32_t k = 0; k < kTaps; ++k) {
                if (orient[i + along[k]] == kNoOrientation) continue;
                sum += kAlongTaps[k] * filtered[i + along[k]];
                weight += kAlongTaps[k];
            }
            const int32_t m1 = weight == kFullWeight ? sum / kFullWeight : (weight > 0 ? sum / weight : 0);
            const int32_t *across = line.at[(d + kDirections / 2) % kDirections];
            sum = 0;
            int32_t count = 0;
            for (int32_t k = 0; k < kTaps; ++k) {
                if (orient[i + across[k]] == kNoOrientation) continue;
                sum += filtered[i + across[k]];
                ++count;
            }
            const int32_t m2 = count == kFullCount ? sum / kFullCount : (count > 0 ? sum / count : 0);
            out[i] = m1 < m2 ? kBlack : kWhite;
        }
    return 0;
}

void binaryClear(uint8_t *image, const uint8_t *mask, uint8_t *scratch, int32_t w, int32_t h) {
    const NeighbourOffsets n(w);
    const int32_t e = kExpandBorder;
    std::memset(scratch, kSettled, static_cast<size_t>(w * h));

    bool changed = false;
    for (int32_t y = e; y < h - e; ++y)
        for (int32_t x = e; x < w - e; ++x) {
            const int32_t i = y * w + x;
            if (mask[i] < 255 && markLonelyPixel(image, scratch, i, n)) changed = true;
        }
    flipMarked(image, scratch, w, h);

    for (int32_t round = 0; round < kExtraRounds && changed; ++round) {
        changed = false;
        for (int32_t y = e; y < h - e; ++y)
            for (int32_t x = e; x < w - e; ++x) {
                const int32_t i = y * w + x;
                if (scratch[i] == kBlack || scratch[i] == kWhite) continue;
                if (markLonelyPixel(image, scratch, i, n))
                    changed = true;
                else
                    scratch[i] = kSettled;
            }
        flipMarked(image, scratch, w, h);
    }
}

int32_t binaryinversion(const uint8_t *image, uint8_t *out, const uint8_t *mask, int32_t w, int32_t h, int32_t frame) {
    std::memset(out, kWhite, static_cast<size_t>(w * h));
    for (int32_t y = frame; y < h - frame; ++y)
        for (int32_t x = frame; x < w - frame; ++x) {
            const int32_t i = y * w + x;
            if (mask[i] < 255 && image[i] == kWhite) out[i] = kBlack;
        }
    return 0;
}
