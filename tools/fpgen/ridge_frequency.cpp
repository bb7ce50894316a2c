#include "ridge_frequency.h"

#include <algorithm>
#include <cmath>

namespace fpgen {

FloatImage ridgePeriodMap(const OrientationModel &model, double fingerTop, double fingerBottom, int width, int height,
                          Rng &rng) {
    // Fingers differ in ridge period: the real sets' fingers have median periods
    // of about 7.5 to 11 pixels at 500 dpi.
    const double base = rng.uniform(kLowestBasePeriod, kHighestBasePeriod);
    const FloatImage variation = smoothNoise(width, height, 45.0, rng);
    double variationAmplitude = rng.uniform(0.5, 0.8);
    // A plain arch has no singular point to change the ridge count; a livelier
    // period makes ridges end and fork as often as in the other classes.
    if (model.cores.empty() && model.deltas.empty()) variationAmplitude *= 1.6;

    // The uppermost singular point (or the arch top) splits wider upper ridges
    // from the rest.
    double splitY = model.cores.empty() ? model.archTop : model.cores.front().y;
    for (const SingularPoint &c : model.cores) splitY = std::min(splitY, c.y);
    const double span = std::max(1.0, fingerBottom - fingerTop);

    FloatImage map(width, height);
    for (int y = 0; y < height; ++y) {
        const double above = std::clamp((splitY - y) / (0.5 * span), 0.0, 1.0);
        const double low = std::clamp((y - splitY) / span, 0.0, 1.0);
        for (int x = 0; x < width; ++x) {
            double period = base + 0.4 * above - 0.3 * low + variationAmplitude * variation.at(x, y);
            for (const SingularPoint &d : model.deltas) {
                const double r2 = (x - d.x) * (x - d.x) + (y - d.y) * (y - d.y);
                period -= 0.4 * std::exp(-r2 / (2.0 * 35.0 * 35.0));
            }
            map.at(x, y) = static_cast<float>(std::clamp(period, kMinRidgePeriod, kMaxRidgePeriod));
        }
    }
    return map;
}

}  // namespace fpgen
