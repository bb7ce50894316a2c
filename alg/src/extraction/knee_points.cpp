#include "extraction/knee_points.h"

#include <cstring>

#include "core/fixedmath.h"
#include "extraction/skeleton_walk.h"

namespace {

// Starts are looked for this far inside the image, knee points kept this far.
constexpr int32_t kStartMargin = 30;
constexpr int32_t kKneeMargin = 37;
// Arm lengths (in trace points) of the knee angle and of the tie-break angle.
constexpr int32_t kArm = 7;
constexpr int32_t kWideArm = 9;
// Knee angles from this value up count as straight.
constexpr int32_t kStraightLimit = 177;
// Ridges with fewer points than this give no knee points.
constexpr int32_t kMinTraceLength = 16;
// Suppression radius; the wider one on prints with many ridge starts.
constexpr int32_t kSuppressRadius = 4;
constexpr int32_t kWideSuppressRadius = 5;
constexpr int32_t kManyStarts = 45;
// Two suppressed candidates this close with equal angles: the later one goes.
constexpr int32_t kNearTie = 2;
// A knee point this close to a minutia candidate is rejected.
constexpr int32_t kExclusionSide = 8;
constexpr int32_t kExclusionSquared = 56;
// Side of g_DisTbl.
constexpr int32_t kDisTblSide = 10;
// Largest image side: starts are stored as bytes.
constexpr int32_t kMaxImageSide = 256;

int32_t absValue(int32_t v) { return v < 0 ? -v : v; }
int32_t px(const PointRecord &p) { return static_cast<int32_t>(p.x); }
int32_t py(const PointRecord &p) { return static_cast<int32_t>(p.y); }

// Table distance of two points, or a value above every radius when they lie
// outside the table.
int32_t tableDistance(const PointRecord &a, const PointRecord &b) {
    const int32_t dx = absValue(px(a) - px(b));
    const int32_t dy = absValue(py(a) - py(b));
    if (dx >= kDisTblSide || dy >= kDisTblSide) return kDisTblSide * 2;
    return g_DisTbl[dy * kDisTblSide + dx];
}

struct Knee {
    int32_t angle;      // 0..180, 180 = straight
    int32_t direction;  // bisector of the two arms, 0..359
};

// Knee of trace point i with arms of k points; the caller checks the range.
Knee kneeAt(const PointRecord *trace, int32_t i, int32_t k) {
    const PointRecord &c = trace[i];
    const int32_t a1 = GetAngle(px(c), py(c), px(trace[i - k]), py(trace[i - k]));
    const int32_t a2 = GetAngle(px(c), py(c), px(trace[i + k]), py(trace[i + k]));
    const int32_t d = GetAngleDis(a1, a2);
    Knee knee{d > 179 ? 360 - d : d, (a1 + a2) >> 1};
    // The plain mean points away from the bend when the arms straddle 0.
    const int32_t larger = a1 > a2 ? a1 : a2;
    if (larger - knee.direction > 90) knee.direction += knee.direction < 180 ? 180 : -180;
    return knee;
}

bool nearCandidate(const PointRecord &p, const PointRecord *list, int32_t count) {
    for (int32_t c = 0; c < count; ++c) {
        const int32_t dx = px(p) - px(list[c]);
        const int32_t dy = py(p) - py(list[c]);
        if (absValue(dx) <= kExclusionSide && absValue(dy) <= kExclusionSide && dx * dx + dy * dy <= kExclusionSquared)
            return true;
    }
    return false;
}

struct RejectionRules {
    int32_t w;
    int32_t h;
    const uint8_t *grownMask;
    const PointRecord *forks;
    const PointRecord *endings;
    int32_t endingCount;
    int32_t forkCount;

