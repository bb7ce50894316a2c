// Canvas merge: placement of both captures on one canvas, the merged points
// (reference points first in each group, then the probe points the reference
// does not already stand for), duplicate removal, and the merged finger mask.
#include "matching/image_merge.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/fixedmath.h"
#include "core/template_codec.h"

namespace {

// Full descriptor coverage: the whole window lay inside the image.
constexpr uint32_t kFullCoverage = 55;
constexpr int32_t kMaxCount = 7;
// A point mapped closer than this to the other capture's frame edge is not seen by it.
constexpr int32_t kVisibleMargin = 37;
// Neighbours probed around a mapped point that falls on a background cell.
constexpr int32_t kVisibleReach = 3;
// Mask cells left out at each side of the source masks.
constexpr int32_t kProbeMaskFarMargin = 10;
constexpr int32_t kRefMaskFarMargin = 9;
// Largest |offset| of a usable alignment, in pixels: far beyond any canvas.
constexpr int32_t kMaxOffset = 1 << 14;

int32_t coord(uint32_t v) { return static_cast<int32_t>(v); }
uint8_t capped(int32_t v) { return static_cast<uint8_t>(v < kMaxCount ? v : kMaxCount); }
int64_t evenFloor(int64_t v) { return v & ~static_cast<int64_t>(1); }
int64_t absValue(int64_t v) { return v < 0 ? -v : v; }

// The rotation of the merge: probe onto reference is r, s and c are sine and
// cosine of -r.
struct Rotation {
    int32_t r;
    int64_t s;
    int64_t c;
};

struct Mapped {
    int32_t x;
    int32_t y;
};

// Probe point to the frame where its anchor a lands at (a + shift).
Mapped probeTo(const Minutia &p, const Minutia &a, int64_t shiftX, int64_t shiftY, const Rotation &rot) {
    const int64_t ex = coord(p.x) - static_cast<int64_t>(coord(a.x));
    const int64_t ey = coord(p.y) - static_cast<int64_t>(coord(a.y));
    const int64_t x = coord(a.x) + shiftX + ((ex * rot.c + ey * rot.s + 256) >> 9);
    const int64_t y = coord(a.y) + shiftY + ((ey * rot.c - ex * rot.s + 256) >> 9);
    return Mapped{static_cast<int32_t>(evenFloor(x)), static_cast<int32_t>(evenFloor(y))};
}

// Reference point to the probe frame, b being the reference anchor.
Mapped refToProbe(const Minutia &p, const Minutia &b, int64_t dx, int64_t dy, const Rotation &rot) {
    const int64_t ex = coord(p.x) - static_cast<int64_t>(coord(b.x));
    const int64_t ey = coord(p.y) - static_cast<int64_t>(coord(b.y));
    const int64_t x = coord(b.x) - dx + ((ex * rot.c - ey * rot.s + 256) >> 9);
    const int64_t y = coord(b.y) - dy + ((ey * rot.c + ex * rot.s + 256) >> 9);
    return Mapped{static_cast<int32_t>(evenFloor(x)), static_cast<int32_t>(evenFloor(y))};
}

struct MergeInputs {
    FeatureSet &ref;
    const FeatureMask &refMask;
    const FeatureSet &probe;
    const FeatureMask &probeMask;
    const PairList &matched;
    const Minutia &refAnchor;
    const Minutia &probeAnchor;
    int32_t dx;
    int32_t dy;
    Rotation rot;
    MergeCanvas canvas;
    int16_t refPartner[kMaxFeaturePoints];    // probe index paired with a reference point, -1 none
    int16_t probePartner[kMaxFeaturePoints];  // reference index paired with a probe point, -1 none
};

bool maskUsable(const FeatureMask &mask) {
    return mask.width >= 2 * static_cast<uint32_t>(kMaskBorderCells) &&
           mask.height >= 2 * static_cast<uint32_t>(kMaskBorderCells) &&
           static_cast<uint64_t>(mask.width) * mask.height <= static_cast<uint64_t>(kMaxMaskCells);
}

bool setUsable(const FeatureSet &set) {
    return static_cast<uint64_t>(set.minutiaCount) + set.kneeCount + set.valleyKneeCount <=
           static_cast<uint64_t>(kMaxFeaturePoints);
}

// Appends the reference point i to out.
void addReferencePoint(const MergeInputs &in, uint32_t i, bool knee, FeatureSet &out, uint32_t &n) {
    const Minutia &p = in.ref.points[i];
    Minutia m = p;
    m.x = static_cast<uint32_t>(coord(p.x) + in.canvas.refShiftX);
    m.y = static_cast<uint32_t>(coord(p.y) + in.canvas.refShiftY);
    const int16_t partner = in.refPartner[i];
    if (p.pairState != 0 && partner >= 0) {
        const Minutia &q = in.probe.points[partner];
        if (p.coverage < kFullCoverage) {
            if (q.coverage > p.coverage) {
                const Mapped at = probeTo(q, in.probeAnchor, in.canvas.probeShiftX, in.canvas.probeShiftY, in.rot);
                m.x = static_cast<uint32_t>(at.x);
                m.y = static_cast<uint32_t>(at.y);
                m.angle = static_cast<uint32_t>((coord(q.angle) + in.rot.r + 360) % 360);
                m.type = q.type;
                m.coverage = q.coverage;
                std::memcpy(m.descriptor, q.descriptor, sizeof m.descriptor);
                m.edgeFlag = knee ? q.edgeFlag : 0;
            } else {
                m.edgeFlag = 1;
            }
        }
        m.hitCount = capped(p.hitCount + q.hitCount);
        m.mergeCount = capped(p.mergeCount + q.mergeCount + 1);
    } else {
        if (!knee && p.coverage < kFullCoverage) m.edgeFlag = 1;
        const Mapped at = refToProbe(p, in.refAnchor, in.dx, in.dy, in.rot);
        if (VisibleIn(in.probeMask, at.x, at.y)) m.hitCount = capped(p.hitCount + 1);
    }
    out.points[n++] = m;
}

// Appends the probe point j to out unless its reference partner stands for it.
void addProbePoint(const MergeInputs &in, uint32_t j, bool knee, FeatureSet &out, uint32_t &n) {
    const Minutia &p = in.probe.points[j];
    if (p.pairState == kPairDescriptor) return;
    if (!knee && (p.pairState == kPairSameType || p.pairState == kPairCrossType)) {
        const int16_t partner = in.probePartner[j];
        if (partner >= 0 && in.ref.points[partner].coverage != p.coverage) return;
    }
    Minutia m = p;
    const Mapped at = probeTo(p, in.probeAnchor, in.canvas.probeShiftX, in.canvas.probeShiftY, in.rot);
    m.x = static_cast<uint32_t>(at.x);
    m.y = static_cast<uint32_t>(at.y);
    m.angle = static_cast<uint32_t>((coord(p.angle) + in.rot.r + 360) % 360);
    m.pairState = 0;
    const Mapped seen = probeTo(p, in.probeAnchor, in.dx, in.dy, in.rot);
    if (VisibleIn(in.refMask, seen.x, seen.y)) m.hitCount = capped(p.hitCount + 1);
    out.points[n++] = m;
}

void mergePoints(const MergeInputs &in, FeatureSet &out) {
    const FeatureSet &ref = in.ref;
    const FeatureSet &probe = in.probe;
    const uint32_t refBounds[4] = {0, ref.minutiaCount, ref.minutiaCount + ref.kneeCount, FeaturePointCount(ref)};
    const uint32_t probeBounds[4] = {0, probe.minutiaCount, probe.minutiaCount + probe.kneeCount,
                                     FeaturePointCount(probe)};
    uint32_t n = 0;
    uint32_t counts[3] = {0, 0, 0};
    for (int32_t g = 0; g < 3; ++g) {
        const bool knee = g > 0;
        // A template carries at most 255 minutiae; further ones are left out
        // rather than making the merged template unwritable.
        const uint32_t limit = knee ? static_cast<uint32_t>(kMaxFeaturePoints)
                                    : (kMaxTemplateMinutiae < static_cast<uint32_t>(kMaxFeaturePoints)
                                           ? kMaxTemplateMinutiae
                                           : static_cast<uint32_t>(kMaxFeaturePoints));
        const uint32_t start = n;
        for (uint32_t i = refBounds[g]; i < refBounds[g + 1]; ++i) {
            if (n >= static_cast<uint32_t>(kMaxFeaturePoints) || n - start >= limit) break;
            if (in.matched.nearDuplicate[i]) continue;
            addReferencePoint(in, i, knee, out, n);
        }
        for (uint32_t j = probeBounds[g]; j < probeBounds[g + 1]; ++j) {
            if (n >= static_cast<uint32_t>(kMaxFeaturePoints) || n - start >= limit) break;
            addProbePoint(in, j, knee, out, n);
        }
        counts[g] = n - start;
    }
    out.minutiaCount = counts[0];
    out.kneeCount = counts[1];
    out.valleyKneeCount = counts[2];
    out.dryWet = 0;
}

void mergeMasks(const MergeInputs &in, FeatureMask &out) {
    const int32_t cw = in.canvas.width / kCellPixels;
    const int32_t ch = in.canvas.height / kCellPixels;
    out.width = static_cast<uint32_t>(cw);
    out.height = static_cast<uint32_t>(ch);
    std::memset(out.cells, kMaskBackground, static_cast<size_t>(cw) * static_cast<size_t>(ch));

    // Probe part: every merged cell looks up its source cell, rotated back by -r.
    const FeatureMask &pm = in.probeMask;
    const int32_t pw = coord(pm.width);
    const int32_t ph = coord(pm.height);
    const int64_t ax = coord(in.probeAnchor.x) >> 2;
    const int64_t ay = coord(in.probeAnchor.y) >> 2;
    const int64_t ox = ax + (in.canvas.probeShiftX >> 2);
    const int64_t oy = ay + (in.canvas.probeShiftY >> 2);
    for (int32_t row = 0; row < ch; ++row) {
        for (int32_t col = 0; col < cw; ++col) {
            const int64_t ex = col - ox;
            const int64_t ey = row - oy;
            const int64_t sx = ax + ((ex * in.rot.c - ey * in.rot.s + 256) >> 9);
            const int64_t sy = ay + ((ex * in.rot.s + ey * in.rot.c + 256) >> 9);
            if (sx < kMaskBorderCells || sx > pw - kProbeMaskFarMargin || sy < kMaskBorderCells ||
                sy > ph - kProbeMaskFarMargin)
                continue;
            if (pm.cells[sy * pw + sx] == kMaskFinger) out.cells[row * cw + col] = kMaskFinger;
        }
    }

    // Reference part: a plain shift.
    const FeatureMask &rm = in.refMask;
    const int32_t rw = coord(rm.width);
    const int32_t rh = coord(rm.height);
    const int32_t sx = in.canvas.refShiftX >> 2;
    const int32_t sy = in.canvas.refShiftY >> 2;
    for (int32_t row = kMaskBorderCells; row <= rh - kRefMaskFarMargin; ++row) {
        for (int32_t col = kMaskBorderCells; col <= rw - kRefMaskFarMargin; ++col) {
            if (rm.cells[row * rw + col] != kMaskFinger) continue;
            const int32_t mx = col + sx;
            const int32_t my = row + sy;
            if (mx >= 0 && my >= 0 && mx < cw && my < ch) out.cells[my * cw + mx] = kMaskFinger;
        }
    }
}

// One axis of the canvas placement.
void placeAxis(int64_t offset, int64_t anchor, int64_t minRotated, int64_t rotatedSize, int64_t refSize, int64_t &size,
               int64_t &refShift, int64_t &probeShift) {
    if (offset <= -minRotated - anchor) {
        refShift = -anchor - minRotated - offset;
        probeShift = -minRotated - anchor;
        size = rotatedSize > refShift + refSize ? rotatedSize : refShift + refSize;
    } else {
        refShift = 0;
        probeShift = offset;
        const int64_t reach = rotatedSize + offset + anchor + minRotated;
        size = reach > refSize ? reach : refSize;
    }
    size = (size + 3) & ~static_cast<int64_t>(3);
}

}  // namespace

