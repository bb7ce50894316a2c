#include "master_print.h"

#include "random.h"
#include "ridge_frequency.h"
#include "ridge_growth.h"

namespace fpgen {

namespace {

constexpr double kMaskEdge = 6.0;       // soft silhouette edge, pixels
constexpr double kGrowthMargin = 14.0;  // ridges grow a little beyond the silhouette
constexpr uint64_t kMasterStream = 0x6D6173746572ull;

}  // namespace

MasterPrint generateMaster(uint64_t seed, std::optional<FingerClass> fingerClass) {
    Rng rng(seedFor(kMasterStream, seed));
    MasterPrint master;
    master.seed = seed;
    const FingerClass chosen = fingerClass.value_or(randomFingerClass(rng));
    master.shape = randomFingerShape(kMasterWidth, kMasterHeight, rng);
    master.model =
        randomOrientationModel(chosen, master.shape.centreX, master.shape.centreY, master.shape.halfWidth, rng);
    master.orientation = orientationMap(master.model, kMasterWidth, kMasterHeight, rng);
    master.period = ridgePeriodMap(master.model, master.shape.centreY - master.shape.topHeight,
                                   master.shape.centreY + master.shape.bottomHeight, kMasterWidth, kMasterHeight, rng);
    master.mask = shapeMask(master.shape, kMasterWidth, kMasterHeight, kMaskEdge);

    FloatImage region(kMasterWidth, kMasterHeight);
    for (int y = 0; y < kMasterHeight; ++y) {
        for (int x = 0; x < kMasterWidth; ++x)
            region.at(x, y) = master.shape.outside(x, y) < kGrowthMargin ? 1.0f : 0.0f;
    }
    GrowthSettings growth;
    growth.seedSpacing = 30 + rng.below(12);
    growth.gain = 3.0f;
    growth.passes = 12;
    growth.defectCount = 10 + rng.below(10);
    // Plain arches have no singular point to bend ridges into endings: more defects.
    if (chosen == FingerClass::Arch) growth.defectCount += 20;
    growth.settlePasses = 4;
    master.ridges = growRidges(master.orientation, master.period, region, growth, rng);
    return master;
}

}  // namespace fpgen
