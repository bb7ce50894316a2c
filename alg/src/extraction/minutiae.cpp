#include "extraction/minutiae.h"

#include <cstring>

#include "core/algdef.h"
#include "core/fixedmath.h"
#include "core/variant_rules.h"
#include "extraction/false_minutiae.h"
#include "extraction/skeleton_walk.h"

namespace {

// Candidates are looked for this far inside the expanded image.
constexpr int32_t kDetectionMargin = 37;
// Offsets at which the grown mask marks a candidate (edge at detection) or a
// written point (edgeFlag) as near the edge of the print.
constexpr int32_t kDetectionEdgeOffset = 16;
constexpr int32_t kPointEdgeOffset = 8;
// Largest orientation roughness of a real minutia.
constexpr int32_t kSmoothLimit = 250;
// White-spot map value of a saturated block.
constexpr uint8_t kWhiteSpotLimit = 254;
// Largest image side the knee search can store.
constexpr int32_t kMaxSide = 256;

// Radius-5 circle around a point as (dy, dx), in circular order.
constexpr int8_t kCircle[28][2] = {{0, -5}, {1, -5},  {2, -5},  {3, -4},  {4, -3},  {5, -2},  {5, -1},
                                   {5, 0},  {5, 1},   {5, 2},   {4, 3},   {3, 4},   {2, 5},   {1, 5},
                                   {0, 5},  {-1, 5},  {-2, 5},  {-3, 4},  {-4, 3},  {-5, 2},  {-5, 1},
                                   {-5, 0}, {-5, -1}, {-5, -2}, {-4, -3}, {-3, -4}, {-2, -5}, {-1, -5}};
constexpr int32_t kCirclePoints = 28;
constexpr int32_t kCircleStride = 3;

// Everything needed to write one point into the feature set.
struct PointWriter {
    FeatureSet *set;
    const uint8_t *whiteSpots;
    const uint8_t *orient;
    const uint8_t *grownMask;
    int32_t w;
    int32_t h;

    bool maskSetAround(int32_t x, int32_t y, int32_t d) const {
        return grownMask[y * w + x - d] != 0 || grownMask[y * w + x + d] != 0 || grownMask[(y - d) * w + x] != 0 ||
               grownMask[(y + d) * w + x] != 0;
    }

    // Saturated spot at the point's source position (outside reads as clear).
    uint8_t weakAt(int32_t x, int32_t y) const {
        const int32_t sw = w - 2 * kExpandBorder;
        const int32_t sh = h - 2 * kExpandBorder;
        const int32_t sx = x - kExpandBorder;
        const int32_t sy = y - kExpandBorder;
        if (sx < 0 || sy < 0 || sx >= sw || sy >= sh) return 0;
        return whiteSpots[sy * sw + sx] > kWhiteSpotLimit ? 1 : 0;
    }

    void write(int32_t k, int32_t x, int32_t y, uint32_t angle, uint32_t type) const {
        Minutia &m = set->points[k];
        m.x = static_cast<uint32_t>(x);
        m.y = static_cast<uint32_t>(y);
        m.angle = angle;
        m.type = type;
        m.edgeFlag = maskSetAround(x, y, kPointEdgeOffset) ? 1 : 0;
        m.hitCount = 1;
        m.mergeCount = 0;
        m.weakFlag = weakAt(x, y);
    }

