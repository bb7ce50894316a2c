#include "extraction/skeleton_repair.h"

#include <cstring>

#include "core/algdef.h"
#include "extraction/skeleton_walk.h"

namespace {

// Centre of a plus-shaped knot: three black neighbours whose four-neighbour
// counts add up to 10.
constexpr int32_t kKnotSum = 10;
constexpr int32_t kKnotCount = 3;
// Ending whose only neighbour is a fork of three.
constexpr int32_t kSpurSum = 3;
// Line pixel between two line pixels that touch each other.
constexpr int32_t kCornerSum = 6;
constexpr int32_t kCornerCount = 2;
// Three forks of three in an L.
constexpr int32_t kLKnotSum = 9;
constexpr int32_t kLKnotCount = 3;
// A pixel that makes a clean line has six white neighbours.
constexpr int32_t kLineWhiteNeighbours = 6;

constexpr int8_t kFourDy[4] = {1, 0, -1, 0};
constexpr int8_t kFourDx[4] = {0, 1, 0, -1};

struct Images {
    uint8_t *skeleton;
    uint8_t *n;
    uint8_t *s;
    int32_t w;
    int32_t h;
    NeighbourOffsets eight;
    int32_t four[4];

    Images(uint8_t *skel, uint8_t *counts, uint8_t *sums, int32_t width, int32_t height)
        : skeleton(skel), n(counts), s(sums), w(width), h(height), eight(width) {
        for (int32_t k = 0; k < 4; ++k) four[k] = kFourDy[k] * w + kFourDx[k];
    }

    template <typename F>
    void forWindow(F f) const {
        const int32_t e = kExpandBorder;
        for (int32_t y = e; y < h - e; ++y)
            for (int32_t x = e; x < w - e; ++x) f(y * w + x);
    }

    void erase(int32_t i) const {
        skeleton[i] = kWhite;
        n[i] = 0;
        s[i] = 0;
    }

    // Lowers a count that is not 0 yet.
    void dropCount(int32_t i) const {
        if (n[i] != 0) --n[i];
    }

    // Adds delta to the count of every eight-neighbour of i whose count is not 0.
    void adjustNeighbourCounts(int32_t i, int32_t delta) const {
        for (int32_t k = 0; k < 8; ++k) {
            const int32_t j = i + eight.at[k];
            if (n[j] != 0) n[j] = static_cast<uint8_t>(n[j] + delta);
        }
    }

    void sumEightNeighbours() const {
        std::memset(s, 0, static_cast<size_t>(w * h));
        forWindow([&](int32_t i) {
            if (n[i] == 0) return;
            int32_t sum = 0;
            for (int32_t k = 0; k < 8; ++k) sum += n[i + eight.at[k]];
            s[i] = static_cast<uint8_t>(sum);
        });
    }

    // With pixel i made white: true when it has exactly two black neighbours
    // and they touch each other, so i adds nothing to the line. Their offsets
    // are returned in j1 and j2.
    bool redundant(int32_t i, int32_t *j1, int32_t *j2) const {
        int32_t found = 0;
        int32_t dy[2] = {0, 0}, dx[2] = {0, 0}, at[2] = {0, 0};
        for (int32_t k = 0; k < 8; ++k) {
            if (skeleton[i + eight.at[k]] != kBlack) continue;
            if (found < 2) {
                dy[found] = kNeighbourDy[k];
                dx[found] = kNeighbourDx[k];
                at[found] = i + eight.at[k];
            }
            ++found;
        }
        *j1 = at[0];
        *j2 = at[1];
        const int32_t ddx = dx[0] - dx[1], ddy = dy[0] - dy[1];
        return found == 2 && ddx * ddx + ddy * ddy < 3;
    }

