// Rules that mark minutia candidates as false: the two ends of a broken
// ridge, endings side by side without a ridge between them, endings on top of
// bifurcations, bifurcations crowded together, and bifurcations whose branch
// soon meets another bifurcation (bridges, spurs, small loops).
#ifndef QV_FALSE_MINUTIAE_H
#define QV_FALSE_MINUTIAE_H

#include <cstdint>

#include "extraction/minutia_candidates.h"

// Steps walked along a ridge to find its direction at an ending or branch.
inline constexpr int32_t kDirectionWalk = 8;
// Smoothness score above which a bifurcation counts as lying in clean flow.
inline constexpr int32_t kSmoothScore = 220;

// Ending pairs up to 14 pixels apart: both go when closer than 6 pixels, when
// they face each other across a gap, or when they lie side by side with no
// ridge pixel between them.
void RemoveEndingPairs(MinutiaeWorkspace *ws, int32_t endingCount, uint8_t *ridge, int32_t w);

// Endings and bifurcations within 5 pixels of each other all go.
void RemoveEndingsNearForks(MinutiaeWorkspace *ws, int32_t endingCount, int32_t forkCount);

// Bifurcations less than 4 pixels apart both go.
void RemoveForkPairs(MinutiaeWorkspace *ws, int32_t forkCount);

// Bifurcations whose branches reach another bifurcation within a few steps
// go, and the bifurcation reached is marked in the removed-fork map so that
// it goes when its own turn comes.
void RemoveShortForkBranches(MinutiaeWorkspace *ws, int32_t forkCount, uint8_t *ridge, int32_t w);

#endif