    // Writes a minutia whose ridge runs in direction r: its angle is the
    // orientation turned to the side the ridge comes from. A point without an
    // orientation is not written.
    bool writeMinutia(int32_t k, int32_t x, int32_t y, int32_t r, uint32_t type) const {
        const int32_t o = orient[y * w + x];
        if (o > 179) return false;
        const int32_t turn = GetAngleDis(r, o);
        write(k, x, y, static_cast<uint32_t>(turn > 90 && turn < 270 ? o + 180 : o), type);
        return true;
    }
};

int32_t recordX(const PointRecord &p) { return static_cast<int32_t>(p.x); }
int32_t recordY(const PointRecord &p) { return static_cast<int32_t>(p.y); }

// Scans the skeleton for candidates. Returns 0, or the overflow code of the
// list that filled up.
int32_t detectCandidates(const uint8_t *ridge, const uint8_t *orient, const uint8_t *grownMask, int32_t w, int32_t h,
                         MinutiaeWorkspace *ws, int32_t *forkCount, int32_t *endingCount) {
    const NeighbourOffsets offsets(w);
    for (int32_t y = kDetectionMargin; y < h - kDetectionMargin; ++y) {
        for (int32_t x = kDetectionMargin; x < w - kDetectionMargin; ++x) {
            const uint8_t *p = ridge + y * w + x;
            if (*p != kBlack || grownMask[y * w + x] != 0) continue;
            const int32_t crossing = ScanCrossingSum(p, offsets);
            const bool fork = crossing == kForkCrossing;
            if (!fork && crossing != kEndCrossing) continue;
            int32_t *count = fork ? forkCount : endingCount;
            PointRecord &rec = (fork ? ws->forks : ws->endings)[*count];
            uint8_t *falseFlags = fork ? ws->forkFalse : ws->endingFalse;
            const int32_t d = kDetectionEdgeOffset;
            const bool nearEdge = grownMask[y * w + x - d] != 0 || grownMask[y * w + x + d] != 0 ||
                                  grownMask[(y - d) * w + x] != 0 || grownMask[(y + d) * w + x] != 0;
            rec = PointRecord{static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0, 0,
                              static_cast<uint8_t>(nearEdge ? 1 : 0)};
            const int32_t sum = MinutiaSmoothness(orient, x, y, w);
            if (sum <= kSmoothLimit) {
                rec.value = kSmoothLimit - sum;
            } else {
                falseFlags[*count] = 1;
                ++g_nFalseMinutiaNum;
            }
            if (++*count == kCandidateCapacity) return fork ? kTooManyForks : kTooManyEndings;
        }
    }
    return 0;
}

// Direction of a bifurcation: towards the middle of the two branches whose
// ends (8 steps out) lie closest together. False when the bifurcation does
// not have exactly three neighbours or a branch cannot be walked.
bool forkDirection(uint8_t *ridge, const PointRecord &fork, int32_t w, int32_t *direction) {
    const NeighbourOffsets n(w);
    uint8_t *at = ridge + recordY(fork) * w + recordX(fork);
    uint8_t *branch[8];
    int32_t found = 0;
    for (int32_t k = 0; k < 8; ++k)
        if (at[n.at[k]] == kBlack) branch[found++] = at + n.at[k];
    // Cut the branches apart so that each walk stays on its own branch.
    *at = kWhite;
    for (int32_t b = 0; b < found; ++b) *branch[b] = kWhite;
    bool ok = found == 3;
    int32_t ex[3] = {0, 0, 0}, ey[3] = {0, 0, 0};
    for (int32_t b = 0; ok && b < 3; ++b) {
        uint8_t *end = nullptr;
        ok = GetByDis(branch[b], &end, kDirectionWalk, w) == 0;
        if (ok) {
            ex[b] = PX(end, ridge, w);
            ey[b] = PY(end, ridge, w);
        }
    }
    *at = kBlack;
    for (int32_t b = 0; b < found; ++b) *branch[b] = kBlack;
    if (!ok) return false;

    auto squared = [&](int32_t a, int32_t b) {
        return (ex[a] - ex[b]) * (ex[a] - ex[b]) + (ey[a] - ey[b]) * (ey[a] - ey[b]);
    };
    const int32_t d01 = squared(0, 1), d02 = squared(0, 2), d12 = squared(1, 2);
    int32_t a = 0, b = 1;
    if (d12 < d01 && d12 < d02) {
        a = 1;
        b = 2;
    } else if (d02 < d01 && d02 < d12) {
        b = 2;
    }
    *direction = GetAngle(recordX(fork), recordY(fork), (ex[a] + ex[b]) >> 1, (ey[a] + ey[b]) >> 1);
    return true;
}

// Appends the kept knee points of a knee list that lie in smooth flow, up to
// kMaxPoints points in all. Returns the new point count.
int32_t appendKnees(const PointWriter &out, const PointRecord *knees, int32_t count, int32_t k) {
    for (int32_t i = 0; i < count && k < kMaxPoints; ++i) {
        const PointRecord &rec = knees[i];
        if (rec.flag != kKneeKept) continue;
        if (MinutiaSmoothness(out.orient, recordX(rec), recordY(rec), out.w) > kSmoothLimit) continue;
        out.write(k++, recordX(rec), recordY(rec), rec.angle, static_cast<uint32_t>(rec.value));
    }
    return k;
}

}  // namespace

