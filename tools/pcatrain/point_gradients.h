// The normalised gradient vector of a point's descriptor window, sampled from
// the smoothed image exactly as the descriptor stage samples it: what the
// basis trainers learn from.
#pragma once
#include <cstdint>

#include "extraction/descriptors.h"

namespace pcatrain {

// Writes point i's normalised gradient vector (kGradientLength values) into
// `gradient`, its window samples spacingQuarters / 4 pixels apart. Returns
// false, leaving it undefined, when the window does not lie wholly inside the
// width x height image.
bool pointGradients(const int16_t *image, int32_t width, int32_t height, const FeatureSet &set, uint32_t i,
                    int16_t *gradient, int32_t spacingQuarters = 4);

}  // namespace pcatrain
