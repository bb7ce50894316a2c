#include "extraction/thinning.h"

#include <cstring>

#include "QVAlgDll.h"
#include "extraction/skeleton_walk.h"

namespace {

// Thinning works one pixel further out than the other stages.
constexpr int32_t kThinFrame = 31;
// Longest trace of thinClear3 (the pipeline's long limit is 5).
constexpr int32_t kMaxTrace = 64;

// Erase-table index of a pixel: one bit per white neighbour, bit 0 below-left,
// 1 below, 2 below-right, 3 left, 4 right, 5 above-left, 6 above, 7 above-right.
int32_t eraseIndex(const uint8_t *p, int32_t w) {
    const uint8_t *below = p + w;
    const uint8_t *above = p - w;
    return (below[-1] == kWhite ? 1 : 0) | (below[0] == kWhite ? 2 : 0) | (below[1] == kWhite ? 4 : 0) |
           (p[-1] == kWhite ? 8 : 0) | (p[1] == kWhite ? 16 : 0) | (above[-1] == kWhite ? 32 : 0) |
           (above[0] == kWhite ? 64 : 0) | (above[1] == kWhite ? 128 : 0);
}

// One sweep along a line of pixels starting at `first`, `step` apart, `count`
// long; `across` is the offset of the two neighbours that let a pixel stay.
// Returns the number of erased pixels.
int32_t sweepLine(uint8_t *first, int32_t step, int32_t count, int32_t w) {
    int32_t erased = 0;
    for (int32_t k = 0; k < count;) {
        uint8_t *p = first + k * step;
        if (*p != kBlack || (p[-step] == kBlack && p[step] == kBlack)) {
            ++k;
            continue;
        }
        if (g_erasetable[eraseIndex(p, w)] == 1) {
            *p = kWhite;
            ++erased;
            k += 2;
        } else {
            ++k;
        }
    }
    return erased;
}

int32_t countBlackNeighbours(const uint8_t *p, const NeighbourOffsets &n) {
    int32_t count = 0;
    for (int32_t k = 0; k < 8; ++k)
        if (p[n.at[k]] == kBlack) ++count;
    return count;
}

uint8_t *firstBlackNeighbour(uint8_t *p, const NeighbourOffsets &n) {
    for (int32_t k = 0; k < 8; ++k)
        if (p[n.at[k]] == kBlack) return p + n.at[k];
    return nullptr;
}

// Follows the line from an ending and erases it when it is short.
void clearSpur(uint8_t *ending, bool nearEdge, int32_t w, int32_t shortLimit, int32_t longLimit,
               const NeighbourOffsets &n) {
    uint8_t *trace[kMaxTrace];
    int32_t appended = 0;
    bool atEnding = false;
    uint8_t *prev = ending;
    uint8_t *cur = firstBlackNeighbour(ending, n);
    const int32_t steps = longLimit < kMaxTrace ? longLimit : kMaxTrace;
    for (int32_t step = 0; step < steps; ++step) {
        if (IsFork(cur, w)) break;
        if (IsEnd(cur, w)) {
            atEnding = true;
            break;
        }
        trace[appended++] = cur;
        uint8_t *next = nullptr;
        if (GetNext(cur, prev, &next, w) != 0) break;
        prev = cur;
        cur = next;
    }
    const int32_t limit = (atEnding || nearEdge) ? shortLimit : longLimit;
    if (appended >= limit) return;
    *ending = kWhite;
    for (int32_t k = 0; k < appended; ++k) *trace[k] = kWhite;
}

}  // namespace

int32_t imageThin(uint8_t *image, uint8_t *scratch, int32_t w, int32_t h) {
    std::memcpy(scratch, image, static_cast<size_t>(w * h));
    const int32_t e = kThinFrame;
    for (;;) {
        int32_t erased = 0;
        for (int32_t y = e; y < h - e; ++y) erased += sweepLine(image + y * w + e, 1, w - 2 * e, w);
        for (int32_t x = e; x < w - e; ++x) erased += sweepLine(image + e * w + x, w, h - 2 * e, w);
        if (erased == 0) break;
    }
    return 0;
}

int32_t thinClear3(uint8_t *skeleton, const uint8_t *grownMask, int32_t w, int32_t h, int32_t shortLimit,
                   int32_t longLimit) {
    const NeighbourOffsets n(w);
    // Black pixels lie inside the thinning frame; the outermost ring is left
    // out so that every neighbour read stays inside the image.
    for (int32_t y = 1; y < h - 1; ++y)
        for (int32_t x = 1; x < w - 1; ++x) {
            uint8_t *p = skeleton + y * w + x;
            if (*p != kBlack) continue;
            const int32_t neighbours = countBlackNeighbours(p, n);
            if (neighbours == 0)
                *p = kWhite;
            else if (neighbours == 1)
                clearSpur(p, grownMask[y * w + x] != 0, w, shortLimit, longLimit, n);
        }
    return 0;
}
