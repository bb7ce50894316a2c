#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "crop_window.h"
#include "impression.h"
#include "master_print.h"
#include "ridge_analysis.h"
#include "sensor_output.h"

namespace {

using fpcrop::WindowPose;
using imageio::GrayImage;

GrayImage numbered(int w, int h) {
    GrayImage image(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.at(x, y) = static_cast<uint8_t>((x * 3 + y * 17) % 250);
    }
    return image;
}

WindowPose pose(int w, int h, double cx, double cy, double angle) {
    WindowPose s;
    s.width = w;
    s.height = h;
    s.centreX = cx;
    s.centreY = cy;
    s.angleDegrees = angle;
    return s;
}

TEST(CropWindow, UprightWindowIsTheBlockAroundTheCentre) {
    const GrayImage source = numbered(60, 40);
    const GrayImage window = fpcrop::cropWindow(source, pose(7, 5, 20.0, 10.0, 0.0));
    ASSERT_EQ(window.width, 7);
    ASSERT_EQ(window.height, 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) EXPECT_EQ(window.at(x, y), source.at(17 + x, 8 + y)) << x << "," << y;
    }
}

TEST(CropWindow, QuarterTurnTransposesTheBlockClockwise) {
    const GrayImage source = numbered(60, 40);
    // Clockwise on screen: the window's x axis runs down the source's y axis.
    const GrayImage window = fpcrop::cropWindow(source, pose(5, 3, 30.0, 20.0, 90.0));
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) EXPECT_EQ(window.at(x, y), source.at(30 - (y - 1), 20 + (x - 2))) << x << "," << y;
    }
}

TEST(CropWindow, PartsOutsideTheSourceReadAsAnEmptySensor) {
    const GrayImage source = numbered(20, 20);
    const GrayImage window = fpcrop::cropWindow(source, pose(9, 9, 0.0, 0.0, 0.0));
    EXPECT_EQ(window.at(0, 0), fpcrop::kOutsideGray);
    EXPECT_EQ(window.at(3, 4), fpcrop::kOutsideGray);
    EXPECT_EQ(window.at(4, 4), source.at(0, 0));
    EXPECT_EQ(window.at(8, 8), source.at(4, 4));
}

GrayImage syntheticFullPrint(uint64_t seed) {
    const fpgen::MasterPrint master = fpgen::generateMaster(seed);
    return fpgen::composeGray8(fpgen::renderFullPrint(master));
}

TEST(RandomWindows, LieInsideTheFingerAreRepeatableAndKeepWithinTheAngleLimit) {
    const GrayImage print = syntheticFullPrint(4);
    const std::vector<uint8_t> area = fpcrop::fingerArea(print);
    const std::vector<WindowPose> windows = fpcrop::randomWindows(print, 68, 118, 12, 99, 20.0);
    ASSERT_EQ(windows.size(), 12u);
    for (const WindowPose &w : windows) {
        EXPECT_GE(fpcrop::windowCoverage(area, print.width, print.height, w), 0.9);
        EXPECT_LE(std::fabs(w.angleDegrees), 20.0);
        // A window inside the finger shows ridges: no empty-sensor pixels, a ridge period.
        const GrayImage crop = fpcrop::cropWindow(print, w);
        const double period = fpgen::dominantRidgePeriod(crop.pixels.data(), crop.width, crop.height);
        EXPECT_GE(period, 7.0);
        EXPECT_LE(period, 12.0);
    }
    const std::vector<WindowPose> again = fpcrop::randomWindows(print, 68, 118, 12, 99, 20.0);
    ASSERT_EQ(again.size(), windows.size());
    EXPECT_EQ(again.front().centreX, windows.front().centreX);
    const std::vector<WindowPose> other = fpcrop::randomWindows(print, 68, 118, 12, 100, 20.0);
    EXPECT_NE(other.front().centreX, windows.front().centreX);
}

TEST(RandomWindows, BlankImageOrTooLargeWindowGivesNone) {
    EXPECT_TRUE(fpcrop::randomWindows(GrayImage(200, 200, 250), 96, 96, 3, 1).empty());
    const GrayImage print = syntheticFullPrint(5);
    EXPECT_TRUE(fpcrop::randomWindows(print, 400, 400, 3, 1).empty());
    EXPECT_TRUE(fpcrop::randomWindows(print, 0, 96, 3, 1).empty());
}

TEST(RawFromGray, EmptySensorReadsAboveTheWhiteLevelAndRidgesFarBelow) {
    GrayImage image(96, 96, 250);
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 48; ++x) image.at(x, y) = (x / 4) % 2 ? 200 : 40;
    }
    const std::vector<uint16_t> values = fpgen::gray8ToRaw12(image, 5);
    const fpgen::SensorModel &sensor = fpgen::kSensorModels[0];
    EXPECT_EQ(fpgen::rawCapture(sensor, image, values).size(), 13824u);
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 96; ++x) {
            const uint16_t v = values[y * 96 + x];
            if (x >= 48)
                ASSERT_GT(v, 3018) << x << "," << y;
            else if (image.at(x, y) == 40)
                ASSERT_LT(v, 1000) << x << "," << y;
            else
                ASSERT_LT(v, 3018) << x << "," << y;
        }
    }
}

// Real prints are read at run time only when the shared data sets are present.
TEST(RealPrints, WindowsCutFromARealPrintShowRidges) {
    const std::filesystem::path file = std::filesystem::path(QV_SHARED_FINGERPRINTS) / "fvc2002_db1_b" / "101_1.pgm";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "no shared fingerprint sets at " << QV_SHARED_FINGERPRINTS;
    GrayImage print;
    ASSERT_TRUE(imageio::readPgm(file.string(), print));
    for (const fpgen::SensorModel &sensor : fpgen::kSensorModels) {
        const std::vector<WindowPose> windows = fpcrop::randomWindows(print, sensor.width, sensor.height, 4, 7);
        ASSERT_EQ(windows.size(), 4u) << sensor.name;
        for (const WindowPose &w : windows) {
            const GrayImage crop = fpcrop::cropWindow(print, w);
            const double period = fpgen::dominantRidgePeriod(crop.pixels.data(), crop.width, crop.height);
            EXPECT_GE(period, 6.0) << sensor.name;
            EXPECT_LE(period, 14.0) << sensor.name;
        }
    }
}

}  // namespace
