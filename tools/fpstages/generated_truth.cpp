#include "generated_truth.h"

#include <cmath>

#include "impression.h"
#include "master_print.h"
#include "sensor_output.h"

namespace fpstages {

namespace {

constexpr double kPi = 3.14159265358979323846;

int sensorTypeOf(const fpgen::SensorModel &model) {
    // The service's sensor types for its three models.
    if (model.width == 96 && model.height == 96) return 5;
    if (model.width == 68 && model.height == 118) return 3;
    if (model.width == 112 && model.height == 88) return 1;
    return 0;
}

// The master orientation seen through the impression's warp: the window
// direction that the local Jacobian maps onto the master direction.
float windowOrientation(const fpgen::MasterPrint &master, const fpgen::ImpressionParams &params, int w, int h, int x,
                        int y) {
    double mx, my, ax, ay, bx, by, cx, cy, dx, dy;
    fpgen::impressionToMaster(params, w, h, x, y, mx, my);
    const int ix = static_cast<int>(std::lround(mx)), iy = static_cast<int>(std::lround(my));
    if (ix < 0 || iy < 0 || ix >= master.mask.width || iy >= master.mask.height) return kNoTruth;
    if (master.mask.at(ix, iy) < 0.5f) return kNoTruth;
    fpgen::impressionToMaster(params, w, h, x + 1, y, ax, ay);
    fpgen::impressionToMaster(params, w, h, x - 1, y, bx, by);
    fpgen::impressionToMaster(params, w, h, x, y + 1, cx, cy);
    fpgen::impressionToMaster(params, w, h, x, y - 1, dx, dy);
    const double j00 = (ax - bx) / 2, j10 = (ay - by) / 2, j01 = (cx - dx) / 2, j11 = (cy - dy) / 2;
    const double det = j00 * j11 - j01 * j10;
    if (std::fabs(det) < 1e-9) return kNoTruth;
    const double t = master.orientation.at(ix, iy);
    const double ux = std::cos(t), uy = std::sin(t);
    const double vx = (j11 * ux - j01 * uy) / det, vy = (-j10 * ux + j00 * uy) / det;
    double deg = std::atan2(vy, vx) * 180.0 / kPi;
    while (deg < 0) deg += 180.0;
    while (deg >= 180.0) deg -= 180.0;
    return static_cast<float>(deg);
}

}  // namespace

bool generatedCapture(uint64_t seed, int index, const std::string &sensor, TruthCapture *out) {
    const fpgen::SensorModel *model = fpgen::findSensorModel(sensor);
    if (model == nullptr || sensorTypeOf(*model) == 0) return false;
    const fpgen::MasterPrint master = fpgen::generateMaster(seed);
    const fpgen::SyntheticCapture capture = fpgen::syntheticCapture(master, *model, index);
    out->gray = capture.gray;
    out->sensorType = sensorTypeOf(*model);
    const int w = model->width, h = model->height;
    out->orientation.assign(static_cast<size_t>(w * h), kNoTruth);
    const fpgen::CaptureLayers layers = fpgen::renderImpression(master, capture.params, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (layers.contact.at(x, y) < 0.5f) continue;
            out->orientation[static_cast<size_t>(y * w + x)] = windowOrientation(master, capture.params, w, h, x, y);
        }
    return true;
}

Agreement compareOrientation(const uint8_t *orient, int expandedWidth, int border, const TruthCapture &truth) {
    Agreement a;
    int near10 = 0, near20 = 0;
    double sum = 0.0;
    for (int y = 0; y < truth.gray.height; ++y)
        for (int x = 0; x < truth.gray.width; ++x) {
            const float t = truth.orientation[static_cast<size_t>(y * truth.gray.width + x)];
            const uint8_t o = orient[(y + border) * expandedWidth + x + border];
            if (t == kNoTruth || o == 255) continue;
            double d = std::fabs(o - t);
            if (d > 90.0) d = 180.0 - d;
            ++a.compared;
            near10 += d <= 10.0;
            near20 += d <= 20.0;
            sum += d;
        }
    if (a.compared > 0) {
        a.within10 = 100.0 * near10 / a.compared;
        a.within20 = 100.0 * near20 / a.compared;
        a.meanError = sum / a.compared;
    }
    return a;
}

}  // namespace fpstages