MergeCanvas MergeCanvasFor(const FeatureMask &refMask, const FeatureMask &probeMask, int32_t ax, int32_t ay, int32_t dx,
                           int32_t dy, int32_t r) {
    const int32_t rp = (360 - r % 360) % 360;
    const int64_t s = sin512(rp);
    const int64_t c = cos512(rp);
    const int64_t w = static_cast<int64_t>(probeMask.width) * kCellPixels;
    const int64_t h = static_cast<int64_t>(probeMask.height) * kCellPixels;
    const int64_t rw = static_cast<int64_t>(refMask.width) * kCellPixels;
    const int64_t rh = static_cast<int64_t>(refMask.height) * kCellPixels;
    const int64_t cw = ((absValue(s) * h + absValue(c) * w + 512) >> 10) * 2;
    const int64_t chh = ((absValue(s) * w + absValue(c) * h + 512) >> 10) * 2;
    int64_t minX = 0;
    int64_t minY = 0;
    for (int32_t k = 0; k < 4; ++k) {
        const int64_t ex = ((k & 1) ? w - 1 : 0) - ax;
        const int64_t ey = ((k & 2) ? h - 1 : 0) - ay;
        const int64_t x = ((ex * c + ey * s + 512) >> 10) * 2;
        const int64_t y = ((ey * c - ex * s + 512) >> 10) * 2;
        if (k == 0 || x < minX) minX = x;
        if (k == 0 || y < minY) minY = y;
    }
    int64_t width = 0;
    int64_t height = 0;
    int64_t refX = 0;
    int64_t refY = 0;
    int64_t probeX = 0;
    int64_t probeY = 0;
    placeAxis(dx, ax, minX, cw, rw, width, refX, probeX);
    placeAxis(dy, ay, minY, chh, rh, height, refY, probeY);
    auto clamp32 = [](int64_t v) {
        return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
    };
    return MergeCanvas{clamp32(width), clamp32(height), clamp32(refX), clamp32(refY), clamp32(probeX), clamp32(probeY)};
}