    bool rejects(const PointRecord &p) const {
        if (p.value >= kStraightLimit) return true;
        const int32_t x = px(p), y = py(p);
        if (x < kKneeMargin || x >= w - kKneeMargin || y < kKneeMargin || y >= h - kKneeMargin) return true;
        if (grownMask[y * w + x] != 0) return true;
        return nearCandidate(p, endings, endingCount) || nearCandidate(p, forks, forkCount);
    }
};

// Keeps, among measured trace points within r steps and r pixels of each
// other, the one with the sharpest knee.
void suppressAlongRidge(PointRecord *trace, int32_t n, int32_t r) {
    const int32_t last = n - kArm - 1;
    for (int32_t i = kArm; i < last; ++i) {
        const int32_t jEnd = i + r < last ? i + r : last;
        for (int32_t j = i + 1; j <= jEnd; ++j) {
            PointRecord &a = trace[i];
            PointRecord &b = trace[j];
            if (a.flag != kKneeKept && b.flag != kKneeKept) continue;
            const int32_t dist = tableDistance(a, b);
            if (dist > r) continue;
            if (a.value > b.value) {
                a.flag = kKneeSuppressed;
            } else if (a.value < b.value) {
                b.flag = kKneeSuppressed;
            } else if (dist <= kNearTie) {
                b.flag = kKneeSuppressed;
            } else {
                // Equal angles further apart: the wider arms decide.
                uint8_t wideA = 0, wideB = 0;
                const bool okA = vwn_GetCurKneeAngletByRidge(trace, n, kWideArm, i, &wideA) == 0;
                const bool okB = vwn_GetCurKneeAngletByRidge(trace, n, kWideArm, j, &wideB) == 0;
                if (okA && !okB) {
                    b.flag = kKneeSuppressed;
                } else if (!okA && okB) {
                    a.flag = kKneeSuppressed;
                } else if (!okA) {
                    b.flag = kKneeSuppressed;
                } else if (wideB > wideA) {
                    b.flag = kKneeSuppressed;
                } else if (wideB < wideA) {
                    a.flag = kKneeSuppressed;
                }
            }
        }
    }
}

// The same thinning over the whole knee list, across ridges. The list keeps
// no ridge neighbours, so two points with equal knee angles more than two
// pixels apart cannot be told apart by wider arms: the earlier one is kept,
// as for equal angles close together. For one i the outcome of each j does
// not depend on the others, so only the rows within r of i are visited.
void suppressKneeList(PointRecord *list, int32_t count, int32_t r, int32_t h) {
    int16_t rowHead[kMaxImageSide];
    int16_t next[kKneeListCapacity];
    for (int32_t y = 0; y < h; ++y) rowHead[y] = -1;
    for (int32_t i = count - 1; i >= 0; --i) {  // each row in list order
        next[i] = rowHead[py(list[i])];
        rowHead[py(list[i])] = static_cast<int16_t>(i);
    }
    for (int32_t i = 0; i + 1 < count; ++i) {
        if (list[i].flag != kKneeKept) continue;
        const int32_t y0 = py(list[i]) - r > 0 ? py(list[i]) - r : 0;
        const int32_t y1 = py(list[i]) + r < h - 1 ? py(list[i]) + r : h - 1;
        for (int32_t y = y0; y <= y1; ++y) {
            for (int32_t j = rowHead[y]; j >= 0; j = next[j]) {
                if (j <= i || list[j].flag != kKneeKept) continue;
                const int32_t dx = absValue(px(list[i]) - px(list[j]));
                const int32_t dy = absValue(py(list[i]) - py(list[j]));
                if (dx > r || g_DisTbl[dy * kDisTblSide + dx] > r) continue;
                if (list[i].value > list[j].value)
                    list[i].flag = kKneeSuppressed;
                else
                    list[j].flag = kKneeSuppressed;
            }
        }
    }
}

// Appends the black neighbours of a fork to the start list when there are
// exactly three. Returns false when they do not fit.
bool appendForkBranches(const uint8_t *copy, const uint8_t *fork, int32_t w, uint8_t *starts, int32_t *count) {
    const NeighbourOffsets n(w);
    const uint8_t *branch[8];
    int32_t found = 0;
    for (int32_t k = 0; k < 8; ++k)
        if (fork[n.at[k]] == kBlack) branch[found++] = fork + n.at[k];
    if (found != 3) return true;
    if (*count + 3 > kStartCapacity) return false;
    for (int32_t b = 0; b < 3; ++b) {
        starts[2 * *count] = static_cast<uint8_t>(PX(branch[b], copy, w));
        starts[2 * *count + 1] = static_cast<uint8_t>(PY(branch[b], copy, w));
        ++*count;
    }
    return true;
}

// Collects the ridge starts of the copy: its endings and the branches of its
// forks (the forks are made white, which cuts the ridges apart). Returns the
// number of starts, or -1 when the start list fills up.
int32_t collectStarts(uint8_t *copy, int32_t w, int32_t h, uint8_t *starts) {
    const NeighbourOffsets offsets(w);
    int32_t count = 0;
    for (int32_t y = kStartMargin; y < h - kStartMargin; ++y) {
        uint8_t *row = copy + y * w;
        for (int32_t x = kStartMargin; x < w - kStartMargin; ++x) {
            uint8_t *p = row + x;
            if (*p != kBlack) continue;
            const int32_t crossing = ScanCrossingSum(p, offsets);
            if (crossing == kEndCrossing) {
                if (count >= kStartCapacity) return -1;
                starts[2 * count] = static_cast<uint8_t>(x);
                starts[2 * count + 1] = static_cast<uint8_t>(y);
                ++count;
            } else if (crossing == kForkCrossing) {
                *p = kWhite;
                if (!appendForkBranches(copy, p, w, starts, &count)) return -1;
            }
            if (count >= kStartCapacity) return -1;
        }
    }
    return count;
}

void whitenBorder(uint8_t *image, int32_t w, int32_t h) {
    std::memset(image, kWhite, static_cast<size_t>(w));
    std::memset(image + (h - 1) * w, kWhite, static_cast<size_t>(w));
    for (int32_t y = 1; y < h - 1; ++y) image[y * w] = image[y * w + w - 1] = kWhite;
}

}  // namespace

