// Minutiae of the thinned ridge skeleton: ridge endings and bifurcations are
// detected, false ones are rejected by geometric rules (broken ridges, short
// spurs and bridges, small loops, points in rough orientation), every
// survivor gets a direction, and the knee points of the ridge (and, on the
// later variants, valley) skeleton follow them in the feature set.
#ifndef QV_MINUTIAE_H
#define QV_MINUTIAE_H

#include <cstdint>

#include "featureset.h"
#include "knee_points.h"

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

// Results besides 0.
inline constexpr int32_t kMinutiaeWorkspaceTooSmall = -50;
inline constexpr int32_t kTooManyForks = -51;
inline constexpr int32_t kTooManyEndings = -52;

// Fills the points and counts of `set` (cleared by the caller, whose dryWet
// stays) from a w x h skeleton of the expanded image. `ridge` is restored
// before return (bifurcation directions need it briefly altered); `valley` is
// read only when QV_CURRENT_VER is above 2. `whiteSpots` is in source
// geometry ((w - 64) x (h - 64)); `orient` and `grownMask` are w x h. The
// workspace must be 4-byte aligned. Returns 0, kMinutiaeWorkspaceTooSmall
// (also for images the workspace cannot map), kTooManyForks, kTooManyEndings
// or kKneeOverflow.
int32_t vwn_getMinutia5(uint8_t *ridge, const uint8_t *valley, const uint8_t *whiteSpots, const uint8_t *orient,
                        const uint8_t *grownMask, FeatureSet *set, int32_t w, int32_t h, uint8_t *workspace,
                        int32_t workspaceSize);

// Walks up to `steps` steps along the line leaving `start`, which must have
// exactly one black neighbour (else returns 1). Stops early where the line
// ends; a fork is not entered (the walk reports the pixel before it). Stores
// the last position in *end and returns 0.
int32_t GetByDis(uint8_t *start, uint8_t **end, int32_t steps, int32_t w);

// Follows the three branches of a bifurcation for up to `steps` steps each
// and reports, for every branch that runs into a fork, the fork's position
// and the steps taken (0 for a fork right next to the bifurcation), in
// branch order. Returns the number of such branches; 0 unless the
// bifurcation has exactly three black neighbours.
int32_t vwn_GetForkByDis(uint8_t *fork, uint8_t **reached, int32_t steps, int32_t w, int32_t *lengths);

// Orientation roughness on the radius-5 circle around (x, y) of a w-wide
// orientation map: the sum of the orientation differences between circle
// points three places apart. A minutia passes when it is at most 250.
int32_t MinutiaSmoothness(const uint8_t *orient, int32_t x, int32_t y, int32_t w);

#endif
