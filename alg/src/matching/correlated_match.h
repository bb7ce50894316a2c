// Profile 3 matching, enrolment and renewal: profile 2's gallery of islands,
// each island with the phase record of its touch. A touch is scored by the
// island engine (as profile 2), each island's score checked by phase-only
// correlation at the pose the engine found, and by the best correlation
// against every island over the rotations the touch carries; the scores are
// fused so that the highest impostor score keeps its margin.
#ifndef QV_CORRELATED_MATCH_H
#define QV_CORRELATED_MATCH_H

#include <cstdint>

#include "QVAlgDll.h"

// Points a profile 3 island keeps: sixteen islands of the largest sensor and
// their phase records always fit a template.
inline constexpr int32_t kCorrelatedIslandPoints = 41;

// A verification scoring at least this renews the gallery with its touch.
inline constexpr int32_t kCorrelatedRenewScore = 70;

// Fused score of probe (a profile 3 touch) against the profile 3 gallery
// `stored`; -10000 when either does not read, -1 for a scratch below the
// engine's need.
int32_t CorrelatedMatch(const uint8_t *stored, const uint8_t *probe, uint8_t *scratch, int32_t scratchSize);

// The two parts of the last CorrelatedMatch: the best plus second best
// pose-checked island score, and the best correlation peak anywhere
// (permille).
struct FusionParts {
    int32_t islandSum;
    int32_t correlationPeak;
};
FusionParts LastFusionParts();

// The fused score of the two parts on the service's scale (above 45 accepts),
// at least 0.
int32_t FuseScores(int32_t islandSum, int32_t correlationPeak);

// An island's engine score with its correlation peak (permille) at the
// engine's pose: raised when the score is high enough to trust the pose and
// the peak clears the level of chance.
int32_t PoseCheckedScore(int32_t engineScore, int32_t posePeak);

// Enrolment step and renewal of profile 3, as GalleryMerge and GalleryRenew.
int32_t CorrelatedMerge(const uint8_t *base, const uint8_t *add, uint8_t *out, uint8_t *scratch, int32_t scratchSize);
int32_t CorrelatedRenew(uint8_t *out, uint8_t *scratch, int32_t scratchSize);

#endif
