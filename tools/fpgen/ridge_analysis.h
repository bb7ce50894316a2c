// Measurements on fingerprint images, used to check the generator: the
// dominant ridge period of a window (from its power spectrum) and the number
// of ridge endings and bifurcations of a ridge field (from its skeleton).
#pragma once

#include <cstdint>

#include "float_image.h"

namespace fpgen {

// Dominant ridge period in pixels of a grey image (any polarity): the peak of
// the radially summed power spectrum of the Hann-windowed, mean-free image,
// refined by the power-weighted mean frequency around the peak. Returns 0
// when no peak is found between periods of 4 and 24 pixels.
double dominantRidgePeriod(const FloatImage &image);
double dominantRidgePeriod(const uint8_t *pixels, int width, int height);

struct MinutiaeCount {
    int endings = 0;
    int bifurcations = 0;
    int total() const { return endings + bifurcations; }
};

// Thins the ridges (values above zero where mask > 0.5) and counts skeleton
// points with one neighbour branch (endings) or three (bifurcations), at least
// `margin` pixels inside the mask so the finger's outline does not count.
MinutiaeCount countMinutiae(const FloatImage &ridges, const FloatImage &mask, int margin);

}  // namespace fpgen
