// Descriptor matching: all-against-all comparison of descriptors within each
// point class, a ratio test against the second best match, one owner per
// reference point, and the heaviest candidates moved to the front.
#include "matching/descriptor_match.h"

#include <cstring>

#include "core/fixedmath.h"
#include "matching/match_rules.h"

namespace {

// A best match farther than this is no match.
constexpr int32_t kMaxBestDistance = 625;
// Ratio test limits in percent: general, and the stricter one when the best
// is a minutia but the runner-up a knee point.
constexpr int32_t kMaxRatio = 80;
constexpr int32_t kMaxRatioMinutiaOverKnee = 70;
constexpr int32_t kMaxBestDistanceMinutiaOverKnee = 468;
// Ratio at or below which the best index is reported even on rejection.
constexpr int32_t kEarlyIndexRatio = 79;
// A runner-up this far says the descriptors are unreliable.
constexpr int32_t kMaxSecondDistance = 32000;
// Points within this many pixels of a better match are near-duplicates, when
// their own distance is below kDuplicateDistance.
constexpr int32_t kDuplicateRadius = 4;
constexpr int32_t kDuplicateDistance = 565;
// Initial claim table entries.
constexpr int32_t kInitialRatio = 400;
// Candidates ordered by weight at the front of the list: the anchors.
constexpr uint32_t kSortedFront = 12;
// Most proposals one probe point can make.
constexpr int32_t kMaxProposals = 4;

int32_t pixelDistance(const Minutia &a, const Minutia &b) {
    return sqrt_256(static_cast<int32_t>(a.x) - static_cast<int32_t>(b.x),
                    static_cast<int32_t>(a.y) - static_cast<int32_t>(b.y));
}

// Best-match search over ref.points[begin, end).
int32_t searchRange(const FeatureSet &ref, uint32_t begin, uint32_t end, const Minutia &probe, int32_t &index,
                    int32_t &distance, uint8_t *flags) {
    index = -1;
    if (end < begin + 2) return kNoDescriptorMatch;
    const Minutia *p = ref.points;
    const int32_t d0 = Distance(probe, p[begin]);
    const int32_t d1 = Distance(probe, p[begin + 1]);
    // On equal distances the later point is the best.
    uint32_t best = d0 < d1 ? begin : begin + 1;
    uint32_t second = d0 < d1 ? begin + 1 : begin;
    int32_t bestD = d0 < d1 ? d0 : d1;
    int32_t secondD = d0 < d1 ? d1 : d0;
    for (uint32_t k = begin + 2; k < end; ++k) {
        const int32_t d = Distance(probe, p[k]);
        if (d < bestD) {
            if (pixelDistance(p[k], p[best]) > kDuplicateRadius) {
                second = best;
                secondD = bestD;
            } else if (bestD < kDuplicateDistance) {
                flags[best] = 1;
            }
            best = k;
            bestD = d;
        } else if (d < secondD) {
            if (pixelDistance(p[k], p[best]) > kDuplicateRadius) {
                second = k;
                secondD = d;
            } else if (secondD < kDuplicateDistance) {
                flags[second] = 1;
            }
        } else if (d < kDuplicateDistance && pixelDistance(p[k], p[best]) <= kDuplicateRadius) {
            flags[k] = 1;
        }
    }
    const int32_t ratio = secondD > 0 ? bestD * 100 / secondD : kNoDescriptorMatch;
    if (ratio <= kEarlyIndexRatio) index = static_cast<int32_t>(best);
    const bool minutiaOverKnee = best < ref.minutiaCount && second >= ref.minutiaCount;
    if (minutiaOverKnee) {
        if (ratio > kMaxRatioMinutiaOverKnee || bestD > kMaxBestDistanceMinutiaOverKnee) return kNoDescriptorMatch;
    } else if (ratio > kMaxRatio || bestD > kMaxBestDistance) {
        return kNoDescriptorMatch;
    }
    if (secondD > kMaxSecondDistance) return kNoDescriptorMatch;
    index = static_cast<int32_t>(best);
    distance = bestD;
    return ratio;
}

// Claim tables, one entry per reference point.
struct Claims {
    int32_t bestDistance[kMaxFeaturePoints];
    int32_t ratio[kMaxFeaturePoints];
    uint16_t owner[kMaxFeaturePoints];  // probe index + 1, 0 for none
};

void claim(Claims &c, int32_t refIndex, uint32_t probeIndex, int32_t ratio, int32_t distance) {
    if (distance >= c.bestDistance[refIndex]) return;
    c.bestDistance[refIndex] = distance;
    c.ratio[refIndex] = ratio;
    c.owner[refIndex] = static_cast<uint16_t>(probeIndex + 1);
}

// Euclidean distance within the duplicate radius.
bool withinDuplicateRadius(const Minutia &a, const Minutia &b) {
    const int32_t dx = static_cast<int32_t>(a.x) - static_cast<int32_t>(b.x);
    const int32_t dy = static_cast<int32_t>(a.y) - static_cast<int32_t>(b.y);
    return dx * dx + dy * dy <= kDuplicateRadius * kDuplicateRadius;
}

// Up to kMaxProposals + 1 nearest reference points of one probe point in
// [begin, end), none within the duplicate radius of a nearer one, nearest first.
struct Nearest {
    uint32_t index[kMaxProposals + 1];
    int32_t distance[kMaxProposals + 1];
    int32_t count;
};

void nearestOfKind(const FeatureSet &ref, uint32_t begin, uint32_t end, const Minutia &probe, int32_t wanted,
                   Nearest &out) {
    out.count = 0;
    for (uint32_t k = begin; k < end; ++k) {
        const int32_t d = Distance(probe, ref.points[k]);
        // Only a point that would enter the list is looked at further.
        if (out.count == wanted + 1 && d >= out.distance[wanted]) continue;
        // A nearer point within the radius stands for this one; a farther one gives way.
        int32_t near = -1;
        for (int32_t t = 0; t < out.count; ++t)
            if (withinDuplicateRadius(ref.points[k], ref.points[out.index[t]])) {
                near = t;
                break;
            }
        if (near >= 0) {
            if (d >= out.distance[near]) continue;
            for (int32_t u = near; u + 1 < out.count; ++u) {
                out.index[u] = out.index[u + 1];
                out.distance[u] = out.distance[u + 1];
            }
            --out.count;
        }
        int32_t pos = out.count;
        while (pos > 0 && out.distance[pos - 1] > d) --pos;
        if (pos > wanted) continue;
        const int32_t last = out.count < wanted + 1 ? out.count : wanted;
        for (int32_t u = last; u > pos; --u) {
            out.index[u] = out.index[u - 1];
            out.distance[u] = out.distance[u - 1];
        }
        out.index[pos] = k;
        out.distance[pos] = d;
        if (out.count < wanted + 1) ++out.count;
    }
}

}  // namespace