    int32_t whiteNeighbours(int32_t i) const {
        int32_t count = 0;
        for (int32_t k = 0; k < 8; ++k)
            if (skeleton[i + eight.at[k]] == kWhite) ++count;
        return count;
    }
};

void removeKnotCentres(const Images &m) {
    m.forWindow([&](int32_t i) {
        if (m.skeleton[i] != kBlack) return;
        int32_t count = 0;
        for (int32_t k = 0; k < 8; ++k)
            if (m.skeleton[i + m.eight.at[k]] == kBlack) ++count;
        m.n[i] = static_cast<uint8_t>(count);
    });
    m.forWindow([&](int32_t i) {
        if (m.n[i] == 0) return;
        int32_t sum = 0;
        for (int32_t k = 0; k < 4; ++k) sum += m.n[i + m.four[k]];
        m.s[i] = static_cast<uint8_t>(sum);
    });
    m.forWindow([&](int32_t i) {
        if (m.s[i] != kKnotSum || m.n[i] != kKnotCount) return;
        m.erase(i);
        for (int32_t k = 0; k < 4; ++k) {
            const int32_t j = i + m.four[k];
            m.dropCount(j);
        }
    });
}

void removeForkSpurs(const Images &m) {
    m.sumEightNeighbours();
    m.forWindow([&](int32_t i) {
        if (m.n[i] != 1 || m.s[i] != kSpurSum) return;
        m.erase(i);
        int32_t q = -1;
        for (int32_t k = 0; k < 8 && q < 0; ++k)
            if (m.skeleton[i + m.eight.at[k]] == kBlack) q = i + m.eight.at[k];
        if (q < 0) return;
        m.skeleton[q] = kWhite;
        int32_t j1, j2;
        if (m.redundant(q, &j1, &j2)) {
            m.n[q] = 0;
            m.dropCount(j1);
            m.dropCount(j2);
        } else {
            m.skeleton[q] = kBlack;
            m.dropCount(q);
        }
    });
}

void removeStaircaseCorners(const Images &m) {
    m.sumEightNeighbours();
    m.forWindow([&](int32_t i) {
        if (m.s[i] != kCornerSum || m.n[i] != kCornerCount) return;
        m.erase(i);
        int32_t j1, j2;
        if (m.redundant(i, &j1, &j2)) {
            m.dropCount(j1);
            m.dropCount(j2);
        } else {
            m.skeleton[i] = kBlack;
            m.n[i] = kCornerCount;
        }
    });
}

struct LKnotRound {
    int8_t sumDy[2], sumDx[2];  // the two cells summed besides the pixel
    int8_t primaryDy, primaryDx;
    int8_t fallbackDy, fallbackDx;
};

constexpr LKnotRound kLKnotRounds[4] = {
    {{0, 1}, {-1, 0}, 0, 1, -1, 0},
    {{0, 1}, {1, 0}, 0, -1, -1, 0},
    {{0, -1}, {-1, 0}, 0, 1, 1, 0},
    {{0, -1}, {1, 0}, 0, -1, 1, 0},
};

void repairLKnots(const Images &m, const LKnotRound &round) {
    const int32_t a = round.sumDy[0] * m.w + round.sumDx[0];
    const int32_t b = round.sumDy[1] * m.w + round.sumDx[1];
    std::memset(m.s, 0, static_cast<size_t>(m.w * m.h));
    m.forWindow([&](int32_t i) {
        if (m.n[i] != 0) m.s[i] = static_cast<uint8_t>(m.n[i] + m.n[i + a] + m.n[i + b]);
    });
    const int32_t primaryOffset = round.primaryDy * m.w + round.primaryDx;
    const int32_t fallbackOffset = round.fallbackDy * m.w + round.fallbackDx;
    m.forWindow([&](int32_t i) {
        if (m.s[i] != kLKnotSum || m.n[i] != kLKnotCount) return;
        m.erase(i);
        const int32_t primary = i + primaryOffset;
        m.skeleton[primary] = kBlack;
        const int32_t white = m.whiteNeighbours(primary);
        m.adjustNeighbourCounts(i, -1);
        if (white == kLineWhiteNeighbours) {
            m.n[primary] = kCornerCount;
            m.adjustNeighbourCounts(primary, +1);
        } else {
            m.skeleton[primary] = kWhite;
            const int32_t fallback = i + fallbackOffset;
            m.skeleton[fallback] = kBlack;
            m.n[fallback] = kCornerCount;
            m.adjustNeighbourCounts(fallback, +1);
        }
    });
}

}  // namespace

void vwn_ThinModify(uint8_t *skeleton, uint8_t *counts, uint8_t *sums, int32_t w, int32_t h) {
    const Images m(skeleton, counts, sums, w, h);
    std::memset(counts, 0, static_cast<size_t>(w * h));
    std::memset(sums, 0, static_cast<size_t>(w * h));
    removeKnotCentres(m);
    removeForkSpurs(m);
    removeStaircaseCorners(m);
    for (const LKnotRound &round : kLKnotRounds) repairLKnots(m, round);
}