bool VisibleIn(const FeatureMask &mask, int32_t x, int32_t y) {
    const int64_t w = static_cast<int64_t>(mask.width) * kCellPixels;
    const int64_t h = static_cast<int64_t>(mask.height) * kCellPixels;
    if (x < kVisibleMargin || x > w - kVisibleMargin || y < kVisibleMargin || y > h - kVisibleMargin) return false;
    auto finger = [&mask](int32_t px, int32_t py) {
        const int64_t cx = px >> 2;
        const int64_t cy = py >> 2;
        if (cx < 0 || cy < 0 || cx >= mask.width || cy >= mask.height) return false;
        return mask.cells[cy * mask.width + cx] == kMaskFinger;
    };
    if (finger(x, y)) return true;
    return finger(x - kVisibleReach, y) && finger(x + kVisibleReach, y) && finger(x, y - kVisibleReach) &&
           finger(x, y + kVisibleReach);
}

int32_t ImageMerge2(FeatureSet &ref, const FeatureMask &refMask, const FeatureSet &probe, const FeatureMask &probeMask,
                    const FeatureSlot *out, const int32_t *result, const PairList &matched) {
    // Renewal hands over whatever the last match left; refuse anything that
    // is not a consistent alignment of two decoded sets.
    if (out == nullptr || out->set == nullptr || out->mask == nullptr || result == nullptr) return 1;
    if (!setUsable(ref) || !setUsable(probe) || !maskUsable(refMask) || !maskUsable(probeMask)) return 1;
    if (matched.total > static_cast<uint32_t>(kMaxFeaturePoints)) return 1;
    const int32_t r = result[kResultRotation];
    const int32_t dx = result[kResultDx];
    const int32_t dy = result[kResultDy];
    const int32_t i = result[kResultRefAnchor];
    const int32_t j = result[kResultProbeAnchor];
    if (r < 0 || r >= 360 || dx <= -kMaxOffset || dx >= kMaxOffset || dy <= -kMaxOffset || dy >= kMaxOffset) return 1;
    if (i < 0 || static_cast<uint32_t>(i) >= FeaturePointCount(ref) || j < 0 ||
        static_cast<uint32_t>(j) >= FeaturePointCount(probe))
        return 1;
    const Minutia &probeAnchor = probe.points[j];
    const Minutia &refAnchor = ref.points[i];
    if (coord(probeAnchor.x) < 0 || coord(probeAnchor.x) >= kMaxOffset || coord(probeAnchor.y) < 0 ||
        coord(probeAnchor.y) >= kMaxOffset)
        return 1;

    const MergeCanvas canvas =
        MergeCanvasFor(refMask, probeMask, coord(probeAnchor.x), coord(probeAnchor.y), dx, dy, r);
    // A canvas beyond the capacity of a mask is refused, not cropped: the
    // merge would silently lose finger area.
    if (canvas.width <= 0 || canvas.height <= 0) return 1;
    const int64_t cells = static_cast<int64_t>(canvas.width / kCellPixels) * (canvas.height / kCellPixels);
    if (cells > kMaxMaskCells) return 1;

    const int32_t rp = (360 - r) % 360;
    MergeInputs in{ref,       refMask,     probe, probeMask, matched,
                   refAnchor, probeAnchor, dx,    dy,        Rotation{r, sin512(rp), cos512(rp)},
                   canvas,    {},          {}};
    for (int32_t k = 0; k < kMaxFeaturePoints; ++k) in.refPartner[k] = in.probePartner[k] = -1;
    const uint32_t refTotal = FeaturePointCount(ref);
    const uint32_t probeTotal = FeaturePointCount(probe);
    for (uint32_t k = 0; k < matched.total; ++k) {
        const CandidatePair &e = matched.pairs[k];
        if (e.tempIndex >= refTotal || e.waitIndex >= probeTotal) continue;
        in.refPartner[e.tempIndex] = static_cast<int16_t>(e.waitIndex);
        in.probePartner[e.waitIndex] = static_cast<int16_t>(e.tempIndex);
    }

    FeatureSet &merged = *out->set;
    std::memset(&merged, 0, sizeof merged);
    mergePoints(in, merged);
    RemoveDuplicates(merged, ref);
    mergeMasks(in, *out->mask);
    return 0;
}
