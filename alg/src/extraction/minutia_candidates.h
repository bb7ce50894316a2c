// The minutiae workspace: the candidate lists of endings and bifurcations
// with their false flags, the removed-fork map and the knee search's area.
// Shared by the detection (minutiae.h) and the false-minutia rules
// (false_minutiae.h).
#ifndef QV_MINUTIA_CANDIDATES_H
#define QV_MINUTIA_CANDIDATES_H

#include <cstdint>

#include "extraction/knee_points.h"

// Capacities: candidates per kind, minutiae written, points written in all.
inline constexpr int32_t kCandidateCapacity = 100;
inline constexpr int32_t kMaxMinutiae = 30;
inline constexpr int32_t kMaxPoints = 180;
// Largest w x h of the expanded image that the removed-fork map can hold.
inline constexpr int32_t kForkMapCapacity = 30000;

// Layout of the minutiae workspace. The removed-fork map also serves the knee
// search as its skeleton copy, which leaves it all zeros.
struct MinutiaeWorkspace {
    PointRecord forks[kCandidateCapacity];
    PointRecord endings[kCandidateCapacity];
    uint8_t endingFalse[kCandidateCapacity];
    uint8_t forkFalse[kCandidateCapacity];
    uint8_t removedForks[kForkMapCapacity];
    KneeWorkspace knees;
};
inline constexpr int32_t kMinutiaeWorkspaceSize = 48200;
static_assert(sizeof(MinutiaeWorkspace) <= kMinutiaeWorkspaceSize);

#endif
