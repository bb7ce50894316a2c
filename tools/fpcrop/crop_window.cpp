#include "crop_window.h"

#include <algorithm>
#include <cmath>

#include "random.h"

namespace fpcrop {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinRidgeDeviation = 14.0;  // grey-level standard deviation of a block with ridges
constexpr double kMaxFingerMean = 225.0;     // brighter blocks are background
constexpr int kCoverageSamples = 9;          // per side of the window
constexpr int kAttemptsPerWindow = 400;

uint8_t bilinear(const imageio::GrayImage &image, double x, double y) {
    if (!(x > -1.0 && y > -1.0 && x < image.width && y < image.height)) return kOutsideGray;
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    const double fx = x - x0, fy = y - y0;
    auto pixel = [&](int px, int py) -> double {
        if (px < 0 || py < 0 || px >= image.width || py >= image.height) return kOutsideGray;
        return image.at(px, py);
    };
    const double top = pixel(x0, y0) + (pixel(x0 + 1, y0) - pixel(x0, y0)) * fx;
    const double bottom = pixel(x0, y0 + 1) + (pixel(x0 + 1, y0 + 1) - pixel(x0, y0 + 1)) * fx;
    return static_cast<uint8_t>(std::clamp(std::lround(top + (bottom - top) * fy), 0L, 255L));
}

}  // namespace

void windowToSource(const WindowPose &pose, double x, double y, double &sourceX, double &sourceY) {
    const double u = x - 0.5 * (pose.width - 1), v = y - 0.5 * (pose.height - 1);
    const double angle = pose.angleDegrees * kPi / 180.0;
    const double c = std::cos(angle), s = std::sin(angle);
    sourceX = pose.centreX + c * u - s * v;
    sourceY = pose.centreY + s * u + c * v;
}

imageio::GrayImage cropWindow(const imageio::GrayImage &source, const WindowPose &pose) {
    imageio::GrayImage window(pose.width, pose.height);
    for (int y = 0; y < pose.height; ++y) {
        for (int x = 0; x < pose.width; ++x) {
            double sx, sy;
            windowToSource(pose, x, y, sx, sy);
            window.at(x, y) = bilinear(source, sx, sy);
        }
    }
    return window;
}

std::vector<uint8_t> fingerArea(const imageio::GrayImage &source) {
    std::vector<uint8_t> area(source.pixels.size(), 0);
    for (int by = 0; by < source.height; by += kMaskBlock) {
        for (int bx = 0; bx < source.width; bx += kMaskBlock) {
            const int ex = std::min(bx + kMaskBlock, source.width), ey = std::min(by + kMaskBlock, source.height);
            double sum = 0.0, squares = 0.0;
            for (int y = by; y < ey; ++y) {
                for (int x = bx; x < ex; ++x) {
                    sum += source.at(x, y);
                    squares += static_cast<double>(source.at(x, y)) * source.at(x, y);
                }
            }
            const double n = static_cast<double>((ex - bx) * (ey - by));
            const double mean = sum / n;
            const double deviation = std::sqrt(std::max(0.0, squares / n - mean * mean));
            if (deviation < kMinRidgeDeviation || mean > kMaxFingerMean) continue;
            for (int y = by; y < ey; ++y) {
                for (int x = bx; x < ex; ++x) area[static_cast<size_t>(y) * source.width + x] = 1;
            }
        }
    }
    return area;
}

double windowCoverage(const std::vector<uint8_t> &area, int sourceWidth, int sourceHeight, const WindowPose &pose) {
    int inside = 0;
    for (int j = 0; j < kCoverageSamples; ++j) {
        for (int i = 0; i < kCoverageSamples; ++i) {
            double sx, sy;
            windowToSource(pose, (pose.width - 1) * i / (kCoverageSamples - 1.0),
                           (pose.height - 1) * j / (kCoverageSamples - 1.0), sx, sy);
            const int px = static_cast<int>(std::lround(sx)), py = static_cast<int>(std::lround(sy));
            if (px >= 0 && py >= 0 && px < sourceWidth && py < sourceHeight &&
                area[static_cast<size_t>(py) * sourceWidth + px])
                ++inside;
        }
    }
    return inside / static_cast<double>(kCoverageSamples * kCoverageSamples);
}

std::vector<WindowPose> randomWindows(const imageio::GrayImage &source, int width, int height, int count, uint64_t seed,
                                      double maxAngleDegrees, double minCoverage) {
    std::vector<WindowPose> windows;
    if (width < 1 || height < 1 || source.width < 1 || source.height < 1) return windows;
    const std::vector<uint8_t> area = fingerArea(source);
    fpgen::Rng rng(fpgen::seedFor(seed, static_cast<uint64_t>(width), static_cast<uint64_t>(height)));
    for (int n = 0; n < count; ++n) {
        for (int attempt = 0; attempt < kAttemptsPerWindow; ++attempt) {
            WindowPose pose;
            pose.width = width;
            pose.height = height;
            pose.centreX = rng.uniform(0.0, source.width - 1.0);
            pose.centreY = rng.uniform(0.0, source.height - 1.0);
            pose.angleDegrees = rng.uniform(-maxAngleDegrees, maxAngleDegrees);
            if (windowCoverage(area, source.width, source.height, pose) >= minCoverage) {
                windows.push_back(pose);
                break;
            }
        }
    }
    return windows;
}

}  // namespace fpcrop
