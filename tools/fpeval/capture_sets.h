// The fingers an evaluation runs on: per finger, enrolment captures in the
// order a person touches the sensor and verification captures, each in the
// raw form of the sensor model of its size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fpeval {

// One capture as the sensor would deliver it.
struct Capture {
    std::string name;
    uint16_t productId;        // sensor model, from the capture's size
    std::vector<uint8_t> raw;  // the model's raw bytes
};

struct Finger {
    std::string set;   // data set, e.g. "fvc2002_db1_b" or "synthetic"
    std::string name;  // unique within the evaluation, e.g. "fvc2002_db1_b_101"
    uint16_t productId;
    std::vector<Capture> enrol;
    std::vector<Capture> probe;
};

// Sensor model of a capture size (96 x 96, 68 x 118, 112 x 88), 0 when none.
uint16_t productForSize(int width, int height);
const char *sizeName(uint16_t productId);

// Raw bytes of an 8-bit capture for a sensor model. The 96 x 96 model gets
// 12-bit levels made from the grey levels (seeded by `seed`), with readout
// stripes. Empty when the size does not fit the model.
std::vector<uint8_t> rawFromGray(uint16_t productId, const std::vector<uint8_t> &gray, int width, int height,
                                 uint64_t seed);

// Loads a folder laid out by the evaluation protocol: FOLDER/<set>_<finger>/
// e_NN.pgm (enrolment, in order) and p_NN.pgm (verification). Appends one
// Finger per subfolder with captures; returns false with a reason on error.
// noise: which realisation of the 96 x 96 model's readout noise the captures
// get (0, the default, is the one every published figure uses).
bool loadCaptureFolder(const std::string &folder, std::vector<Finger> &fingers, std::string &error, uint64_t noise = 0);

// Generated fingers: `count` masters from `firstSeed` on, `enrolCount`
// enrolment and `probeCount` verification impressions each, for one model.
void addSyntheticFingers(uint16_t productId, int count, uint64_t firstSeed, int enrolCount, int probeCount,
                         std::vector<Finger> &fingers);

}  // namespace fpeval
