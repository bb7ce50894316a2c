// Canvas merge of two aligned feature sets: the reference set and mask stay
// as they are (shifted), the probe set and mask are rotated onto them, both
// land on one canvas large enough for both, duplicates are folded together
// and points that repeated captures never confirmed are pruned.
#ifndef QV_IMAGE_MERGE_H
#define QV_IMAGE_MERGE_H

#include <cstdint>

#include "core/featureset.h"
#include "core/pair_list.h"

// Where the two captures land on the merged canvas, all in working-frame pixels.
struct MergeCanvas {
    int32_t width;  // multiple of 4
    int32_t height;
    int32_t refShiftX;  // reference point (x, y) lands at (x + refShiftX, y + refShiftY)
    int32_t refShiftY;
    int32_t probeShiftX;  // probe anchor a lands at (a.x + probeShiftX, a.y + probeShiftY)
    int32_t probeShiftY;
};

// Canvas of a merge with the probe anchor (ax, ay), the best alignment's
// offset and rotation r, and both masks.
MergeCanvas MergeCanvasFor(const FeatureMask &refMask, const FeatureMask &probeMask, int32_t ax, int32_t ay, int32_t dx,
                           int32_t dy, int32_t r);

// Whether the pixel (x, y), already mapped into a capture's frame, lies on that
// capture's finger area (mask), clear of its border.
bool VisibleIn(const FeatureMask &mask, int32_t x, int32_t y);

// Merges probe onto ref along the alignment result (resultMax layout) and its
// matched list into out (working frame). ref is used as the working copy of
// the duplicate removal and is lost. Returns 0, or 1 when the inputs are not a
// consistent alignment or the canvas exceeds the capacity of a FeatureMask.
int32_t ImageMerge2(FeatureSet &ref, const FeatureMask &refMask, const FeatureSet &probe, const FeatureMask &probeMask,
                    const FeatureSlot *out, const int32_t *result, const PairList &matched);

// Duplicate removal, compaction and pruning of a merged set, with work as
// scratch for the copy.
void RemoveDuplicates(FeatureSet &merged, FeatureSet &work);

#endif
