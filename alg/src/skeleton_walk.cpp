#include "skeleton_walk.h"

namespace {

constexpr int32_t kRunSum = 2 * kWhite;
constexpr int32_t kEndRuns = 1;
constexpr int32_t kForkRuns = 3;

}  // namespace

int32_t CrossingSum(const uint8_t *p, int32_t w) {
    const NeighbourOffsets n(w);
    int32_t sum = 0;
    for (int32_t k = 0; k < 8; ++k) {
        const int32_t d = p[n.at[(k + 1) & 7]] - p[n.at[k]];
        sum += d < 0 ? -d : d;
    }
    return sum;
}

bool IsEnd(const uint8_t *p, int32_t w) { return CrossingSum(p, w) == kEndRuns * kRunSum; }

bool IsFork(const uint8_t *p, int32_t w) { return CrossingSum(p, w) == kForkRuns * kRunSum; }

int32_t GetNext(uint8_t *cur, const uint8_t *prev, uint8_t **next, int32_t w) {
    const NeighbourOffsets n(w);
    uint8_t *found = nullptr;
    int32_t count = 0;
    for (int32_t k = 0; k < 8; ++k) {
        uint8_t *q = cur + n.at[k];
        if (q == prev || *q != kBlack) continue;
        found = q;
        ++count;
    }
    if (count != 1) return 1;
    *next = found;
    return 0;
}

int32_t GetNext2(uint8_t *cur, uint8_t **next, int32_t w) {
    const NeighbourOffsets n(w);
    uint8_t *found = nullptr;
    int32_t count = 0;
    for (int32_t k = 0; k < 8; ++k) {
        uint8_t *q = cur + n.at[k];
        if (*q != kBlack) continue;
        found = q;
        ++count;
    }
    if (count == 1) *next = found;
    return count;
}
