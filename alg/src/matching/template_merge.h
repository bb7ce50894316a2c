// Template merging: after matching two templates (feature_match.h), refuse a
// weak alignment, otherwise lay both point sets and both finger masks onto one
// canvas (image_merge.h) and encode the result as a new template.
#ifndef QV_TEMPLATE_MERGE_H
#define QV_TEMPLATE_MERGE_H

#include <cstdint>

#include "matching/match_workspace.h"

// Results of a merge besides the match failures (-1, -10000).
inline constexpr int32_t kMergeDone = 0;
inline constexpr int32_t kMergeRefused = 1;

// Score an alignment needs before it is merged, from its minutia pairs and
// knee pairs (ridge and valley together).
int32_t RequiredMergeScore(int32_t minutiaPairs, int32_t kneePairs);

// Sampled finger cells that count as full overlap, per QV_CURRENT_VER value.
int32_t MergeOverlapDivisor(int32_t version);

// The merge decision and merge after the trials of FeatureMatch, on the best
// alignment in resultMax and ws.best. On success writes the template into out
// (at most QV_TEMPLATE_SIZE bytes) and the out-values and returns kMergeDone;
// on kMergeRefused nothing is written.
int32_t MergeAligned(const MatchWorkspace &ws, uint8_t *out, uint16_t *overlap, uint16_t *width, uint16_t *height);

// Cuts the merge slot back to the template frame and encodes it into out.
// Returns false, writing nothing, when the template would exceed
// QV_TEMPLATE_SIZE bytes. widthPixels and heightPixels get the mask size.
bool EncodeMergedSlot(const FeatureSlot &merged, uint8_t *out, uint16_t &widthPixels, uint16_t &heightPixels);

#endif
