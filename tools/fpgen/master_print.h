// A master fingerprint: the finger's ridge pattern on a 500 dpi canvas, from
// which any number of impressions are taken.
#pragma once

#include <cstdint>
#include <optional>

#include "finger_shape.h"
#include "float_image.h"
#include "orientation_model.h"

namespace fpgen {

constexpr int kMasterWidth = 288;
constexpr int kMasterHeight = 352;

struct MasterPrint {
    uint64_t seed = 0;
    FingerShape shape;
    OrientationModel model;
    FloatImage orientation;  // radians
    FloatImage period;       // pixels per ridge
    FloatImage ridges;       // +1 ridge, -1 valley
    FloatImage mask;         // 1 inside the finger, 0 outside, soft edge
};

// The master of a finger seed; the same seed always gives the same master.
// A class may be forced, otherwise it is drawn from the seed.
MasterPrint generateMaster(uint64_t seed, std::optional<FingerClass> fingerClass = std::nullopt);

}  // namespace fpgen
