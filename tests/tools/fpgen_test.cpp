#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "capture_format.h"
#include "impression.h"
#include "master_print.h"
#include "ridge_analysis.h"
#include "sensor_output.h"

namespace {

using namespace fpgen;

constexpr double kPi = 3.14159265358979323846;
constexpr int kCell = 4;  // master pixels per footprint cell

const MasterPrint &master(uint64_t seed) {
    static std::map<uint64_t, MasterPrint> cache;
    auto it = cache.find(seed);
    if (it == cache.end()) it = cache.emplace(seed, generateMaster(seed)).first;
    return it->second;
}

double correlation(const std::vector<double> &a, const std::vector<double> &b) {
    double ma = 0, mb = 0;
    for (size_t i = 0; i < a.size(); ++i) ma += a[i], mb += b[i];
    ma /= a.size();
    mb /= b.size();
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

// Mean grey level of a firmly touching impression per master cell it covers.
std::map<std::pair<int, int>, double> footprint(const MasterPrint &m, const SensorModel &sensor, int index) {
    const ImpressionParams params =
        impressionFor(m, sensor.width, sensor.height, sensor.productId, index, Placement::NearCentre);
    const CaptureLayers layers = renderImpression(m, params, sensor.width, sensor.height);
    const imageio::GrayImage gray = composeGray8(layers);
    std::map<std::pair<int, int>, std::pair<double, int>> sums;
    for (int y = 0; y < sensor.height; ++y) {
        for (int x = 0; x < sensor.width; ++x) {
            if (layers.contact.at(x, y) < 0.9f) continue;
            double mx, my;
            impressionToMaster(params, sensor.width, sensor.height, x, y, mx, my);
            auto &cell = sums[{static_cast<int>(std::floor(mx / kCell)), static_cast<int>(std::floor(my / kCell))}];
            cell.first += gray.at(x, y);
            ++cell.second;
        }
    }
    std::map<std::pair<int, int>, double> means;
    for (const auto &[cell, sum] : sums) means[cell] = sum.first / sum.second;
    return means;
}

struct Overlap {
    double share = 0.0;      // of the first footprint's cells
    double agreement = 0.0;  // correlation of the grey levels over shared cells
};

Overlap compare(const std::map<std::pair<int, int>, double> &a, const std::map<std::pair<int, int>, double> &b) {
    std::vector<double> va, vb;
    for (const auto &[cell, grey] : a) {
        auto it = b.find(cell);
        if (it == b.end()) continue;
        va.push_back(grey);
        vb.push_back(it->second);
    }
    Overlap result;
    result.share = a.empty() ? 0.0 : static_cast<double>(va.size()) / a.size();
    result.agreement = va.size() > 20 ? correlation(va, vb) : 0.0;
    return result;
}

TEST(Master, SameSeedGivesTheSameFingerAndImpressions) {
    const MasterPrint again = generateMaster(3);
    EXPECT_EQ(again.ridges.values, master(3).ridges.values);
    EXPECT_EQ(again.model.fingerClass, master(3).model.fingerClass);
    const SensorModel &sensor = kSensorModels[0];
    const ImpressionParams a = impressionFor(master(3), 96, 96, sensor.productId, 5, Placement::NearCentre);
    const ImpressionParams b = impressionFor(again, 96, 96, sensor.productId, 5, Placement::NearCentre);
    const CaptureLayers la = renderImpression(master(3), a, 96, 96);
    const CaptureLayers lb = renderImpression(again, b, 96, 96);
    EXPECT_EQ(composeGray8(la).pixels, composeGray8(lb).pixels);
    EXPECT_EQ(composeRaw12(la), composeRaw12(lb));
}

TEST(Master, DifferentSeedsGiveUnrelatedRidgePatterns) {
    const MasterPrint &a = master(1), &b = master(2);
    std::vector<double> va, vb;
    for (int y = 0; y < kMasterHeight; y += 2) {
        for (int x = 0; x < kMasterWidth; x += 2) {
            if (a.mask.at(x, y) < 0.99f || b.mask.at(x, y) < 0.99f) continue;
            va.push_back(a.ridges.at(x, y));
            vb.push_back(b.ridges.at(x, y));
        }
    }
    ASSERT_GT(va.size(), 10000u);
    EXPECT_LT(std::fabs(correlation(va, vb)), 0.15);
    // Ridges are fully grown: almost every finger pixel is clearly ridge or valley.
    int undecided = 0;
    for (double v : va) undecided += std::fabs(v) < 0.3;
    EXPECT_LT(undecided, static_cast<int>(va.size() / 5));
}

TEST(Master, FullPrintsHaveARealisticNumberOfMinutiae) {
    for (FingerClass c : {FingerClass::LeftLoop, FingerClass::RightLoop, FingerClass::Whorl}) {
        const MasterPrint m = generateMaster(40, c);
        const MinutiaeCount count = countMinutiae(m.ridges, m.mask, 10);
        EXPECT_GE(count.total(), 30) << fingerClassName(c);
        EXPECT_LE(count.total(), 80) << fingerClassName(c);
        EXPECT_GT(count.endings, 5) << fingerClassName(c);
        EXPECT_GT(count.bifurcations, 5) << fingerClassName(c);
    }
}

TEST(RidgeAnalysis, StraightParallelRidgesHaveNoMinutiaeAndTheirPeriod) {
    FloatImage ridges(160, 160), mask(160, 160, 1.0f);
    const double angle = 30.0 * kPi / 180.0;
    for (int y = 0; y < 160; ++y) {
        for (int x = 0; x < 160; ++x) {
            ridges.at(x, y) =
                static_cast<float>(std::cos(2.0 * kPi * (-x * std::sin(angle) + y * std::cos(angle)) / 9.0));
        }
    }
    EXPECT_EQ(countMinutiae(ridges, mask, 10).total(), 0);
    FloatImage window(96, 96);
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 96; ++x) window.at(x, y) = ridges.at(x, y);
    }
    EXPECT_NEAR(dominantRidgePeriod(window), 9.0, 0.3);
}

