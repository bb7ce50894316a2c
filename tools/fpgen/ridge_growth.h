// Ridge pattern growth by iterative space-variant Gabor filtering: starting
// from sparse random seed spots, every pass filters each pixel with the Gabor
// kernel tuned to its local orientation and period and clips the result to
// [-1, 1]. Ridges spread out from the seeds along the orientation field;
// where fronts of different phase meet, or the ridge count must change with
// the orientation and period, ridge endings and bifurcations form by
// themselves.
#pragma once

#include <cstdint>

#include "float_image.h"
#include "random.h"

namespace fpgen {

struct GrowthSettings {
    int seedSpacing = 64;  // pixels between seed spots
    int passes = 14;       // growth passes
    int defectCount = 0;   // phase defects seeded after growth
    int settlePasses = 0;  // passes after the defects
    float gain = 2.0f;     // amplification before clipping; above 1 so ridges saturate
};

// Grows a ridge field (about +1 on ridges, -1 in valleys) over the pixels where
// `region` is above zero; orientation in radians and period in pixels per pixel.
FloatImage growRidges(const FloatImage &orientation, const FloatImage &period, const FloatImage &region,
                      const GrowthSettings &settings, Rng &rng);

}  // namespace fpgen
