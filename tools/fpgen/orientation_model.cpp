#include "orientation_model.h"

#include <algorithm>
#include <cmath>

namespace fpgen {

namespace {

constexpr double kPi = 3.14159265358979323846;

double wrapHalfTurn(double angle) {
    angle = std::fmod(angle, kPi);
    return angle < 0.0 ? angle + kPi : angle;
}

// Bends of a singular point's angular contribution stay below this: the bent
// angle then keeps growing with the angle around the point (no fold).
constexpr double kBendLimit = 0.95;

// Gives a singular point its own bend: harmonic k gets an amplitude r_k with
// sum k r_k <= kBendLimit, spent on the low harmonics first.
void bendRandomly(SingularPoint &p, Rng &rng) {
    double left = kBendLimit;
    for (int k = 1; k <= 3; ++k) {
        const double r = rng.uniform(0.0, left / k);
        left -= k * r;
        const double phase = rng.uniform(0.0, 2.0 * kPi);
        p.cosK[k - 1] = r * std::cos(phase);
        p.sinK[k - 1] = r * std::sin(phase);
    }
}

}  // namespace

double SingularPoint::bent(double a) const {
    double b = a;
    for (int k = 1; k <= 3; ++k) b += cosK[k - 1] * std::cos(k * a) + sinK[k - 1] * std::sin(k * a);
    return b;
}

const char *fingerClassName(FingerClass fingerClass) {
    switch (fingerClass) {
    case FingerClass::Arch:
        return "arch";
    case FingerClass::TentedArch:
        return "tented_arch";
    case FingerClass::LeftLoop:
        return "left_loop";
    case FingerClass::RightLoop:
        return "right_loop";
    case FingerClass::Whorl:
        return "whorl";
    }
    return "unknown";
}

FingerClass randomFingerClass(Rng &rng) {
    // Roughly the natural frequencies: loops most common, then whorls, arches rare.
    const double u = rng.uniform();
    if (u < 0.06) return FingerClass::Arch;
    if (u < 0.13) return FingerClass::TentedArch;
    if (u < 0.46) return FingerClass::LeftLoop;
    if (u < 0.79) return FingerClass::RightLoop;
    return FingerClass::Whorl;
}

double OrientationModel::angleAt(double x, double y) const {
    if (cores.empty() && deltas.empty()) {
        const double u = (x - archCentreX) / archWidth;
        // The bump flattens towards the bottom of the finger.
        const double height = archHeight * std::clamp(1.0 - (y - archTop) / (3.5 * archWidth), 0.1, 1.0);
        const double slope = height * 2.0 * u / archWidth * std::exp(-u * u);
        return wrapHalfTurn(baseAngle + std::atan(slope));
    }
    double angle = baseAngle;
    for (const SingularPoint &c : cores) angle += 0.5 * c.bent(std::atan2(y - c.y, x - c.x));
    for (const SingularPoint &d : deltas) angle -= 0.5 * d.bent(std::atan2(y - d.y, x - d.x));
    return wrapHalfTurn(angle);
}

OrientationModel randomOrientationModel(FingerClass fingerClass, double cx, double cy, double halfWidth, Rng &rng) {
    OrientationModel model;
    model.fingerClass = fingerClass;
    model.baseAngle = rng.uniform(-0.08, 0.08);
    const double s = halfWidth / 120.0;  // singular point distances scale with the finger
    switch (fingerClass) {
    case FingerClass::Arch:
        model.archCentreX = cx + rng.uniform(-15.0, 15.0) * s;
        model.archWidth = rng.uniform(55.0, 80.0) * s;
        model.archHeight = rng.uniform(25.0, 45.0) * s;
        model.archTop = cy + rng.uniform(-60.0, -20.0) * s;
        break;
    case FingerClass::TentedArch: {
        const double x = cx + rng.uniform(-10.0, 10.0) * s;
        const double y = cy + rng.uniform(-30.0, 10.0) * s;
        model.cores.push_back({x, y});
        model.deltas.push_back({x + rng.uniform(-4.0, 4.0) * s, y + rng.uniform(35.0, 55.0) * s});
        break;
    }
    case FingerClass::LeftLoop:
    case FingerClass::RightLoop: {
        const double side = fingerClass == FingerClass::LeftLoop ? 1.0 : -1.0;
        const double x = cx + rng.uniform(-15.0, 15.0) * s - side * 10.0 * s;
        const double y = cy + rng.uniform(-45.0, 5.0) * s;
        model.cores.push_back({x, y});
        model.deltas.push_back({x + side * rng.uniform(80.0, 110.0) * s, y + rng.uniform(60.0, 90.0) * s});
        break;
    }
    case FingerClass::Whorl: {
        const double x = cx + rng.uniform(-12.0, 12.0) * s;
        const double y = cy + rng.uniform(-35.0, 0.0) * s;
        const double spread = rng.uniform(10.0, 22.0) * s;
        const double tilt = rng.uniform(-0.8, 0.8);
        model.cores.push_back({x - spread * std::sin(tilt), y - spread * std::cos(tilt)});
        model.cores.push_back({x + spread * std::sin(tilt), y + spread * std::cos(tilt)});
        model.deltas.push_back({x - rng.uniform(65.0, 90.0) * s, y + rng.uniform(75.0, 105.0) * s});
        model.deltas.push_back({x + rng.uniform(65.0, 90.0) * s, y + rng.uniform(75.0, 105.0) * s});
        break;
    }
    }
    for (SingularPoint &c : model.cores) bendRandomly(c, rng);
    for (SingularPoint &d : model.deltas) bendRandomly(d, rng);
    return model;
}

FloatImage orientationMap(const OrientationModel &model, int width, int height, Rng &rng) {
    const FloatImage wobble = smoothNoise(width, height, 90.0, rng);
    const double amplitude = rng.uniform(0.03, 0.09);
    FloatImage map(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            map.at(x, y) = static_cast<float>(wrapHalfTurn(model.angleAt(x, y) + amplitude * wobble.at(x, y)));
        }
    }
    return map;
}

}  // namespace fpgen
