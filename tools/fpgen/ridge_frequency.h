// Ridge period map of a master fingerprint (pixels per ridge at 500 dpi): about
// 9 to 9.5 pixels on average, a little wider above the upper core and narrower near
// the deltas and the bottom of the finger, with smooth random variation.
#pragma once

#include "float_image.h"
#include "orientation_model.h"
#include "random.h"

namespace fpgen {

constexpr double kMeanRidgePeriod = 9.0;
constexpr double kMinRidgePeriod = 8.5;
constexpr double kMaxRidgePeriod = 10.5;

FloatImage ridgePeriodMap(const OrientationModel &model, double fingerTop, double fingerBottom, int width, int height,
                          Rng &rng);

}  // namespace fpgen
