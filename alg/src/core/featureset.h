// The in-memory form of a fingerprint: the points of one capture or of a merged
// template (FeatureSet) and where the finger is (FeatureMask), plus the pair of
// pointers the match workspace hands around (FeatureSlot, in QVAlgDll.h).
//
// Both records have a fixed capacity and every buffer that holds one has room
// for all of it; producers clear the whole record before they fill it, so
// points past the counts are zero bytes. Offsets inside the match and template
// workspaces are computed from these sizes, hence the layout checks below.
//
// Two coordinate frames are in use:
// - template frame: sensor pixel coordinates, one mask cell per 4 x 4 pixels
//   of the sensor area (templates, and extraction after CutBackFeatures);
// - working frame: points shifted by +32 pixels in x and y and the mask grown
//   by an 8-cell background border on every side (every decoded set, merging).
#ifndef QV_FEATURESET_H
#define QV_FEATURESET_H

#include <cstddef>
#include <cstdint>

#include "QVAlgDll.h"
#include "core/algdef.h"

// Capacity of a FeatureSet, all three point groups together.
inline constexpr int32_t kMaxFeaturePoints = 800;
// Values of a point's gradient descriptor.
inline constexpr int32_t kDescriptorLength = 24;
// Capacity of a FeatureMask in cells, working-frame border included.
inline constexpr int32_t kMaxMaskCells = 50176;
// Side of a mask cell in pixels.
inline constexpr int32_t kCellPixels = 4;
// Background border that the working frame adds around the mask, in cells.
inline constexpr int32_t kMaskBorderCells = 8;
// Shift of every point from the template frame to the working frame, in pixels.
inline constexpr int32_t kWorkingFrameShift = kMaskBorderCells * kCellPixels;
static_assert(kWorkingFrameShift == kExpandBorder, "the working frame border is the expanded-image border");

// Mask cell values.
inline constexpr uint8_t kMaskFinger = 0;
inline constexpr uint8_t kMaskBackground = 255;

// Minutia kinds (Minutia::type of a minutia; knee points carry other values).
inline constexpr uint32_t kMinutiaKind1 = 1;
inline constexpr uint32_t kMinutiaKind2 = 2;

// One point: a minutia (ridge ending or bifurcation) or a knee point.
struct Minutia {
    uint32_t x;                             // column in pixels
    uint32_t y;                             // row in pixels
    uint32_t angle;                         // direction in degrees, 0..359
    uint8_t edgeFlag;                       // 1 when the point lies near the finger boundary
    uint8_t hitCount;                       // captures that had the point inside their finger area (1..7)
    uint8_t mergeCount;                     // merges in which the point was paired (0..7)
    uint8_t pairState;                      // alignment working state, 0 unpaired; never stored
    uint8_t weakFlag;                       // 1 on a saturated spot: never an alignment anchor
    uint32_t type;                          // minutia kind 1 or 2; for a knee point what the detector left
    uint32_t coverage;                      // part of the descriptor window inside the image, 0..55
    int16_t descriptor[kDescriptorLength];  // each value in -128..127
};

// Points in the order minutiae, ridge knee points, valley knee points; the
// counts never add up to more than kMaxFeaturePoints.
struct FeatureSet {
    uint32_t minutiaCount;     // at most 255 in a template
    uint32_t kneeCount;        // knee points of the ridge skeleton
    uint32_t valleyKneeCount;  // knee points of the valley skeleton
    uint32_t dryWet;           // dry/wet strength; templates keep the low byte
    Minutia points[kMaxFeaturePoints];
};

// Finger area in cells of 4 x 4 pixels, row-major, kMaskFinger or kMaskBackground.
struct FeatureMask {
    uint32_t width;   // in cells
    uint32_t height;  // in cells
    uint8_t cells[kMaxMaskCells];
};

// Workspace layouts (template creation, matching) count on these sizes.
static_assert(sizeof(Minutia) == 76 && offsetof(Minutia, edgeFlag) == 12 && offsetof(Minutia, type) == 20 &&
              offsetof(Minutia, coverage) == 24 && offsetof(Minutia, descriptor) == 28);
static_assert(sizeof(FeatureSet) == 60816 && offsetof(FeatureSet, points) == 16);
static_assert(sizeof(FeatureMask) == 50184 && offsetof(FeatureMask, cells) == 8);

// Number of points of all three groups.
inline uint32_t FeaturePointCount(const FeatureSet &set) {
    return set.minutiaCount + set.kneeCount + set.valleyKneeCount;
}

#endif
