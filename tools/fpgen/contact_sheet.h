// A contact sheet: for each finger seed its full print and impressions for
// the three sensor windows, laid out on one grey image for a person to judge.
#pragma once

#include <cstdint>
#include <vector>

#include "impression.h"
#include "pgm.h"

namespace fpgen {

struct SheetSettings {
    std::vector<uint64_t> seeds;
    int impressionRows = 2;  // rows of sensor impressions under each full print
    int columns = 5;
    Placement placement = Placement::NearCentre;
};

imageio::GrayImage contactSheet(const SheetSettings &settings);

}  // namespace fpgen
