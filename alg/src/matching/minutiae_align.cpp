// Alignment trial primitives: moving a set about an anchor, pairing points,
// counting the unpaired ones, and the mask overlap of an alignment.
#include "matching/minutiae_align.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/fixedmath.h"
#include "core/variant_rules.h"
#include "matching/match_rules.h"

namespace {

// Descriptor candidates are confirmed within these tolerances.
constexpr int32_t kCandidateDistance = 6;
constexpr int32_t kCandidateAngle = 15;
// Geometric minutia pairs: tolerances and pair score bases.
constexpr int32_t kGeometricDistance = 8;
constexpr int32_t kGeometricAngle = 10;
constexpr int32_t kPairBase = 55;
constexpr int32_t kCrossTypeBase = 45;
// Penalties when both or one of the paired minutiae lie near the finger edge.
constexpr int32_t kBothEdgePenalty = 10;
constexpr int32_t kOneEdgePenalty = 5;
// Full descriptor coverage squared: scales the weight of a confirmed candidate.
constexpr int32_t kFullCoverageSquared = 55 * 55;

int32_t absValue(int32_t v) { return v < 0 ? -v : v; }

int32_t coord(uint32_t v) { return static_cast<int32_t>(v); }

// Integer distance from the table; both components below 10.
int32_t tableDistance(int32_t ax, int32_t ay) { return g_DisTbl[ay * 10 + ax]; }

// Pair score of two minutiae by position and direction, or -1 when outside
// the geometric tolerances.
int32_t geometricScore(const Minutia &a, const Minutia &b, int32_t base) {
    const int32_t ddx = absValue(coord(a.x) - coord(b.x));
    if (ddx >= kGeometricDistance) return -1;
    const int32_t ddy = absValue(coord(a.y) - coord(b.y));
    if (ddy >= kGeometricDistance) return -1;
    const int32_t e = AngleAbs360(coord(b.angle), coord(a.angle));
    if (e >= kGeometricAngle) return -1;
    const int32_t g = tableDistance(ddx, ddy);
    if (g >= kGeometricDistance) return -1;
    int32_t score = base - 2 * (2 * g + e);
    if (a.edgeFlag && b.edgeFlag)
        score -= kBothEdgePenalty;
    else if (a.edgeFlag || b.edgeFlag)
        score -= kOneEdgePenalty;
    return score;
}

// Phases 2 and 3: each unpaired reference minutia takes the best-scoring
// unpaired probe minutia of the same (or a different) type.
void pairMinutiae(FeatureSet &A, FeatureSet &B, bool sameType, PairList &matched, int32_t &total) {
    const int32_t base = sameType ? kPairBase : kCrossTypeBase;
    const uint32_t probeState = sameType ? kPairSameType : kPairCrossType;
    for (uint32_t k = 0; k < B.minutiaCount; ++k) {
        Minutia &b = B.points[k];
        if (b.pairState != 0) continue;
        int32_t bestScore = 0;
        uint32_t best = 0;
        bool found = false;
        for (uint32_t m = 0; m < A.minutiaCount; ++m) {
            const Minutia &a = A.points[m];
            if (a.pairState != 0 || (a.type == b.type) != sameType) continue;
            const int32_t score = geometricScore(a, b, base);
            if (score > bestScore) {
                bestScore = score;
                best = m;
                found = true;
            }
        }
        if (!found || matched.total >= static_cast<uint32_t>(kMaxFeaturePoints)) continue;
        A.points[best].pairState = static_cast<uint8_t>(probeState);
        b.pairState = 1;
        matched.pairs[matched.total++] = CandidatePair{best, k, 0, probeState};
        total += bestScore;
    }
}

}  // namespace

