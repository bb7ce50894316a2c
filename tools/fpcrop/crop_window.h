// Cutting sensor-size windows out of a larger fingerprint image: at a given
// centre and rotation, or at random places that lie inside the finger, so
// that full prints (synthetic or real) become small-sensor captures.
#pragma once

#include <cstdint>
#include <vector>

#include "pgm.h"

namespace fpcrop {

struct WindowPose {
    int width = 0, height = 0;
    double centreX = 0.0, centreY = 0.0;  // window centre on the source image, pixels
    double angleDegrees = 0.0;            // window rotation on the source, clockwise on screen (y down)
};

// Pixels of the source outside the image read as this (an empty sensor).
constexpr uint8_t kOutsideGray = 255;

// Source coordinates of window pixel (x, y).
void windowToSource(const WindowPose &pose, double x, double y, double &sourceX, double &sourceY);

// The window, sampled bilinearly from the source.
imageio::GrayImage cropWindow(const imageio::GrayImage &source, const WindowPose &pose);

// Finger area of a print, one byte per pixel (1 = finger): blocks of
// kMaskBlock pixels whose grey levels vary like ridges and that are not
// mostly white.
constexpr int kMaskBlock = 12;
std::vector<uint8_t> fingerArea(const imageio::GrayImage &source);

// Share (0..1) of a window's sample points that fall inside the finger area.
double windowCoverage(const std::vector<uint8_t> &area, int sourceWidth, int sourceHeight, const WindowPose &pose);

// `count` windows of the given size at random centres and rotations (within
// +-maxAngleDegrees) that lie inside the finger area (at least minCoverage of
// the window). The same seed gives the same windows; fewer than `count` are
// returned when the finger is too small for the window.
std::vector<WindowPose> randomWindows(const imageio::GrayImage &source, int width, int height, int count, uint64_t seed,
                                      double maxAngleDegrees = 25.0, double minCoverage = 0.9);

}  // namespace fpcrop
