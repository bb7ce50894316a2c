#include "extraction/orientation_field.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "QVAlgDll.h"
#include "ridge_pattern.h"

namespace {

using ridge_pattern::Image;

constexpr int kSensorType96 = 5;  // 96 x 96 source, 160 x 160 expanded
constexpr int kPeriod = 9;

// Buffers of one orientation-field call, poisoned so that untouched outputs show.
struct OrientRun {
    std::vector<uint8_t> bytes, orient, mask;
    std::vector<int32_t> words;
    int32_t result = -1;

    OrientRun(Image &img, int32_t r = 8) {
        const size_t n = static_cast<size_t>(img.w * img.h);
        bytes.assign(n, 0x5a);
        orient.assign(n, 0x77);
        mask.assign(n, 0x77);
        words.assign(n, 0x5a5a5a5a);
        result = vwn_getOrientMap22(img.source.data(), img.pixels.data(), bytes.data(), img.w, img.h, orient.data(),
                                    mask.data(), words.data(), r);
    }
};

class OrientationField : public ::testing::Test {
  protected:
    void SetUp() override {
        Quorvane_Init(kSensorType96);
        ASSERT_EQ(IMAGE_WIDTH_SRC, 96);
        savedVersion = QV_CURRENT_VER;
        savedPackage = g_nCurPackage;
    }
    void TearDown() override {
        QV_CURRENT_VER = savedVersion;
        g_nCurPackage = savedPackage;
    }
    int32_t savedVersion = 1;
    int32_t savedPackage = 0;
};

// Share of the source area whose orientation is within tolerance of `expected`.
double shareWithin(const OrientRun &run, const Image &img, int tolerance, const ridge_pattern::OrientationAt &expected,
                   int *fingerPixels) {
    int good = 0, finger = 0;
    for (int y = 32; y < img.h - 32; ++y)
        for (int x = 32; x < img.w - 32; ++x) {
            const uint8_t o = run.orient[static_cast<size_t>(y * img.w + x)];
            if (o == 255) continue;
            ++finger;
            if (ridge_pattern::orientationError(o, expected(x - 32, y - 32)) <= tolerance) ++good;
        }
    *fingerPixels = finger;
    return finger > 0 ? static_cast<double>(good) / finger : 0.0;
}

TEST_F(OrientationField, StraightRidgesGiveTheirOrientation) {
    for (int degrees : {0, 45, 90, 135, 30, 120}) {
        Image img = ridge_pattern::straight(96, 96, degrees, kPeriod, 128, 30);
        OrientRun run(img);
        ASSERT_EQ(run.result, 1) << degrees;
        int finger = 0;
        const double share = shareWithin(
            run, img, 8, [&](double, double) { return degrees; }, &finger);
        EXPECT_GT(finger, 96 * 96 * 8 / 10) << degrees;
        EXPECT_GT(share, 0.93) << degrees;
    }
}

TEST_F(OrientationField, ExactAnglesOfTheAxisAndDiagonalCases) {
    // Exact in the middle, where the window sees only whole ridges: vertical
    // ridges have Sxy = 0 and Sd > 0 (90), horizontal ones Sd < 0 (0),
    // ridges from upper left to lower right Sd = 0 and Sxy < 0 (45).
    for (int degrees : {0, 90, 45}) {
        Image img = ridge_pattern::straight(96, 96, degrees, kPeriod, 128, 30);
        OrientRun run(img);
        ASSERT_EQ(run.result, 1);
        EXPECT_EQ(run.orient[80 * 160 + 80], degrees);
    }
}

TEST_F(OrientationField, OutputsOutsideTheSourceAreaAreBackground) {
    Image img = ridge_pattern::straight(96, 96, 30, kPeriod, 128, 30);
    OrientRun run(img);
    ASSERT_EQ(run.result, 1);
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) {
            const size_t i = static_cast<size_t>(y * img.w + x);
            const bool source = y >= 32 && y < img.h - 32 && x >= 32 && x < img.w - 32;
            if (!source) {
                ASSERT_EQ(run.orient[i], 255) << y << "," << x;
                ASSERT_EQ(run.mask[i], 255) << y << "," << x;
            } else {
                // The mask and the map agree pixel by pixel.
                ASSERT_EQ(run.mask[i] == 0, run.orient[i] != 255) << y << "," << x;
                ASSERT_TRUE(run.orient[i] < 180 || run.orient[i] == 255);
            }
        }
}