int32_t MinutiaSmoothness(const uint8_t *orient, int32_t x, int32_t y, int32_t w) {
    const uint8_t *centre = orient + y * w + x;
    int32_t sum = 0;
    for (int32_t i = 0; i < kCirclePoints; ++i) {
        const int8_t *c = kCircle[i];
        const int8_t *c3 = kCircle[(i + kCircleStride) % kCirclePoints];
        sum += GetJiajiao(centre[c3[0] * w + c3[1]], centre[c[0] * w + c[1]]);
    }
    return sum;
}

int32_t vwn_getMinutia5(uint8_t *ridge, const uint8_t *valley, const uint8_t *whiteSpots, const uint8_t *orient,
                        const uint8_t *grownMask, FeatureSet *set, int32_t w, int32_t h, uint8_t *workspace,
                        int32_t workspaceSize) {
    if (workspaceSize < kMinutiaeWorkspaceSize) return kMinutiaeWorkspaceTooSmall;
    // The removed-fork map holds one byte per pixel and the knee search
    // stores coordinates as bytes.
    if (w <= 2 * kDetectionMargin || h <= 2 * kDetectionMargin || w > kMaxSide || h > kMaxSide ||
        w * h > kForkMapCapacity)
        return kMinutiaeWorkspaceTooSmall;
    auto *ws = reinterpret_cast<MinutiaeWorkspace *>(workspace);
    std::memset(ws, 0, sizeof *ws);
    g_nFalseMinutiaNum = 0;
    set->minutiaCount = set->kneeCount = set->valleyKneeCount = 0;

    int32_t forkCount = 0, endingCount = 0;
    const int32_t detected = detectCandidates(ridge, orient, grownMask, w, h, ws, &forkCount, &endingCount);
    if (detected != 0) return detected;

    int32_t ridgeKnees = 0;
    if (vwn_GetKneePoint(ridge, grownMask, &ws->knees, ws->removedForks, w, h, ws->forks, ws->endings, endingCount,
                         forkCount, &ridgeKnees) != 0)
        return kKneeOverflow;

    RemoveEndingPairs(ws, endingCount, ridge, w);
    if (endingCount > 0 && forkCount > 0) RemoveEndingsNearForks(ws, endingCount, forkCount);

    const PointWriter out{set, whiteSpots, orient, grownMask, w, h};
    int32_t k = 0;
    for (int32_t i = 0; i < endingCount && k < kMaxMinutiae; ++i) {
        if (ws->endingFalse[i]) continue;
        const PointRecord &e = ws->endings[i];
        uint8_t *end = nullptr;
        if (GetByDis(ridge + recordY(e) * w + recordX(e), &end, kDirectionWalk, w) != 0) continue;
        const int32_t r = GetAngle(recordX(e), recordY(e), PX(end, ridge, w), PY(end, ridge, w));
        if (out.writeMinutia(k, recordX(e), recordY(e), r, kMinutiaKind1)) ++k;
    }
    // Thirty endings leave no room for bifurcations.
    if (k < kMaxMinutiae) {
        RemoveForkPairs(ws, forkCount);
        RemoveShortForkBranches(ws, forkCount, ridge, w);
        for (int32_t i = 0; i < forkCount && k < kMaxMinutiae; ++i) {
            if (ws->forkFalse[i]) continue;
            const PointRecord &f = ws->forks[i];
            if (ws->removedForks[recordY(f) * w + recordX(f)]) {
                ws->forkFalse[i] = 1;
                continue;
            }
            int32_t r = 0;
            if (!forkDirection(ridge, f, w, &r)) continue;
            if (out.writeMinutia(k, recordX(f), recordY(f), r, kMinutiaKind2)) ++k;
        }
    }
    set->minutiaCount = static_cast<uint32_t>(k);

    k = appendKnees(out, ws->knees.knees, ridgeKnees, k);
    set->kneeCount = static_cast<uint32_t>(k) - set->minutiaCount;

    if (CurrentVariantRules().valleys) {
        // The removed-fork map is spent; the valley search may use it.
        int32_t valleyKnees = 0;
        if (vwn_GetKneePoint(valley, grownMask, &ws->knees, ws->removedForks, w, h, ws->forks, ws->endings, endingCount,
                             forkCount, &valleyKnees) != 0)
            return kKneeOverflow;
        k = appendKnees(out, ws->knees.knees, valleyKnees, k);
        set->valleyKneeCount = static_cast<uint32_t>(k) - set->minutiaCount - set->kneeCount;
    }
    return 0;
}
