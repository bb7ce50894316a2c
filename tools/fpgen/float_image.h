// Float image used for ridge fields, masks and maps while a fingerprint is made.
#pragma once

#include <cstddef>
#include <vector>

namespace fpgen {

struct FloatImage {
    int width = 0;
    int height = 0;
    std::vector<float> values;

    FloatImage() = default;
    FloatImage(int w, int h, float fill = 0.0f)
        : width(w), height(h), values(static_cast<size_t>(w) * static_cast<size_t>(h), fill) {}

    float &at(int x, int y) { return values[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
    float at(int x, int y) const { return values[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }

    // Bilinear sample; points outside the image take `outside`.
    float sample(double x, double y, float outside) const;
};

// Gaussian blur with a separable kernel (standard deviation in pixels); edges
// are extended. A sigma below 0.1 leaves the image as it is.
void gaussianBlur(FloatImage &image, double sigma);

// Smooth random field with values in about [-1, 1]: random values on a grid of
// `cell` pixels, joined by cubic interpolation.
class Rng;
FloatImage smoothNoise(int width, int height, double cell, Rng &rng);

}  // namespace fpgen
