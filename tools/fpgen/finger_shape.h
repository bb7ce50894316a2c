// Silhouette of a fingertip on the master canvas: a rounded top, straight-ish
// sides and a flatter bottom, as a soft mask (1 inside, 0 outside).
#pragma once

#include "float_image.h"
#include "random.h"

namespace fpgen {

struct FingerShape {
    double centreX = 0.0, centreY = 0.0;
    double halfWidth = 0.0;
    double topHeight = 0.0;     // from the centre up to the tip
    double bottomHeight = 0.0;  // from the centre down to the first crease

    // Signed distance-like value: negative inside, positive outside, in pixels
    // near the outline.
    double outside(double x, double y) const;
};

FingerShape randomFingerShape(int canvasWidth, int canvasHeight, Rng &rng);

// Soft mask with an edge `edge` pixels wide.
FloatImage shapeMask(const FingerShape &shape, int width, int height, double edge);

}  // namespace fpgen