// Real fingers differ in ridge period (median periods of about 7.5 to 11 pixels
// in the real sets); fingers of one period correlate far better than real
// strangers do.
TEST(Impression, RidgePeriodsVaryBetweenFingersAsInRealSets) {
    std::vector<double> medians;
    for (uint64_t seed = 1; seed <= 10; ++seed) {
        std::vector<double> periods;
        for (int index = 0; index < 4; ++index) {
            const ImpressionParams p = impressionFor(master(seed), 96, 96, 0x2547, index, Placement::NearCentre);
            const imageio::GrayImage gray = composeGray8(renderImpression(master(seed), p, 96, 96));
            periods.push_back(dominantRidgePeriod(gray.pixels.data(), 96, 96));
            EXPECT_GE(periods.back(), 6.5) << "seed " << seed << " impression " << index;
            EXPECT_LE(periods.back(), 13.5) << "seed " << seed << " impression " << index;
        }
        std::sort(periods.begin(), periods.end());
        medians.push_back(0.5 * (periods[1] + periods[2]));
    }
    std::sort(medians.begin(), medians.end());
    EXPECT_GE(medians.back() - medians.front(), 3.0);
}

// Mean orientation difference, after the best common rotation, on a ring of
// the given radius around the first core of each model (radians).
double flowDifferenceAroundCore(const OrientationModel &a, const OrientationModel &b, double radius) {
    constexpr int kSteps = 72;
    double diffs[kSteps];
    double sumSin = 0.0, sumCos = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double t = 2.0 * kPi * i / kSteps;
        const double da = a.angleAt(a.cores[0].x + radius * std::cos(t), a.cores[0].y + radius * std::sin(t));
        const double db = b.angleAt(b.cores[0].x + radius * std::cos(t), b.cores[0].y + radius * std::sin(t));
        diffs[i] = 2.0 * (da - db);  // doubled: orientations repeat every half turn
        sumSin += std::sin(diffs[i]);
        sumCos += std::cos(diffs[i]);
    }
    const double rotation = std::atan2(sumSin, sumCos);
    double total = 0.0;
    for (double d : diffs) total += std::fabs(std::remainder(d - rotation, 2.0 * kPi));
    return 0.5 * total / kSteps;
}