TEST_F(OrientationField, RingsAreFollowed) {
    Image img = ridge_pattern::rings(96, 96, 40, 55, kPeriod, 128, 30);
    OrientRun run(img);
    ASSERT_EQ(run.result, 1);
    int finger = 0;
    const double share = shareWithin(
        run, img, 12, [](double x, double y) { return ridge_pattern::ringOrientation(x, y, 40, 55); }, &finger);
    EXPECT_GT(finger, 96 * 96 * 7 / 10);
    EXPECT_GT(share, 0.9);
}

TEST_F(OrientationField, FlatImageIsRefusedAndOutputsUntouched) {
    Image img = ridge_pattern::straight(96, 96, 0, kPeriod, 128, 0);
    OrientRun run(img);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.orient[80 * 160 + 80], 0x77);
    EXPECT_EQ(run.mask[80 * 160 + 80], 0x77);
}

TEST_F(OrientationField, GradientsAboveTheHighBoundAreNotFinger) {
    // Amplitude 120 gives Sobel strengths far above 370 on most cells.
    g_nCurPackage = 1;  // bounds 120..230
    Image img = ridge_pattern::straight(96, 96, 0, kPeriod, 128, 120);
    OrientRun run(img);
    EXPECT_EQ(run.result, 0);
}

// Ridges only inside a centred square patch of the given side, white around it.
Image ridgePatch(int side) {
    Image img = ridge_pattern::straight(96, 96, 90, kPeriod, 128, 30);
    const int lo = 80 - side / 2, hi = 80 + side / 2;
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x)
            if (y < lo || y >= hi || x < lo || x >= hi) img.pixels[static_cast<size_t>(y * img.w + x)] = 250;
    return img;
}

TEST_F(OrientationField, SmallFingerIsRefused) {
    // 32 x 32 pixels of ridges: even grown by the mask clean-up they cover
    // fewer half-grid cells than 5 % of the source pixel count (460).
    Image small = ridgePatch(32);
    OrientRun refused(small);
    EXPECT_EQ(refused.result, 0);
    EXPECT_EQ(refused.orient[80 * 160 + 80], 0x77);

    Image large = ridgePatch(56);
    OrientRun accepted(large);
    EXPECT_EQ(accepted.result, 1);
    EXPECT_EQ(accepted.orient[80 * 160 + 80], 90);
}

TEST_F(OrientationField, VersionThreeReplacesTheImagesWithTheEnhancedOne) {
    QV_CURRENT_VER = 3;
    Image img = ridge_pattern::straight(96, 96, 60, kPeriod, 128, 30);
    const std::vector<uint8_t> sourceBefore = img.source;
    OrientRun run(img);
    ASSERT_EQ(run.result, 1);
    EXPECT_NE(img.source, sourceBefore);
    // The smoothed image now holds the enhanced source, framed with 250.
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x)
            ASSERT_EQ(img.pixels[static_cast<size_t>((y + 32) * img.w + x + 32)],
                      img.source[static_cast<size_t>(y * 96 + x)]);
    EXPECT_EQ(img.pixels[0], 250);
    EXPECT_EQ(img.pixels[static_cast<size_t>(img.w * img.h - 1)], 250);
    int finger = 0;
    EXPECT_GT(shareWithin(
                  run, img, 8, [](double, double) { return 60.0; }, &finger),
              0.95);
}

TEST_F(OrientationField, VersionOneLeavesTheImagesAlone) {
    Image img = ridge_pattern::straight(96, 96, 60, kPeriod, 128, 30);
    const Image before = img;
    OrientRun run(img);
    ASSERT_EQ(run.result, 1);
    EXPECT_EQ(img.source, before.source);
    EXPECT_EQ(img.pixels, before.pixels);
}

}  // namespace
