// The match scratch: where one match lays out its sets, masks and pair
// lists, and the results it reports besides scores. Shared by the engine
// (feature_match.h) and the merge decision that runs on its best alignment
// (template_merge.h).
#ifndef QV_MATCH_WORKSPACE_H
#define QV_MATCH_WORKSPACE_H

#include <cstdint>

#include "core/featureset.h"
#include "core/pair_list.h"

// Results of FeatureMatch besides scores.
inline constexpr int32_t kMatchScratchTooSmall = -1;
inline constexpr int32_t kMatchDecodeFailed = -10000;
// Lowest score matching returns.
inline constexpr int32_t kMinMatchScore = -9999;
// Scores below this skip the final corrections.
inline constexpr int32_t kCorrectionScore = 30;
// An alignment with more than earlyStopPairs pairs and a score above this ends the search.
inline constexpr int32_t kEarlyStopScore = 50;

// The regions of the match scratch, in order: four feature sets, three masks,
// three pair lists.
struct MatchWorkspace {
    FeatureSet *ref;
    FeatureSet *probe;
    FeatureSet *alignedProbe;
    FeatureSet *alignedRef;  // also the merge result's set
    FeatureMask *refMask;
    FeatureMask *probeMask;
    FeatureMask *mergeMask;
    PairList *best;
    PairList *candidates;
    PairList *trial;
};
inline constexpr int32_t kMatchScratchSize = 4 * static_cast<int32_t>(sizeof(FeatureSet)) +
                                             3 * static_cast<int32_t>(sizeof(FeatureMask)) +
                                             3 * static_cast<int32_t>(sizeof(PairList));
static_assert(kMatchScratchSize == 434664);
// scratch must be 4-byte aligned and hold kMatchScratchSize bytes.
MatchWorkspace MatchWorkspaceAt(uint8_t *scratch);

#endif
