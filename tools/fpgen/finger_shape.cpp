#include "finger_shape.h"

#include <algorithm>
#include <cmath>

namespace fpgen {

double FingerShape::outside(double x, double y) const {
    const double dx = std::fabs(x - centreX) / halfWidth;
    const double dy = y - centreY;
    // Upper half: an ellipse; lower half: a superellipse, squarer at the crease.
    const double vy = dy < 0.0 ? -dy / topHeight : dy / bottomHeight;
    const double exponent = dy < 0.0 ? 2.0 : 3.5;
    const double r = std::pow(std::pow(dx, exponent) + std::pow(vy, exponent), 1.0 / exponent);
    return (r - 1.0) * std::min(halfWidth, dy < 0.0 ? topHeight : bottomHeight);
}

FingerShape randomFingerShape(int canvasWidth, int canvasHeight, Rng &rng) {
    FingerShape shape;
    shape.centreX = canvasWidth * 0.5 + rng.uniform(-6.0, 6.0);
    shape.halfWidth = canvasWidth * rng.uniform(0.40, 0.46);
    shape.topHeight = canvasHeight * rng.uniform(0.40, 0.46);
    shape.bottomHeight = canvasHeight * rng.uniform(0.36, 0.44);
    shape.centreY = canvasHeight * 0.5 + (shape.topHeight - shape.bottomHeight) * 0.5 + rng.uniform(-4.0, 4.0);
    return shape;
}

FloatImage shapeMask(const FingerShape &shape, int width, int height, double edge) {
    FloatImage mask(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double t = std::clamp(0.5 - shape.outside(x, y) / edge, 0.0, 1.0);
            mask.at(x, y) = static_cast<float>(t * t * (3.0 - 2.0 * t));
        }
    }
    return mask;
}

}  // namespace fpgen
