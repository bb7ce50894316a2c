// Ridge orientation field of a master fingerprint from its singular points:
// the zero-pole model, where every core turns the local orientation by +1/2 of
// its angle around the point and every delta by -1/2, and a bump model for
// plain arches, which have no singular point. Each singular point bends its
// angle by its own smooth periodic function: without it every loop's ridges
// would turn around the core exactly alike, and two loops of one side would
// line up almost as well as two touches of one finger.
#pragma once

#include <vector>

#include "float_image.h"
#include "random.h"

namespace fpgen {

enum class FingerClass { Arch, TentedArch, LeftLoop, RightLoop, Whorl };

const char *fingerClassName(FingerClass fingerClass);

struct SingularPoint {
    double x, y;
    // Smooth periodic bend of the point's angular contribution:
    // the angle a around the point counts as a + sum_k (cosK[k] cos(k a) + sinK[k] sin(k a)).
    double cosK[3] = {0.0, 0.0, 0.0};
    double sinK[3] = {0.0, 0.0, 0.0};
    double bent(double a) const;
};

struct OrientationModel {
    FingerClass fingerClass = FingerClass::Arch;
    std::vector<SingularPoint> cores;
    std::vector<SingularPoint> deltas;
    double baseAngle = 0.0;  // orientation far from the singular points (radians)
    // Arch bump: ridges follow y = c - height(y) * exp(-((x - centreX) / width)^2).
    double archCentreX = 0.0, archWidth = 1.0, archHeight = 0.0, archTop = 0.0;

    // Ridge orientation at (x, y) in radians, 0 along +x, y pointing down, in [0, pi).
    double angleAt(double x, double y) const;
};

// Picks singular points for the class around the finger centre (cx, cy).
OrientationModel randomOrientationModel(FingerClass fingerClass, double cx, double cy, double halfWidth, Rng &rng);

FingerClass randomFingerClass(Rng &rng);

// Per-pixel orientation map, with a small smooth random perturbation so that no
// two fingers of a class flow exactly alike.
FloatImage orientationMap(const OrientationModel &model, int width, int height, Rng &rng);

}  // namespace fpgen
