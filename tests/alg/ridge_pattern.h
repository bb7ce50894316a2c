// Synthetic ridge images with a known orientation for the extraction tests:
// an expanded image (source area plus a 32-pixel frame of 250, as the edge
// expansion leaves it) holding a sinusoidal ridge pattern.
#ifndef QV_TESTS_RIDGE_PATTERN_H
#define QV_TESTS_RIDGE_PATTERN_H

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace ridge_pattern {

constexpr int kBorder = 32;
constexpr double kPi = 3.14159265358979323846;

// Orientation in whole degrees 0..179 (x right, y down) of the ridges at a
// source pixel.
using OrientationAt = std::function<double(double x, double y)>;

struct Image {
    int w = 0;  // expanded size
    int h = 0;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> source;  // the source-size capture
};

// Straight parallel ridges of the given orientation and period: dark ridge
// centres, grey levels mean +- amplitude.
inline Image straight(int srcW, int srcH, double orientationDeg, double period, int mean, int amplitude) {
    Image img;
    img.w = srcW + 2 * kBorder;
    img.h = srcH + 2 * kBorder;
    img.pixels.assign(static_cast<size_t>(img.w * img.h), 250);
    img.source.resize(static_cast<size_t>(srcW * srcH));
    const double o = orientationDeg * kPi / 180.0;
    for (int y = 0; y < srcH; ++y)
        for (int x = 0; x < srcW; ++x) {
            const double across = -x * std::sin(o) + y * std::cos(o);
            const double v = mean + amplitude * std::cos(2 * kPi * across / period);
            const auto p = static_cast<uint8_t>(std::lround(v));
            img.source[static_cast<size_t>(y * srcW + x)] = p;
            img.pixels[static_cast<size_t>((y + kBorder) * img.w + x + kBorder)] = p;
        }
    return img;
}

// Concentric ring ridges around (cx, cy) in source coordinates: the ridge
// orientation at a pixel is perpendicular to the radius.
inline Image rings(int srcW, int srcH, double cx, double cy, double period, int mean, int amplitude) {
    Image img;
    img.w = srcW + 2 * kBorder;
    img.h = srcH + 2 * kBorder;
    img.pixels.assign(static_cast<size_t>(img.w * img.h), 250);
    img.source.resize(static_cast<size_t>(srcW * srcH));
    for (int y = 0; y < srcH; ++y)
        for (int x = 0; x < srcW; ++x) {
            const double r = std::hypot(x - cx, y - cy);
            const auto p = static_cast<uint8_t>(std::lround(mean + amplitude * std::cos(2 * kPi * r / period)));
            img.source[static_cast<size_t>(y * srcW + x)] = p;
            img.pixels[static_cast<size_t>((y + kBorder) * img.w + x + kBorder)] = p;
        }
    return img;
}

// Ridge orientation of the ring pattern at a source pixel.
inline double ringOrientation(double x, double y, double cx, double cy) {
    double deg = std::atan2(y - cy, x - cx) * 180.0 / kPi + 90.0;
    while (deg < 0) deg += 180.0;
    while (deg >= 180.0) deg -= 180.0;
    return deg;
}

// Difference of two undirected orientations in degrees, 0..90.
inline double orientationError(double a, double b) {
    double d = std::fabs(a - b);
    while (d >= 180.0) d -= 180.0;
    return d > 90.0 ? 180.0 - d : d;
}

}  // namespace ridge_pattern

#endif