// Two loops of one side whose ridges turned alike around the core lined up
// almost as well as two touches of one finger; each singular point now bends
// its flow its own way, without folding it (which would add singular points).
TEST(Master, SingularPointsBendWithoutFoldingAndLoopsOfOneSideFlowDifferently) {
    std::vector<OrientationModel> models;
    for (uint64_t seed = 1; seed <= 12; ++seed) {
        Rng rng(seed);
        models.push_back(randomOrientationModel(FingerClass::LeftLoop, 144.0, 176.0, 120.0, rng));
        models.push_back(randomOrientationModel(FingerClass::Whorl, 144.0, 176.0, 120.0, rng));
    }
    std::vector<double> differences;
    for (size_t i = 0; i < models.size(); ++i) {
        std::vector<SingularPoint> points = models[i].cores;
        points.insert(points.end(), models[i].deltas.begin(), models[i].deltas.end());
        for (const SingularPoint &point : points) {
            // A whole turn around the point still adds a whole turn: the point keeps its index.
            EXPECT_NEAR(point.bent(1.0 + 2.0 * kPi) - point.bent(1.0), 2.0 * kPi, 1e-9);
            for (int k = 1; k <= 720; ++k) {
                const double a = -kPi + 2.0 * kPi * k / 720;
                ASSERT_GT(point.bent(a), point.bent(a - 2.0 * kPi / 720)) << "model " << i;
            }
        }
        for (size_t j = i + 2; j < models.size() && i % 2 == 0; j += 2)
            differences.push_back(flowDifferenceAroundCore(models[i], models[j], 40.0));
    }
    std::sort(differences.begin(), differences.end());
    // Unbent loops differ by well under a degree here (only their deltas move).
    EXPECT_GE(differences[differences.size() / 2] * 180.0 / kPi, 8.0);
}

TEST(Impression, ImpressionsOfOneFingerOverlapAndAgreeWhereTheyDo) {
    const SensorModel &sensor = kSensorModels[0];
    for (uint64_t seed : {1, 3}) {
        std::vector<std::map<std::pair<int, int>, double>> prints;
        for (int k = 0; k < 6; ++k) prints.push_back(footprint(master(seed), sensor, k));
        int overlapping = 0, agreeing = 0, pairs = 0;
        for (size_t i = 0; i < prints.size(); ++i) {
            for (size_t j = i + 1; j < prints.size(); ++j) {
                const Overlap o = compare(prints[i], prints[j]);
                ++pairs;
                if (o.share >= 0.3) {
                    ++overlapping;
                    if (o.agreement > 0.7) ++agreeing;
                }
            }
        }
        EXPECT_GE(overlapping, pairs / 2) << "seed " << seed;
        EXPECT_EQ(agreeing, overlapping) << "seed " << seed;
    }
}

TEST(Impression, ImpressionsOfDifferentFingersDoNotAgree) {
    const SensorModel &sensor = kSensorModels[0];
    for (int k = 0; k < 4; ++k) {
        const Overlap o = compare(footprint(master(1), sensor, k), footprint(master(2), sensor, k));
        if (o.share < 0.3) continue;
        EXPECT_LT(std::fabs(o.agreement), 0.5) << "impression " << k;
    }
}

