// The histogram stretch of an 8-bit capture: which ranges it stretches, the
// tails it ignores, the arithmetic and the window of the tall sensors.
#include "conditioning/histogram_stretch.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

constexpr int kW = 96, kH = 96;  // sensor type 5, centre (48, 48)

class Contrast : public ::testing::Test {
  protected:
    void SetUp() override {
        Quorvane_Init(5);
        ASSERT_EQ(XCENTER, 48);
        ASSERT_EQ(YCENTER, 48);
        savedVersion = QV_CURRENT_VER;
    }
    void TearDown() override { QV_CURRENT_VER = savedVersion; }
    int32_t savedVersion = 1;
};

// A 51 x 51 centre window of `fill` with 5 pixels at `lo` and 5 at `hi`, so
// the 0.2 % tails end exactly at lo and hi.
std::vector<uint8_t> windowImage(uint8_t fill, uint8_t lo, uint8_t hi) {
    std::vector<uint8_t> img(kW * kH, fill);
    for (int k = 0; k < 5; ++k) {
        img[(23 + k) * kW + 23] = lo;
        img[(23 + k) * kW + 73] = hi;
    }
    return img;
}

TEST_F(Contrast, NarrowRangeIsStretchedOnlyForMidMeans) {
    // Five levels apart: stretched at a window mean of 100 ...
    std::vector<uint8_t> mid = windowImage(100, 98, 103);
    EXPECT_EQ(ExpandHistogram(mid.data(), kW, kH), 1);
    EXPECT_EQ(mid[48 * kW + 48], ((100 - 98) * 5000 + 50) / 100);  // S = 5000

    // ... refused at 200 and at 20, image unchanged.
    std::vector<uint8_t> bright = windowImage(200, 198, 203);
    const std::vector<uint8_t> brightBefore = bright;
    EXPECT_EQ(ExpandHistogram(bright.data(), kW, kH), 0);
    EXPECT_EQ(bright, brightBefore);
    std::vector<uint8_t> dark = windowImage(20, 18, 23);
    EXPECT_EQ(ExpandHistogram(dark.data(), kW, kH), 0);

    // Nine levels apart is wide enough at any mean.
    std::vector<uint8_t> wider = windowImage(200, 196, 205);
    EXPECT_EQ(ExpandHistogram(wider.data(), kW, kH), 1);
}

TEST_F(Contrast, FourPixelsAtEachEndAreIgnored) {
    std::vector<uint8_t> img = windowImage(100, 98, 103);
    for (int k = 0; k < 4; ++k) {
        img[30 * kW + 30 + k] = 0;
        img[31 * kW + 30 + k] = 255;
    }
    // lo = 0 and hi = 255 would give S = 98; the tails end at 98 and 103.
    ASSERT_EQ(ExpandHistogram(img.data(), kW, kH), 1);
    EXPECT_EQ(img[48 * kW + 48], 100);
}

TEST_F(Contrast, StretchArithmetic) {
    // lo = 10, hi = 110: S = 250, ((p - 10) * 250 + 50) / 100.
    std::vector<uint8_t> img = windowImage(60, 10, 110);
    img[0] = 110;
    img[1] = 200;
    img[2] = 9;  // outside the window: (-250 + 50) / 100 = -2, clamped
    img[3] = 11;
    ASSERT_EQ(ExpandHistogram(img.data(), kW, kH), 1);
    EXPECT_EQ(img[48 * kW + 48], 125);
    EXPECT_EQ(img[0], 250);
    EXPECT_EQ(img[1], 250);
    EXPECT_EQ(img[2], 0);
    EXPECT_EQ(img[3], 3);  // (250 + 50) / 100
}

TEST_F(Contrast, UniformWindowIsRefused) {
    std::vector<uint8_t> img(kW * kH, 90);
    EXPECT_EQ(ExpandHistogram(img.data(), kW, kH), 0);
}

TEST_F(Contrast, TallWindowForVersionsTwoThreeAndSix) {
    // Dark and bright tails only in rows 48 +- 26..50: inside the tall window,
    // outside the square one.
    std::vector<uint8_t> img(kW * kH, 100);
    for (int k = 0; k < 5; ++k) {
        img[(2 + k) * kW + 48] = 10;
        img[(90 + k) * kW + 48] = 200;
    }
    std::vector<uint8_t> copy = img;
    QV_CURRENT_VER = 1;
    EXPECT_EQ(ExpandHistogram(copy.data(), kW, kH), 0);
    QV_CURRENT_VER = 3;
    EXPECT_EQ(ExpandHistogram(img.data(), kW, kH), 1);
    EXPECT_EQ(img[2 * kW + 48], 0);
    EXPECT_EQ(img[90 * kW + 48], 250);
}

}  // namespace
