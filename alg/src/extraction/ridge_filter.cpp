#include "extraction/ridge_filter.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/algdef.h"
#include "core/fixedmath.h"

namespace {

constexpr int32_t kDirections = 18;
constexpr int32_t kTaps = 9;
constexpr uint8_t kNoOrientation = 255;
constexpr uint8_t kFill = 250;
constexpr int32_t kFilterTop = 250;
constexpr int32_t kAlongTaps[kTaps] = {4, 8, 16, 23, 26, 23, 16, 8, 4};
constexpr int32_t kAcrossTaps[kTaps] = {-11, -19, 0, 53, 82, 53, 0, -19, -11};

// Sum of the taps when every point of the line counts; dividing by this
// constant is much cheaper than by a variable weight.
constexpr int32_t kFullWeight = 128;

// Direction bin of every orientation, looked up once per call.
struct DirectionBins {
    uint8_t of[180];
    DirectionBins() {
        for (int32_t o = 0; o < 180; ++o) of[o] = static_cast<uint8_t>(DDIndex(o, kDirections));
    }
};

int32_t weightedMean(int32_t sum, int32_t weight) { return weight == kFullWeight ? sum / kFullWeight : sum / weight; }

struct LineOffsets {
    int32_t at[kDirections][kTaps];
    explicit LineOffsets(int32_t w) {
        for (int32_t d = 0; d < kDirections; ++d)
            for (int32_t i = 0; i < kTaps; ++i) at[d][i] = g_DSite9[d][i][1] * w + g_DSite9[d][i][0];
    }
};

}  // namespace

void orientFilter(uint8_t *image, const uint8_t *orient, uint8_t *scratch, int32_t w, int32_t h) {
    const LineOffsets line(w);
    const DirectionBins bins;
    const size_t n = static_cast<size_t>(w * h);
    const int32_t e = kExpandBorder;

    std::memset(scratch, kFill, n);
    for (int32_t y = e; y < h - e; ++y)
        for (int32_t x = e; x < w - e; ++x) {
            const int32_t i = y * w + x;
            if (orient[i] == kNoOrientation) continue;
            const int32_t *off = line.at[bins.of[orient[i]]];
            int32_t sum = 0, weight = 0;
            for (int32_t k = 0; k < kTaps; ++k) {
                if (orient[i + off[k]] == kNoOrientation) continue;
                sum += kAlongTaps[k] * image[i + off[k]];
                weight += kAlongTaps[k];
            }
            scratch[i] = weight > 0 ? static_cast<uint8_t>(weightedMean(sum, weight)) : kFill;
        }

    std::memset(image, kFill, n);
    for (int32_t y = e; y < h - e; ++y)
        for (int32_t x = e; x < w - e; ++x) {
            const int32_t i = y * w + x;
            if (orient[i] == kNoOrientation) continue;
            const int32_t across = (bins.of[orient[i]] + kDirections / 2) % kDirections;
            const int32_t *off = line.at[across];
            int32_t sum = 0, weight = 0;
            for (int32_t k = 0; k < kTaps; ++k) {
                if (orient[i + off[k]] == kNoOrientation) continue;
                sum += kAcrossTaps[k] * scratch[i + off[k]];
                weight += kAcrossTaps[k];
            }
            int32_t v = 0;
            if (weight > 0) {
                v = weightedMean(sum, weight);
                v = v < 0 ? 0 : (v > kFilterTop ? kFilterTop : v);
            }
            image[i] = static_cast<uint8_t>(v);
        }
}
