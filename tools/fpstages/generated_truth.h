// A capture from the synthetic generator together with the generator's own
// ridge orientation at every pixel, to check the orientation field against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pgm.h"

namespace fpstages {

inline constexpr float kNoTruth = -1.0f;

struct TruthCapture {
    imageio::GrayImage gray;
    int sensorType = 0;              // library sensor type of the sensor model
    std::vector<float> orientation;  // degrees 0..180 per pixel, kNoTruth off the finger
};

// Impression `index` of finger `seed` on the sensor model ("2547", "2548",
// "2549"). Returns false for an unknown model.
bool generatedCapture(uint64_t seed, int index, const std::string &sensor, TruthCapture *out);

// Agreement of an orientation map (expanded image, border `border`) with the
// truth: share of compared pixels within 10 and 20 degrees, and the mean error.
struct Agreement {
    int compared = 0;
    double within10 = 0.0;
    double within20 = 0.0;
    double meanError = 0.0;
};
Agreement compareOrientation(const uint8_t *orient, int expandedWidth, int border, const TruthCapture &truth);

}  // namespace fpstages
