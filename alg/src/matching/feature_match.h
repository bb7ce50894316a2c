// Matching of two templates: descriptor candidates, anchor trials under seven
// rotations each, and the final corrections of the best trial's score by the
// overlap of the two finger areas and the spread of the matched points.
//
// The engine, FeatureMatch, serves both matching (no merge output) and merging
// (the merge decision of template_merge.h). Its best alignment stays in
// resultMax and pxlyMatchPtMax for the following merge or renewal.
#ifndef QV_FEATURE_MATCH_H
#define QV_FEATURE_MATCH_H

#include <cstdint>

#include "core/featureset.h"
#include "core/pair_list.h"
#include "core/variant_rules.h"
#include "matching/match_workspace.h"

// Pair limits of an alignment for a QV_CURRENT_VER value (variant_rules.h).
AlignmentLimits AlignmentLimitsFor(int32_t version);

// Score of one trial from its summed pair score, its ridge and valley knee
// pairs, the knee candidates inside both masks (N) and the unpaired minutiae
// inside the other finger area (U). False when the pair score is below one
// pair's worth: such a trial never counts.
bool TrialScore(int32_t pairScore, int32_t ridgeKneePairs, int32_t valleyKneePairs, int32_t kneeCandidates,
                int32_t unpaired, int32_t &score);

// Score change for an overlap of `overlapping` of `visited` sampled finger cells.
int32_t OverlapCorrection(int32_t version, int32_t visited, int32_t overlapping);

// Whether the spread check runs for `visited` sampled finger cells.
bool SpreadCheckApplies(int32_t version, int32_t visited);

// Score after the spread corrections of the matched list (reference points
// taken from ref).
int32_t SpreadCorrection(int32_t version, int32_t score, const PairList &matched, const FeatureSet &ref);

// Matches reference template against probe template in scratch. With merged
// non-null, merges them into merged (see template_merge.h) and returns the
// merge result; otherwise returns the match score. -1 for a scratch below
// kMatchScratchSize, -10000 for a template that does not decode.
int32_t FeatureMatch(const uint8_t *reference, const uint8_t *probe, uint8_t *merged, uint16_t *overlap,
                     uint16_t *width, uint16_t *height, uint8_t *scratch, int32_t scratchSize);

// One probe against many references (a gallery's islands): PrepareProbe lays
// out the workspace in scratch and decodes the probe (a template of `profile`
// in probeSize bytes) once; false when it does not decode or the scratch is
// too small. MatchPreparedProbe then matches one reference template against
// it like FeatureMatch's match path (the probe's pair marks are not set) and
// returns the score, or -10000 when the reference does not decode.
bool PrepareProbe(const uint8_t *probe, int32_t probeSize, int32_t profile, uint8_t *scratch, int32_t scratchSize,
                  MatchWorkspace &ws);
int32_t MatchPreparedProbe(const MatchWorkspace &ws, const uint8_t *reference, int32_t referenceSize, int32_t profile);

// FeatureMatch with a merge output (refused with 1 when out is null).
int32_t FeatureMerge(const uint8_t *reference, const uint8_t *probe, uint8_t *out, uint16_t *overlap, uint16_t *width,
                     uint16_t *height, uint8_t *scratch, int32_t scratchSize);

// FeatureMatch without merge output.
int32_t Match2Features(const uint8_t *reference, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize);

// True while the slots, resultMax and pxlyMatchPtMax hold the state of a
// completed match that nothing has consumed since.
bool MatchStateForRenewal();
void ConsumeMatchState();

#endif