int32_t ProposeCandidates(const FeatureSet &ref, const FeatureSet &probe, PairList &list, const MatchRules &rules) {
    std::memset(list.nearDuplicate, 0, sizeof list.nearDuplicate);
    const int32_t wanted = rules.proposalsPerPoint < kMaxProposals ? rules.proposalsPerPoint : kMaxProposals;
    const uint32_t refEnd[3] = {ref.minutiaCount, ref.minutiaCount + ref.kneeCount, FeaturePointCount(ref)};
    const uint32_t probeEnd[3] = {probe.minutiaCount, probe.minutiaCount + probe.kneeCount, FeaturePointCount(probe)};
    uint32_t n = 0;
    uint32_t groupCount[3] = {0, 0, 0};
    for (int32_t g = 0; g < 3; ++g) {
        const uint32_t refBegin = g == 0 ? 0 : refEnd[g - 1];
        const uint32_t probeBegin = g == 0 ? 0 : probeEnd[g - 1];
        const uint32_t start = n;
        for (uint32_t j = probeBegin; j < probeEnd[g] && refEnd[g] >= refBegin + 2; ++j) {
            Nearest near;
            nearestOfKind(ref, refBegin, refEnd[g], probe.points[j], wanted, near);
            for (int32_t c = 0; c + 1 < near.count && c < wanted; ++c) {
                const int32_t d = near.distance[c];
                const int32_t next = near.distance[c + 1];
                const int32_t ratio = next > 0 ? d * 100 / next : kNoDescriptorMatch;
                if (d > kMaxBestDistance || ratio > (c == 0 ? kMaxRatio : rules.nextProposalRatio)) break;
                if (c == 0 && next > kMaxSecondDistance) break;
                if (n >= static_cast<uint32_t>(kMaxFeaturePoints)) break;
                const int32_t weight = (kMaxRatio - ratio) * 2;
                list.pairs[n++] =
                    CandidatePair{j, near.index[c], weight > rules.minProposalWeight ? weight : rules.minProposalWeight,
                                  kPairCandidate};
            }
        }
        groupCount[g] = n - start;
    }
    list.total = n;
    list.minutiaPairs = groupCount[0];
    list.kneePairs = groupCount[1];
    list.valleyKneePairs = groupCount[2];
    int32_t weightSum = 0;
    for (uint32_t k = 0; k < n; ++k) weightSum += list.pairs[k].weight;
    // The whole list heaviest first (stable): anchors first, and pairing takes
    // the strongest proposal of a point first.
    for (uint32_t p = 1; p < n; ++p) {
        const CandidatePair t = list.pairs[p];
        uint32_t q = p;
        while (q > 0 && list.pairs[q - 1].weight < t.weight) {
            list.pairs[q] = list.pairs[q - 1];
            --q;
        }
        list.pairs[q] = t;
    }
    return weightSum;
}

