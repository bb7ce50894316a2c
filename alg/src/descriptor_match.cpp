// Descriptor matching: all-against-all comparison of descriptors within each
// point class, a ratio test against the second best match, one owner per
// reference point, and the heaviest candidates moved to the front.
#include "descriptor_match.h"

#include <cstring>

#include "fixedmath.h"

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

}  // namespace

int32_t Distance(const Minutia &a, const Minutia &b) {
    int32_t sum = 0;
    for (int32_t i = 0; i < kDescriptorLength; ++i) {
        const int32_t d = a.descriptor[i] - b.descriptor[i];
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