int32_t GetRidgeDis(uint8_t *start, const uint8_t *origin, uint8_t **end, PointRecord *trace, int32_t *status,
                    int32_t w, int32_t /*h*/) {
    *start = kWhite;
    *end = start;
    uint8_t *next = nullptr;
    int32_t count = GetNext2(start, &next, w);
    *status = count;
    if (count != 1) return 0;
    int32_t n = 0;
    uint8_t *cur = start;
    for (;;) {
        if (n < kTraceCapacity) {
            trace[n] = PointRecord{static_cast<uint32_t>(PX(cur, origin, w)), static_cast<uint32_t>(PY(cur, origin, w)),
                                   0, 0, kKneeKept};
        }
        ++n;
        if (count != 1) break;
        cur = next;
        *cur = kWhite;
        count = GetNext2(cur, &next, w);
    }
    *end = cur;
    *status = count;
    return n;
}

int32_t vwn_CalKneeOrinetByRidge(PointRecord *trace, int32_t n, int32_t k) {
    if (n - k - 1 <= k) return -1;
    for (int32_t i = k; i < n - k; ++i) {
        const Knee knee = kneeAt(trace, i, k);
        trace[i].angle = static_cast<uint32_t>(knee.direction);
        trace[i].value = knee.angle;
    }
    return 0;
}

int32_t vwn_GetCurKneeAngletByRidge(const PointRecord *trace, int32_t n, int32_t k, int32_t i, uint8_t *out) {
    // Both arms must end on recorded points: i - k >= 0 and i + k <= n - 1.
    if (n - k <= k || i < k || i + k > n - 1) return -1;
    *out = static_cast<uint8_t>(kneeAt(trace, i, k).angle);
    return 0;
}

int32_t vwn_GetKneePoint(const uint8_t *skeleton, const uint8_t *grownMask, KneeWorkspace *knees, uint8_t *copy,
                         int32_t w, int32_t h, const PointRecord *forks, const PointRecord *endings,
                         int32_t endingCount, int32_t forkCount, int32_t *kneeCount) {
    std::memset(knees, 0, sizeof *knees);
    *kneeCount = 0;
    // Starts are stored as bytes; smaller images have no room for a start.
    if (w > kMaxImageSide || h > kMaxImageSide) return kKneeOverflow;
    if (w <= 2 * kStartMargin || h <= 2 * kStartMargin) return 0;
    const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::memcpy(copy, skeleton, pixels);
    // Tracing follows ridges wherever they go; a white border keeps it inside.
    whitenBorder(copy, w, h);

    const int32_t startCount = collectStarts(copy, w, h, knees->starts);
    if (startCount < 0) return kKneeOverflow;
    const int32_t r = startCount > kManyStarts ? kWideSuppressRadius : kSuppressRadius;

    const RejectionRules rules{w, h, grownMask, forks, endings, endingCount, forkCount};
    PointRecord *trace = knees->trace;
    int32_t listed = 0;
    for (int32_t s = 0; s < startCount; ++s) {
        uint8_t *p = copy + knees->starts[2 * s + 1] * w + knees->starts[2 * s];
        if (*p != kBlack) continue;
        uint8_t *end = nullptr;
        int32_t status = 0;
        const int32_t n = GetRidgeDis(p, copy, &end, trace, &status, w, h);
        if (n > kTraceCapacity || n < kMinTraceLength) continue;
        if (vwn_CalKneeOrinetByRidge(trace, n, kArm) != 0) continue;
        for (int32_t i = kArm; i <= n - kArm - 1; ++i)
            if (rules.rejects(trace[i])) trace[i].flag = kKneeRejected;
        suppressAlongRidge(trace, n, r);
        for (int32_t i = kArm; i <= n - kArm - 1; ++i) {
            if (trace[i].flag != kKneeKept) continue;
            knees->knees[listed++] = trace[i];
            if (listed >= kKneeListCapacity) return kKneeOverflow;
        }
    }
    suppressKneeList(knees->knees, listed, r, h);
    std::memset(copy, 0, pixels);
    *kneeCount = listed;
    return 0;
}

int32_t CalKneePtMaxOrient(const FeatureSet *set) {
    int32_t counts[4] = {0, 0, 0, 0};
    const uint32_t first = set->minutiaCount;
    const uint32_t end = first + set->kneeCount;
    for (uint32_t i = first; i < end && i < static_cast<uint32_t>(kMaxFeaturePoints); ++i) {
        const uint32_t a = set->points[i].angle;
        if (a >= 136 && a <= 225)
            ++counts[0];
        else if (a >= 46 && a <= 135)
            ++counts[1];
        else if (a <= 45 || (a >= 316 && a <= 359))
            ++counts[2];
        else if (a >= 226 && a <= 315)
            ++counts[3];
    }
    int32_t best = 0;
    for (int32_t c = 1; c < 4; ++c)
        if (counts[c] > counts[best]) best = c;
    return best;
}
