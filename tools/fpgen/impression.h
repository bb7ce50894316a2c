// One touch of a master finger on a sensor: where and how the finger lands
// (placement, rotation, elastic skin distortion, contact area, skin moisture)
// and the rendering of the touched window as layers that the sensor formats
// turn into pixels.
#pragma once

#include <cstdint>

#include "float_image.h"
#include "master_print.h"
#include "random.h"

namespace fpgen {

enum class Placement {
    NearCentre,   // around the finger's centre, as users touch a small sensor; windows mostly overlap
    WholeFinger,  // anywhere on the finger
};

struct DistortionWave {
    double amplitudeX, amplitudeY;  // pixels
    double frequencyX, frequencyY;  // radians per pixel
    double phase;
};

constexpr int kDistortionWaves = 3;

struct ImpressionParams {
    double centreX = 0.0, centreY = 0.0;  // window centre on the master
    double angle = 0.0;                   // rotation of the window on the master, radians
    double scale = 1.0;                   // master pixels per window pixel (pressure)
    DistortionWave waves[kDistortionWaves] = {};
    double contactX = 0.0, contactY = 0.0;  // centre of the contact ellipse on the master
    double contactRadiusX = 1e9, contactRadiusY = 1e9;
    double moisture = 0.0;  // -1 wet (thick, merging ridges) .. +1 dry (thin, broken ridges)
    double blurSigma = 0.0;
    double noiseSigma = 0.0;                                  // grey levels of the 8-bit image
    double background = 235.0, valley = 200.0, ridge = 50.0;  // 8-bit grey levels
    uint64_t noiseSeed = 0;
};

// Everything a sensor sees of one touch: the skin's grey level where it
// touches (0..255) and how firmly it touches (0 = not at all, 1 = fully).
struct CaptureLayers {
    int width = 0, height = 0;
    FloatImage surface;
    FloatImage contact;
    double background = 235.0;
    double noiseSigma = 0.0;
    uint64_t noiseSeed = 0;
};

ImpressionParams randomImpression(const MasterPrint &master, int width, int height, Placement placement, Rng &rng);

// Master coordinates of window pixel (x, y).
void impressionToMaster(const ImpressionParams &params, int width, int height, double x, double y, double &masterX,
                        double &masterY);

CaptureLayers renderImpression(const MasterPrint &master, const ImpressionParams &params, int width, int height);

// The whole master canvas, upright and undistorted, with a natural touch
// drawn from the master's seed: the same finger always gives the same print.
CaptureLayers renderFullPrint(const MasterPrint &master);

// Impression `index` of a finger seed for a window size: the same arguments
// always give the same impression.
ImpressionParams impressionFor(const MasterPrint &master, int width, int height, uint64_t stream, int index,
                               Placement placement);

}  // namespace fpgen
