#include "extraction/skeleton_walk.h"

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

int32_t GetByDis(uint8_t *start, uint8_t **end, int32_t steps, int32_t w) {
    uint8_t *cur = nullptr;
    if (GetNext2(start, &cur, w) != 1) return 1;
    uint8_t *prev = start;
    for (int32_t s = 0;; ++s) {
        if (IsFork(cur, w)) {
            *end = prev;
            return 0;
        }
        uint8_t *next = nullptr;
        if (s == steps || GetNext(cur, prev, &next, w) != 0) break;
        prev = cur;
        cur = next;
    }
    *end = cur;
    return 0;
}

int32_t vwn_GetForkByDis(uint8_t *fork, uint8_t **reached, int32_t steps, int32_t w, int32_t *lengths) {
    lengths[0] = lengths[1] = lengths[2] = 0;
    const NeighbourOffsets n(w);
    uint8_t *branch[4];
    int32_t found = 0;
    for (int32_t k = 0; k < 8 && found < 4; ++k)
        if (fork[n.at[k]] == kBlack) branch[found++] = fork + n.at[k];
    if (found != 3) return 0;
    int32_t entries = 0;
    for (int32_t b = 0; b < 3; ++b) {
        uint8_t *prev = fork;
        uint8_t *cur = branch[b];
        for (int32_t s = 0; s < steps; ++s) {
            if (IsFork(cur, w)) {
                reached[entries] = cur;
                lengths[entries] = s;
                ++entries;
                break;
            }
            uint8_t *next = nullptr;
            if (GetNext(cur, prev, &next, w) != 0) break;
            prev = cur;
            cur = next;
        }
    }
    return entries;
}
