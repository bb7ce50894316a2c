// Alignment of two feature sets about an anchor pair: moving one set onto the
// other, pairing points by position and direction, counting the points that
// stay unpaired inside the other finger area, and how much of one finger mask
// lands on the other.
//
// A point p moves about the anchor a by the offset (dx, dy) and the rotation r:
//   x' = a.x + dx + (((p.x - a.x) cos r - (p.y - a.y) sin r + 256) >> 9)
//   y' = a.y + dy + (((p.x - a.x) sin r + (p.y - a.y) cos r + 256) >> 9)
//   angle' = (angle + r) mod 360
// with sine and cosine scaled by 512 and arithmetic shifts.
#ifndef QV_MINUTIAE_ALIGN_H
#define QV_MINUTIAE_ALIGN_H

#include <cstdint>

#include "core/featureset.h"
#include "core/pair_list.h"

// Selector of MinuMatchAlign: which side of the candidates names the knee
// points to move.
inline constexpr int32_t kAlignProbeSide = 0;      // waitIndex
inline constexpr int32_t kAlignReferenceSide = 1;  // tempIndex

// Fields of the trial score LibAlignMatch fills.
enum TrialScoreField : int32_t { kTrialPairScore = 0, kTrialPairs = 1, kTrialPairScoreAgain = 2, kTrialFields = 3 };

// Writes into dst the copy of src moved about src.points[anchor]: every
// minutia, and the knee points that some candidate names on the selected side
// (other knee slots stay zero). dst must be zero past the header on entry.
// Does nothing when anchor is not a point of src.
void MinuMatchAlign(const FeatureSet &src, FeatureSet &dst, const PairList &candidates, int32_t anchor, int32_t dx,
                    int32_t dy, int32_t r, int32_t selector);

// Pairs the aligned probe A with the reference B: confirmed descriptor
// candidates, then same-type minutiae, then cross-type minutiae. Fills trial
// (kTrialFields values) and the matched list, and marks pairState on both sets.
void LibAlignMatch(FeatureSet &A, FeatureSet &B, const PairList &candidates, int32_t *trial, PairList &matched);

// U (out): unpaired minutiae of each aligned set on a finger cell of the other
// mask. Returns N: knee candidates whose aligned points lie inside both masks.
int32_t CalNoMatchedNum3(const FeatureMask &refMask, const FeatureMask &probeMask, const FeatureSet &alignedRef,
                         const FeatureSet &alignedProbe, const PairList &candidates, int32_t &unpaired);

// Samples every second row and column of the probe mask, moved onto the
// reference mask about the probe anchor (pixels ax, ay) with the pixel offset
// (dx, dy) and rotation r, all in cell units. visited: sampled finger cells;
// overlapping: those landing on a finger cell of the reference mask.
void MaskOverlap(const FeatureMask &probeMask, const FeatureMask &refMask, int32_t ax, int32_t ay, int32_t dx,
                 int32_t dy, int32_t r, int32_t &visited, int32_t &overlapping);

// True when the pixel (x, y) lies on a finger cell of mask.
bool OnFingerCell(const FeatureMask &mask, int32_t x, int32_t y);
// True when the pixel (x, y) lies within the rectangle of mask.
bool InsideMask(const FeatureMask &mask, int32_t x, int32_t y);

#endif
