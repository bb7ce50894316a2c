// Ridge period map of a master fingerprint (pixels per ridge at 500 dpi): a
// finger's own base period between 7.6 and 10.8 pixels, a little wider above the
// upper core and narrower near the deltas and the bottom of the finger, with
// smooth random variation.
#pragma once

#include "float_image.h"
#include "orientation_model.h"
#include "random.h"

namespace fpgen {

constexpr double kLowestBasePeriod = 7.6;
constexpr double kHighestBasePeriod = 10.8;
constexpr double kMinRidgePeriod = 6.5;
constexpr double kMaxRidgePeriod = 12.5;

FloatImage ridgePeriodMap(const OrientationModel &model, double fingerTop, double fingerBottom, int width, int height,
                          Rng &rng);

}  // namespace fpgen
