#include "extraction/false_minutiae.h"

#include "core/fixedmath.h"
#include "extraction/skeleton_walk.h"

namespace {

// Ending pairs further apart than this are left alone.
constexpr int32_t kPairDistance = 14;
// Facing endings and side-by-side endings without edge flags must be closer
// than this.
constexpr int32_t kNearDistance = 13;
// Ending pairs this close always go.
constexpr int32_t kMergeDistance = 5;
// An ending and a bifurcation this close both go.
constexpr int32_t kEndingForkDistance = 5;
// Bifurcations closer than this both go.
constexpr int32_t kForkForkDistance = 4;
// Branch lengths (steps) of the bifurcation tests.
constexpr int32_t kForkSearch = 20;
constexpr int32_t kShortBranch = 10;
constexpr int32_t kMediumBranch = 12;
constexpr int32_t kLoopLength = 18;
// Half-width of the ridge search between side-by-side endings when the
// endings are nearly level.
constexpr int32_t kMinSearchRadius = 2;
constexpr int32_t kLevelOffset = 5;

int32_t absValue(int32_t v) { return v < 0 ? -v : v; }
int32_t px(const PointRecord &p) { return static_cast<int32_t>(p.x); }
int32_t py(const PointRecord &p) { return static_cast<int32_t>(p.y); }
bool within(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

int32_t distance(const PointRecord &a, const PointRecord &b) { return sqrt_256(py(a) - py(b), px(a) - px(b)); }

uint8_t *pixel(uint8_t *image, const PointRecord &p, int32_t w) { return image + py(p) * w + px(p); }

// Direction in which the ridge leaves an ending, or false when it cannot be
// walked.
bool ridgeDirection(uint8_t *ridge, const PointRecord &p, int32_t w, int32_t *direction) {
    uint8_t *end = nullptr;
    if (GetByDis(pixel(ridge, p, w), &end, kDirectionWalk, w) != 0) return false;
    *direction = GetAngle(px(p), py(p), PX(end, ridge, w), PY(end, ridge, w));
    return true;
}

// The turn from an ending's ridge direction to its partner points roughly
// across the ridge, neither along it nor back.
bool pointsAcross(int32_t turn) { return !(turn <= 29 || turn >= 331 || within(turn, 151, 209)); }

// True when a ridge pixel lies on the short line through the midpoint of two
// side-by-side endings, along the axis in which they are further apart.
bool ridgeBetween(const uint8_t *ridge, const PointRecord &a, const PointRecord &b, int32_t w) {
    const int32_t mx = (px(a) + px(b)) / 2;
    const int32_t my = (py(a) + py(b)) / 2;
    const int32_t dx = absValue(px(a) - px(b));
    const int32_t dy = absValue(py(a) - py(b));
    if (dy <= dx) {
        const int32_t r = dy > kLevelOffset ? dy / 2 : kMinSearchRadius;
        for (int32_t x = mx - r; x <= mx + r; ++x)
            if (ridge[my * w + x] == kBlack) return true;
    } else {
        const int32_t r = dx > kLevelOffset ? dx / 2 : kMinSearchRadius;
        for (int32_t y = my - r; y <= my + r; ++y)
            if (ridge[y * w + mx] == kBlack) return true;
    }
    return false;
}

enum class PairVerdict { kKeep, kRemove, kStopI };

// Rules for two endings 6 to 14 pixels apart.
PairVerdict judgeEndingPair(uint8_t *ridge, const PointRecord &a, const PointRecord &b, int32_t dist, int32_t w) {
    int32_t ai = 0, aj = 0;
    if (!ridgeDirection(ridge, a, w, &ai)) return PairVerdict::kStopI;
    if (!ridgeDirection(ridge, b, w, &aj)) return PairVerdict::kKeep;
    const int32_t d = GetAngleDis(ai, aj);
    const bool facing = dist < kNearDistance && d > 89 && d < 271;
    const bool sideBySide = !facing && (d <= 60 || d >= 300) && ((a.flag != 0 && b.flag != 0) || dist < kNearDistance);
    if (!facing && !sideBySide) return PairVerdict::kKeep;
    const int32_t e = GetAngleDis(ai, GetAngle(px(a), py(a), px(b), py(b)));
    const int32_t f = GetAngleDis(aj, GetAngle(px(b), py(b), px(a), py(a)));
    if (facing) {
        // Each ridge runs away from the other ending: one ridge with a gap.
        return within(e, 150, 210) && within(f, 150, 210) ? PairVerdict::kRemove : PairVerdict::kKeep;
    }
    if (!pointsAcross(e) || !pointsAcross(f)) return PairVerdict::kKeep;
    return ridgeBetween(ridge, a, b, w) ? PairVerdict::kKeep : PairVerdict::kRemove;
}

}  // namespace

void RemoveEndingPairs(MinutiaeWorkspace *ws, int32_t endingCount, uint8_t *ridge, int32_t w) {
    for (int32_t i = 0; i < endingCount; ++i) {
        if (ws->endingFalse[i]) continue;
        const PointRecord &a = ws->endings[i];
        bool falseI = false;
        for (int32_t j = 0; j < endingCount; ++j) {
            // Earlier live endings have already been compared with this one.
            if (j == i || (j < i && !ws->endingFalse[j])) continue;
            const PointRecord &b = ws->endings[j];
            const int32_t dist = distance(a, b);
            if (dist > kPairDistance) continue;
            PairVerdict verdict = PairVerdict::kRemove;
            if (dist > kMergeDistance) verdict = judgeEndingPair(ridge, a, b, dist, w);
            if (verdict == PairVerdict::kStopI) break;
            if (verdict == PairVerdict::kRemove) {
                falseI = true;
                ws->endingFalse[j] = 1;
            }
        }
        if (falseI) ws->endingFalse[i] = 1;
    }
}

void RemoveEndingsNearForks(MinutiaeWorkspace *ws, int32_t endingCount, int32_t forkCount) {
    for (int32_t e = 0; e < endingCount; ++e) {
        if (ws->endingFalse[e]) continue;
        bool any = false;
        for (int32_t f = 0; f < forkCount; ++f) {
            if (distance(ws->endings[e], ws->forks[f]) > kEndingForkDistance) continue;
            ws->forkFalse[f] = 1;
            any = true;
        }
        if (any) ws->endingFalse[e] = 1;
    }
    for (int32_t f = 0; f < forkCount; ++f) {
        if (ws->forkFalse[f]) continue;
        bool any = false;
        for (int32_t e = 0; e < endingCount; ++e) {
            if (distance(ws->endings[e], ws->forks[f]) > kEndingForkDistance) continue;
            ws->endingFalse[e] = 1;
            any = true;
        }
        if (any) ws->forkFalse[f] = 1;
    }
}

void RemoveForkPairs(MinutiaeWorkspace *ws, int32_t forkCount) {
    for (int32_t i = 0; i < forkCount; ++i) {
        if (ws->forkFalse[i]) continue;
        for (int32_t j = 0; j < forkCount; ++j) {
            if (j == i || (j < i && !ws->forkFalse[j])) continue;
            if (distance(ws->forks[i], ws->forks[j]) >= kForkForkDistance) continue;
            ws->forkFalse[i] = 1;
            ws->forkFalse[j] = 1;
        }
    }
}

void RemoveShortForkBranches(MinutiaeWorkspace *ws, int32_t forkCount, uint8_t *ridge, int32_t w) {
    for (int32_t i = 0; i < forkCount; ++i) {
        if (ws->forkFalse[i]) continue;
        const PointRecord &fork = ws->forks[i];
        uint8_t *at = pixel(ridge, fork, w);
        if (ws->removedForks[at - ridge]) {
            ws->forkFalse[i] = 1;
            continue;
        }
        uint8_t *reached[3] = {nullptr, nullptr, nullptr};
        int32_t len[3] = {0, 0, 0};
        const int32_t found = vwn_GetForkByDis(at, reached, kForkSearch, w, len);
        const bool smooth = fork.value > kSmoothScore;

        // Removing marks the bifurcation reached, which then goes as well.
        auto remove = [&](int32_t b) {
            ws->forkFalse[i] = 1;
            ws->removedForks[reached[b] - ridge] = 1;
        };
        auto shortBranch = [&](int32_t length) { return length < kShortBranch || (length < kMediumBranch && smooth); };
        auto single = [&](int32_t b) {
            if (shortBranch(len[b])) remove(b);
        };
        // Two branches that meet at the same bifurcation: a loop.
        auto loop = [&](int32_t a, int32_t b) {
            const int32_t shorter = len[a] < len[b] ? len[a] : len[b];
            if (len[a] + len[b] < kLoopLength || shortBranch(shorter)) remove(a);
        };

        if (found == 1) {
            if (len[0] < kShortBranch) remove(0);
        } else if (found == 2) {
            if (reached[0] == reached[1]) {
                loop(0, 1);
            } else {
                single(0);
                single(1);
            }
        } else if (found == 3) {
            if (reached[0] == reached[1]) {
                loop(0, 1);
                single(2);
            } else if (reached[0] == reached[2]) {
                loop(0, 2);
                single(1);
            } else if (reached[1] == reached[2]) {
                loop(1, 2);
                single(0);
            } else {
                single(0);
                single(1);
                single(2);
            }
        }
    }
}