void MinuMatchAlign(const FeatureSet &src, FeatureSet &dst, const PairList &candidates, int32_t anchor, int32_t dx,
                    int32_t dy, int32_t r, int32_t selector) {
    const uint32_t total = FeaturePointCount(src);
    if (anchor < 0 || static_cast<uint32_t>(anchor) >= total) return;
    uint8_t named[kMaxFeaturePoints];
    std::memset(named, 0, total < static_cast<uint32_t>(kMaxFeaturePoints) ? total : kMaxFeaturePoints);
    for (uint32_t k = 0; k < candidates.total; ++k) {
        const uint32_t i = selector == kAlignProbeSide ? candidates.pairs[k].waitIndex : candidates.pairs[k].tempIndex;
        if (i < static_cast<uint32_t>(kMaxFeaturePoints)) named[i] = 1;
    }
    const Minutia &a = src.points[anchor];
    const int32_t s = sin512(r);
    const int32_t c = cos512(r);
    for (uint32_t i = 0; i < total; ++i) {
        if (i >= src.minutiaCount && !named[i]) continue;
        const Minutia &p = src.points[i];
        Minutia &q = dst.points[i];
        const int32_t ex = coord(p.x) - coord(a.x);
        const int32_t ey = coord(p.y) - coord(a.y);
        q.x = static_cast<uint32_t>(coord(a.x) + dx + ((ex * c - ey * s + 256) >> 9));
        q.y = static_cast<uint32_t>(coord(a.y) + dy + ((ex * s + ey * c + 256) >> 9));
        q.angle = static_cast<uint32_t>((coord(p.angle) + r + 360) % 360);
        q.type = p.type;
        q.coverage = p.coverage;
        q.edgeFlag = p.edgeFlag;
        q.hitCount = p.hitCount;
        q.mergeCount = p.mergeCount;
        q.weakFlag = p.weakFlag;
    }
    dst.minutiaCount = src.minutiaCount;
    dst.kneeCount = src.kneeCount;
    dst.valleyKneeCount = src.valleyKneeCount;
}

void LibAlignMatch(FeatureSet &A, FeatureSet &B, const PairList &candidates, int32_t *trial, PairList &matched) {
    const uint32_t totalA = FeaturePointCount(A);
    const uint32_t totalB = FeaturePointCount(B);
    for (uint32_t i = 0; i < totalA; ++i) A.points[i].pairState = 0;
    for (uint32_t i = 0; i < totalB; ++i) B.points[i].pairState = 0;
    matched.total = matched.minutiaPairs = matched.kneePairs = matched.valleyKneePairs = 0;

    int32_t total = 0;
    uint32_t ridgeKnees = 0;
    uint32_t valleyKnees = 0;
    int32_t angleTolerance = kCandidateAngle;
    // A variant's knee tolerance holds from the first knee candidate on.
    const int32_t kneeAngle = CurrentVariantRules().kneeCandidateAngle;
    const uint32_t ridgeEnd = A.minutiaCount + A.kneeCount;
    // With several proposals per point a point pairs once, with its strongest proposal.
    const bool pairOnce = ActiveMatchRules().proposalsPerPoint > 1;
    for (uint32_t k = 0; k < candidates.total; ++k) {
        const CandidatePair &cand = candidates.pairs[k];
        const uint32_t ai = cand.waitIndex;
        const uint32_t bi = cand.tempIndex;
        if (ai >= totalA || bi >= totalB) continue;
        const bool knee = ai >= A.minutiaCount;
        if (knee && kneeAngle > 0) angleTolerance = kneeAngle;
        Minutia &a = A.points[ai];
        Minutia &b = B.points[bi];
        const int32_t e = AngleAbs360(coord(b.angle), coord(a.angle));
        const int32_t ddx = absValue(coord(a.x) - coord(b.x));
        const int32_t ddy = absValue(coord(a.y) - coord(b.y));
        if (e >= angleTolerance || ddx >= kCandidateDistance || ddy >= kCandidateDistance) continue;
        if (pairOnce && (a.pairState != 0 || b.pairState != 0)) continue;
        const int32_t g = tableDistance(ddx, ddy);
        if (g >= kCandidateDistance) continue;
        a.pairState = 1;
        b.pairState = 1;
        matched.pairs[matched.total++] = CandidatePair{ai, bi, 0, kPairDescriptor};
        const int32_t coverageProduct = coord(a.coverage) * coord(b.coverage);
        total += kPairBase - 2 * (2 * g + e) +
                 static_cast<int32_t>(static_cast<int64_t>(cand.weight) * coverageProduct / kFullCoverageSquared);
        if (knee) {
            if (ai < ridgeEnd)
                ++ridgeKnees;
            else
                ++valleyKnees;
        }
    }
    pairMinutiae(A, B, true, matched, total);
    pairMinutiae(A, B, false, matched, total);

    matched.kneePairs = ridgeKnees;
    matched.valleyKneePairs = valleyKnees;
    matched.minutiaPairs = matched.total - ridgeKnees - valleyKnees;
    trial[kTrialPairScore] = total;
    trial[kTrialPairs] = static_cast<int32_t>(matched.total);
    trial[kTrialPairScoreAgain] = total;
}

