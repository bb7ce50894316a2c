// Pixels and raw bytes of a capture in the formats of the three sensor models:
// 8-bit grey images (dark ridges on a light background), the 12-bit values of
// the 96 x 96 sensor with its readout stripes, and the raw byte layouts the
// service receives over USB (see capture_format.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "impression.h"
#include "pgm.h"

namespace fpgen {

struct SensorModel {
    uint16_t productId;
    const char *name;  // "2547", ...
    int width, height;
};

constexpr SensorModel kSensorModels[] = {
    {0x2547, "2547", 96, 96},
    {0x2548, "2548", 68, 118},
    {0x2549, "2549", 112, 88},
};

const SensorModel *findSensorModel(const std::string &name);

// 12-bit levels. The finger spans kFinger12Dark..kFinger12Light; where nothing
// touches, the sensor reads kBackground12Min or more, above the library's
// white level (3018), so that region counts as background.
constexpr int kFinger12Dark = 200;
constexpr int kFinger12Light = 2850;
constexpr int kBackground12Min = 3300;
constexpr int kBackground12Max = 3800;
constexpr int kReadoutChannels = 8;  // one offset per column modulo 8
constexpr int kMaxStripeOffset = 60;

imageio::GrayImage composeGray8(const CaptureLayers &layers);
std::vector<uint16_t> composeRaw12(const CaptureLayers &layers);

// 12-bit values for an 8-bit grey image that has no contact layer (a crop of
// a real print): dark levels map onto the finger range, the near-white levels
// of an empty background above the white level.
std::vector<uint16_t> gray8ToRaw12(const imageio::GrayImage &image, uint64_t seed);

// Adds one fixed offset per readout channel (column modulo 8), as the sensor's
// parallel readout does; values stay within 0..4095.
void addReadoutStripes(std::vector<uint16_t> &values12, int width, Rng &rng);

// Raw bytes of a capture for a sensor model: the 12-bit values packed for
// 0x2547 (values12 must hold 96 x 96 values), the 8-bit image reordered or
// copied for the others. Returns an empty vector when the sizes do not fit.
std::vector<uint8_t> rawCapture(const SensorModel &model, const imageio::GrayImage &gray8,
                                const std::vector<uint16_t> &values12);

// One synthetic capture of a finger on a sensor model, in every form: the
// impression's pose, its 8-bit image, its 12-bit values (0x2547 only) and the
// raw bytes the sensor would send. Impression `index` of a master is always
// the same capture.
struct SyntheticCapture {
    ImpressionParams params;
    imageio::GrayImage gray;
    std::vector<uint16_t> values12;
    std::vector<uint8_t> raw;
};

SyntheticCapture syntheticCapture(const MasterPrint &master, const SensorModel &model, int index,
                                  Placement placement = Placement::NearCentre);

// The capture of a given pose (for example one of syntheticCapture's with a
// factor switched off).
SyntheticCapture renderCapture(const MasterPrint &master, const SensorModel &model, const ImpressionParams &params);

}  // namespace fpgen