namespace {}  // namespace

int32_t Distance(const Minutia &a, const Minutia &b) {
    // Values lie in -128..127, so a difference fits 16 bits: written this way
    // the compiler multiplies and adds pairs of 16-bit lanes at once.
    int32_t sum = 0;
    for (int32_t i = 0; i < kDescriptorLength; ++i) {
        const int16_t d = static_cast<int16_t>(a.descriptor[i] - b.descriptor[i]);
        sum += d * d;
    }
    return sum;
}

int32_t PointMatchList(const FeatureSet &ref, const Minutia &probe, int32_t &index, int32_t &distance, uint8_t *flags) {
    return searchRange(ref, 0, ref.minutiaCount + ref.kneeCount, probe, index, distance, flags);
}

int32_t PointMatchList1(const FeatureSet &ref, const Minutia &probe, int32_t &index, int32_t &distance,
                        uint8_t *flags) {
    return searchRange(ref, ref.minutiaCount + ref.kneeCount, FeaturePointCount(ref), probe, index, distance, flags);
}

int32_t SiftMatch3(const FeatureSet &ref, const FeatureSet &probe, PairList &list) {
    const uint32_t refTotal = FeaturePointCount(ref);
    const uint32_t probeTotal = FeaturePointCount(probe);
    if (refTotal < 2 || probeTotal < 2) return 0;
    const MatchRules &rules = ActiveMatchRules();
    if (rules.proposalsPerPoint > 1) return ProposeCandidates(ref, probe, list, rules);

    // The owner table is 16 bits wide so that a probe of more than 254 points
    // (a merged template given as the probe) cannot wrap an owner.
    Claims c;
    for (int32_t i = 0; i < kMaxFeaturePoints; ++i) {
        c.bestDistance[i] = kMaxBestDistance;
        c.ratio[i] = kInitialRatio;
        c.owner[i] = 0;
    }
    std::memset(list.nearDuplicate, 0, sizeof list.nearDuplicate);

    const uint32_t refPlain = ref.minutiaCount + ref.kneeCount;
    const uint32_t probePlain = probe.minutiaCount + probe.kneeCount;
    for (uint32_t j = 0; j < probePlain; ++j) {
        int32_t i = -1;
        int32_t d = 0;
        const int32_t r = PointMatchList(ref, probe.points[j], i, d, list.nearDuplicate);
        if (r > kMaxRatio || i < 0 || static_cast<uint32_t>(i) >= refPlain) continue;
        const bool probeMinutia = j < probe.minutiaCount;
        const bool refMinutia = static_cast<uint32_t>(i) < ref.minutiaCount;
        if (probeMinutia != refMinutia) continue;
        claim(c, i, j, r, d);
    }
    for (uint32_t j = probePlain; j < probeTotal; ++j) {
        int32_t i = -1;
        int32_t d = 0;
        const int32_t r = PointMatchList1(ref, probe.points[j], i, d, list.nearDuplicate);
        if (r > kMaxRatio || i < 0 || static_cast<uint32_t>(i) < refPlain || static_cast<uint32_t>(i) >= refTotal)
            continue;
        claim(c, i, j, r, d);
    }

    // Entries in reference order, group by group.
    uint32_t n = 0;
    int32_t weightSum = 0;
    const uint32_t groupEnd[3] = {ref.minutiaCount, refPlain, refTotal};
    uint32_t groupCount[3] = {0, 0, 0};
    uint32_t i = 0;
    for (int32_t g = 0; g < 3; ++g) {
        const uint32_t start = n;
        for (; i < groupEnd[g]; ++i) {
            if (c.owner[i] == 0) continue;
            const int32_t weight = (kMaxRatio - c.ratio[i]) * 2;
            list.pairs[n++] = CandidatePair{static_cast<uint32_t>(c.owner[i] - 1), i, weight, kPairCandidate};
            weightSum += weight;
        }
        groupCount[g] = n - start;
    }
    list.total = n;
    list.minutiaPairs = groupCount[0];
    list.kneePairs = groupCount[1];
    list.valleyKneePairs = groupCount[2];

    // Exchange sort of the front: the heaviest candidates first.
    const uint32_t front = n < kSortedFront ? n : kSortedFront;
    for (uint32_t p = 0; p < front; ++p)
        for (uint32_t q = p + 1; q < n; ++q)
            if (list.pairs[q].weight > list.pairs[p].weight) {
                const CandidatePair t = list.pairs[p];
                list.pairs[p] = list.pairs[q];
                list.pairs[q] = t;
            }
    return weightSum;
}
