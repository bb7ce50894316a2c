// Minutiae of the thinned ridge skeleton: ridge endings and bifurcations are
// detected, false ones are rejected by geometric rules (broken ridges, short
// spurs and bridges, small loops, points in rough orientation), every
// survivor gets a direction, and the knee points of the ridge (and, on the
// later variants, valley) skeleton follow them in the feature set.
#ifndef QV_MINUTIAE_H
#define QV_MINUTIAE_H

#include <cstdint>

#include "core/featureset.h"
#include "extraction/minutia_candidates.h"

// Results besides 0.
inline constexpr int32_t kMinutiaeWorkspaceTooSmall = -50;
inline constexpr int32_t kTooManyForks = -51;
inline constexpr int32_t kTooManyEndings = -52;

// Fills the points and counts of `set` (cleared by the caller, whose dryWet
// stays) from a w x h skeleton of the expanded image. `ridge` is restored
// before return (bifurcation directions need it briefly altered); `valley` is
// read only for a variant with valleys (variant_rules.h). `whiteSpots` is in source
// geometry ((w - 64) x (h - 64)); `orient` and `grownMask` are w x h. The
// workspace must be 4-byte aligned. Returns 0, kMinutiaeWorkspaceTooSmall
// (also for images the workspace cannot map), kTooManyForks, kTooManyEndings
// or kKneeOverflow.
int32_t vwn_getMinutia5(uint8_t *ridge, const uint8_t *valley, const uint8_t *whiteSpots, const uint8_t *orient,
                        const uint8_t *grownMask, FeatureSet *set, int32_t w, int32_t h, uint8_t *workspace,
                        int32_t workspaceSize);

// Orientation roughness on the radius-5 circle around (x, y) of a w-wide
// orientation map: the sum of the orientation differences between circle
// points three places apart. A minutia passes when it is at most 250.
int32_t MinutiaSmoothness(const uint8_t *orient, int32_t x, int32_t y, int32_t w);

#endif