TEST(Impression, RotationStaysWithinTwentyFiveDegreesAndPlacementInsideTheFinger) {
    const MasterPrint &m = master(1);
    for (int k = 0; k < 200; ++k) {
        for (Placement placement : {Placement::NearCentre, Placement::WholeFinger}) {
            const ImpressionParams p = impressionFor(m, 112, 88, 0x2549, k, placement);
            ASSERT_LE(std::fabs(p.angle), 25.0 * kPi / 180.0 + 1e-9);
            ASSERT_LT(m.shape.outside(p.centreX, p.centreY), 0.0);
        }
    }
}

TEST(SensorOutput, RawCapturesHaveTheSensorsLengthsAndDecodeToTheImages) {
    const MasterPrint &m = master(2);
    for (const SensorModel &sensor : kSensorModels) {
        const SyntheticCapture shot = syntheticCapture(m, sensor, 0);
        const capture::SensorFormat *format = capture::findSensorFormat(sensor.productId);
        ASSERT_EQ(shot.raw.size(), format->rawLength);
        ASSERT_EQ(shot.gray.width, sensor.width);
        ASSERT_EQ(shot.gray.height, sensor.height);
        capture::DecodedCapture decoded;
        ASSERT_TRUE(capture::decodeCapture(sensor.productId, shot.raw.data(), shot.raw.size(), &decoded));
        ASSERT_EQ(decoded.width, shot.gray.width);
        ASSERT_EQ(decoded.height, shot.gray.height);
        if (decoded.sixteenBit) {
            ASSERT_EQ(shot.values12.size(), shot.gray.pixels.size());
        }
        for (size_t i = 0; i < shot.gray.pixels.size(); ++i) {
            if (decoded.sixteenBit) {
                ASSERT_EQ(decoded.pixels16[i], shot.values12[i] / 4) << i;
            } else {
                ASSERT_EQ(decoded.pixels8[i], shot.gray.pixels[i]) << i;
            }
        }
        // The same index is the same capture; the next one is another touch.
        EXPECT_EQ(syntheticCapture(m, sensor, 0).raw, shot.raw);
        EXPECT_NE(syntheticCapture(m, sensor, 1).raw, shot.raw);
    }
}

TEST(SensorOutput, TwelveBitBackgroundIsAboveTheWhiteLevelAndTheFingerBelow) {
    constexpr int kWhiteLevel = 3018;
    int background = 0, finger = 0;
    for (int k = 0; k < 12; ++k) {
        const ImpressionParams p = impressionFor(master(3), 96, 96, 0x2547, k, Placement::WholeFinger);
        const CaptureLayers layers = renderImpression(master(3), p, 96, 96);
        const std::vector<uint16_t> values = composeRaw12(layers);
        for (size_t i = 0; i < values.size(); ++i) {
            const float contact = layers.contact.values[i];
            if (contact < 0.02f) {
                ASSERT_GT(values[i], kWhiteLevel);
                ++background;
            } else if (contact > 0.98f) {
                ASSERT_LT(values[i], kWhiteLevel);
                ++finger;
            }
        }
    }
    EXPECT_GT(background, 500);  // some touches leave part of the window empty
    EXPECT_GT(finger, 50000);
}

TEST(SensorOutput, ReadoutStripesRepeatEveryEightColumns) {
    CaptureLayers flat;
    flat.width = flat.height = 96;
    flat.surface = FloatImage(96, 96, 128.0f);
    flat.contact = FloatImage(96, 96, 1.0f);
    flat.noiseSigma = 0.0;
    flat.noiseSeed = 77;
    const std::vector<uint16_t> values = composeRaw12(flat);
    int distinct = 0;
    for (int column = 0; column < 96; ++column) {
        for (int row = 0; row < 96; ++row) {
            ASSERT_EQ(values[row * 96 + column], values[(row * 96 + column % 8)]) << row << "," << column;
        }
        if (column > 0 && column < 8) distinct += values[column] != values[column - 1];
    }
    EXPECT_GE(distinct, 5);  // neighbouring channels carry different offsets
    for (uint16_t v : values) EXPECT_LE(std::abs(v - values[0]), 2 * kMaxStripeOffset);
}

}  // namespace
