// A detection error trade-off plot: false non-match rate against false match
// rate over all thresholds, both axes logarithmic, as an SVG file.
#pragma once

#include <string>
#include <vector>

namespace fpeval {

struct DetCurve {
    std::string label;
    std::vector<int> genuine;   // sorted scores
    std::vector<int> impostor;  // sorted scores
    bool dashed = false;
    int unenrolled = 0;  // genuine captures of fingers that did not enrol: rejected at every threshold
};

// Points (FMR, FNMR) of a curve, one per distinct score used as threshold
// (a score above the threshold is accepted); FNMR counts the captures of
// fingers that did not enrol as rejected.
std::vector<std::pair<double, double>> detPoints(const DetCurve &curve);

// Writes the curves; false when the file cannot be written.
bool writeDetSvg(const std::string &path, const std::string &title, const std::vector<DetCurve> &curves);

}  // namespace fpeval
