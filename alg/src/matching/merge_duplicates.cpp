// Duplicate removal after a canvas merge: unpaired minutiae that lie within 3
// pixels of another point are folded into it (their counts added), then the
// set is compacted and points that lay in several finger areas without ever
// being paired are dropped.
#include <cstring>

#include "core/fixedmath.h"
#include "matching/image_merge.h"

namespace {

constexpr int32_t kDuplicateRadius = 3;
constexpr int32_t kDuplicateAngle = 30;
// The weaker of two duplicates goes only when its descriptor coverage is below this.
constexpr uint32_t kWeakCoverage = 29;
constexpr int32_t kMaxCount = 7;
// Captures that may see a never-paired point before it is dropped.
constexpr int32_t kMinutiaUnconfirmedLimit = 3;
constexpr int32_t kKneeUnconfirmedLimit = 4;

uint8_t capped(int32_t v) { return static_cast<uint8_t>(v < kMaxCount ? v : kMaxCount); }

void fold(const Minutia &from, Minutia &into) {
    into.hitCount = capped(from.hitCount + into.hitCount);
    into.mergeCount = capped(from.mergeCount + into.mergeCount + 1);
}

bool near(const Minutia &a, const Minutia &b) {
    const int64_t ex = static_cast<int64_t>(static_cast<int32_t>(a.x)) - static_cast<int32_t>(b.x);
    const int64_t ey = static_cast<int64_t>(static_cast<int32_t>(a.y)) - static_cast<int32_t>(b.y);
    if (ex > kDuplicateRadius || ex < -kDuplicateRadius || ey > kDuplicateRadius || ey < -kDuplicateRadius)
        return false;
    return sqrt_256(static_cast<int32_t>(ex), static_cast<int32_t>(ey)) <= kDuplicateRadius;
}

// Both points unpaired and of one group: the weaker goes when it is weak enough.
// Returns true when a was removed.
bool resolveSameGroup(Minutia *p, uint8_t *removed, uint32_t a, uint32_t b) {
    if (AngleAbs360(static_cast<int32_t>(p[a].angle), static_cast<int32_t>(p[b].angle)) > kDuplicateAngle) return false;
    if (p[a].coverage == p[b].coverage) {
        if (p[a].coverage >= kWeakCoverage) return false;
        removed[a] = removed[b] = 1;
        return true;
    }
    const uint32_t weak = p[a].coverage < p[b].coverage ? a : b;
    const uint32_t strong = weak == a ? b : a;
    if (p[weak].coverage >= kWeakCoverage) return false;
    removed[weak] = 1;
    fold(p[weak], p[strong]);
    return weak == a;
}

// One pass: every unpaired point a of [firstBegin, firstEnd) against the later
// points of [firstBegin, laterEnd). Points from kneeBegin on are knee points.
void removePass(Minutia *p, uint8_t *removed, uint32_t firstBegin, uint32_t firstEnd, uint32_t laterEnd,
                uint32_t kneeBegin) {
    for (uint32_t a = firstBegin; a < firstEnd; ++a) {
        if (removed[a] || p[a].pairState != 0) continue;
        const bool aKnee = a >= kneeBegin;
        for (uint32_t b = a + 1; b < laterEnd; ++b) {
            if (!near(p[a], p[b])) continue;
            const bool bKnee = b >= kneeBegin;
            if (p[b].pairState == 0) {
                if (!aKnee && bKnee) {
                    removed[a] = 1;
                    fold(p[a], p[b]);
                    break;
                }
                if (resolveSameGroup(p, removed, a, b)) break;
            } else if (aKnee || !bKnee) {
                removed[a] = 1;
                fold(p[a], p[b]);
                break;
            }
        }
    }
}

}  // namespace

void RemoveDuplicates(FeatureSet &merged, FeatureSet &work) {
    std::memcpy(&work, &merged, sizeof(FeatureSet));
    const uint32_t mc = work.minutiaCount;
    const uint32_t plainEnd = mc + work.kneeCount;
    const uint32_t total = FeaturePointCount(work);
    uint8_t removed[kMaxFeaturePoints] = {};
    removePass(work.points, removed, 0, mc, plainEnd, mc);
    // Valley knee points only meet each other; all of them are knee points.
    removePass(work.points, removed, plainEnd, total, total, plainEnd);

    const uint32_t groupEnd[3] = {mc, plainEnd, total};
    uint32_t counts[3] = {0, 0, 0};
    uint32_t n = 0;
    uint32_t i = 0;
    for (int32_t g = 0; g < 3; ++g) {
        const int32_t limit = g == 0 ? kMinutiaUnconfirmedLimit : kKneeUnconfirmedLimit;
        for (; i < groupEnd[g]; ++i) {
            const Minutia &m = work.points[i];
            if (removed[i]) continue;
            if (m.pairState == 0 && m.hitCount - m.mergeCount > limit) continue;
            merged.points[n++] = m;
            ++counts[g];
        }
    }
    std::memset(&merged.points[n], 0, (kMaxFeaturePoints - n) * sizeof(Minutia));
    merged.minutiaCount = counts[0];
    merged.kneeCount = counts[1];
    merged.valleyKneeCount = counts[2];
    merged.dryWet = 0;
}