bool InsideMask(const FeatureMask &mask, int32_t x, int32_t y) {
    const int32_t cx = x >> 2;
    const int32_t cy = y >> 2;
    return cx >= 0 && cy >= 0 && cx < coord(mask.width) && cy < coord(mask.height);
}

bool OnFingerCell(const FeatureMask &mask, int32_t x, int32_t y) {
    if (!InsideMask(mask, x, y)) return false;
    return mask.cells[(y >> 2) * coord(mask.width) + (x >> 2)] == kMaskFinger;
}

int32_t CalNoMatchedNum3(const FeatureMask &refMask, const FeatureMask &probeMask, const FeatureSet &alignedRef,
                         const FeatureSet &alignedProbe, const PairList &candidates, int32_t &unpaired) {
    int32_t u = 0;
    for (uint32_t i = 0; i < alignedProbe.minutiaCount; ++i) {
        const Minutia &p = alignedProbe.points[i];
        if (p.pairState == 0 && OnFingerCell(refMask, coord(p.x), coord(p.y))) ++u;
    }
    for (uint32_t i = 0; i < alignedRef.minutiaCount; ++i) {
        const Minutia &p = alignedRef.points[i];
        if (p.pairState == 0 && OnFingerCell(probeMask, coord(p.x), coord(p.y))) ++u;
    }
    unpaired = u;

    int32_t n = 0;
    const uint32_t probeTotal = FeaturePointCount(alignedProbe);
    const uint32_t refTotal = FeaturePointCount(alignedRef);
    for (uint32_t k = 0; k < candidates.total; ++k) {
        const uint32_t wi = candidates.pairs[k].waitIndex;
        const uint32_t ti = candidates.pairs[k].tempIndex;
        if (wi < alignedProbe.minutiaCount || wi >= probeTotal || ti >= refTotal) continue;
        const Minutia &r = alignedRef.points[ti];
        const Minutia &p = alignedProbe.points[wi];
        if (InsideMask(probeMask, coord(r.x), coord(r.y)) && InsideMask(refMask, coord(p.x), coord(p.y))) ++n;
    }
    return n;
}

void MaskOverlap(const FeatureMask &probeMask, const FeatureMask &refMask, int32_t ax, int32_t ay, int32_t dx,
                 int32_t dy, int32_t r, int32_t &visited, int32_t &overlapping) {
    const int32_t cax = ax >> 2;
    const int32_t cay = ay >> 2;
    const int32_t cdx = dx >> 2;
    const int32_t cdy = dy >> 2;
    const int32_t s = sin512(r);
    const int32_t c = cos512(r);
    const int32_t w = coord(probeMask.width);
    const int32_t h = coord(probeMask.height);
    const int32_t rw = coord(refMask.width);
    const int32_t rh = coord(refMask.height);
    int32_t t = 0;
    int32_t o = 0;
    for (int32_t row = 0; row < h; row += 2) {
        for (int32_t col = 0; col < w; col += 2) {
            if (probeMask.cells[row * w + col] != kMaskFinger) continue;
            ++t;
            const int32_t ex = col - cax;
            const int32_t ey = row - cay;
            const int32_t x = cax + cdx + ((ex * c - ey * s + 256) >> 9);
            const int32_t y = cay + cdy + ((ex * s + ey * c + 256) >> 9);
            if (x >= 0 && y >= 0 && x < rw && y < rh && refMask.cells[y * rw + x] == kMaskFinger) ++o;
        }
    }
    visited = t;
    overlapping = o;
}
