#include "conditioning/enhance16to8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "QVAlgDll.h"
#include "conditioning/reference_subtract.h"
#include "synthetic_capture.h"

namespace {

class Enhance : public ::testing::Test {
  protected:
    void SetUp() override {
        QV_CURRENT_VER = 1;
        Quorvane_Init(5);
    }
    void TearDown() override { QV_CURRENT_VER = 1; }
};

// 1000 finger pixels: 15 at 185, 970 at 612, 15 at 1039, and two background
// pixels. 1.5 % of 1000 is 15, so lo = 185 and hi = 1039; the margin 85 gives
// L = 100 and U = 1124, and S = 255.
TEST_F(Enhance, StretchWalksThePercentilesAndRounds) {
    std::vector<uint16_t> raw(1002, 612);
    std::vector<uint8_t> mask(1002, 0), out(1002);
    for (int i = 0; i < 15; ++i) {
        raw[i] = 185;
        raw[100 + i] = 1039;
    }
    raw[1000] = 4000;
    raw[1001] = 50;
    mask[1000] = mask[1001] = 255;
    EXPECT_EQ(ExpandHistogram16to8(raw.data(), out.data(), mask.data(), 1002, 12), 100);
    EXPECT_EQ(out[500], 127);  // ((512 x 255 + 50) >> 10)
    EXPECT_EQ(out[0], (85 * 255 + 50) >> 10);
    EXPECT_EQ(out[100], (939 * 255 + 50) >> 10);
    EXPECT_EQ(out[1000], 255);  // background is mapped too
    EXPECT_EQ(out[1001], 0);
}

TEST_F(Enhance, TailCountIsRoundedNotTruncated) {
    // With 1000 finger pixels the tail is 15: 14 pixels at each end are not
    // enough to move lo or hi off the middle level, so the stretch is refused.
    std::vector<uint16_t> raw(1000, 500);
    std::vector<uint8_t> mask(1000, 0), out(1000);
    for (int i = 0; i < 14; ++i) {
        raw[i] = 300;
        raw[500 + i] = 900;
    }
    EXPECT_EQ(ExpandHistogram16to8(raw.data(), out.data(), mask.data(), 1000, 12), 0);
    EXPECT_EQ(out[0], 300 >> 4);
    EXPECT_EQ(out[20], 500 >> 4);
}

TEST_F(Enhance, DegenerateImagesKeepTheShiftedImage) {
    std::vector<uint16_t> raw(64, 2000);
    std::vector<uint8_t> mask(64, 0), out(64);
    EXPECT_EQ(ExpandHistogram16to8(raw.data(), out.data(), mask.data(), 64, 12), 0);  // one level only
    EXPECT_EQ(out, std::vector<uint8_t>(64, 2000 >> 4));
    std::fill(mask.begin(), mask.end(), 255);
    raw[3] = 100;
    EXPECT_EQ(ExpandHistogram16to8(raw.data(), out.data(), mask.data(), 64, 12), 0);  // no finger
    EXPECT_EQ(out[3], 100 >> 4);

    // The export still succeeds on a flat or an all-background capture.
    std::vector<uint16_t> capture(96 * 96, 3500);
    std::vector<uint8_t> image(96 * 96);
    g_bData16Bit = 0;
    EXPECT_EQ(Quorvane_Enhance16to8(capture.data(), image.data(), 96, 96), 1);
    EXPECT_EQ(g_bData16Bit, 2);
    EXPECT_EQ(g_nMean12Bit, IMG_DATA_WHITE);
    EXPECT_EQ(image[0], 3500 >> 4);
}

TEST_F(Enhance, BudgetRefusesLargeImagesWithoutTouchingAnything) {
    std::vector<uint16_t> raw(400 * 600, 1000);
    std::vector<uint8_t> image(400 * 600, 9);
    tempbuf[0] = 42;
    g_bData16Bit = 0;
    g_nMean12Bit = 1234;
    EXPECT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), 400, 600), -1);
    int32_t flags = 1;
    EXPECT_EQ(Quorvane_Enhance16to8_EX(raw.data(), image.data(), 400, 600, &flags), -1);
    EXPECT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), -4, 10), -1);
    EXPECT_EQ(tempbuf[0], 42);
    EXPECT_EQ(image[0], 9);
    EXPECT_EQ(g_bData16Bit, 0);
    EXPECT_EQ(g_nMean12Bit, 1234);

    // 96 x 96: 60000 + 18432 bytes, accepted; the flag adds 3P / 8 on this path.
    EnhanceLayout l;
    ASSERT_TRUE(PlanEnhanceLayout(96, 96, false, &l));
    EXPECT_EQ(l.budget, 78432);
    EXPECT_EQ(l.corrected, 30000);
    ASSERT_TRUE(PlanEnhanceLayout(96, 96, true, &l));
    EXPECT_EQ(l.budget, 78432 + 3456);
    // P = 219999 is the last size within 499999 bytes.
    EXPECT_FALSE(PlanEnhanceLayout(220000, 1, false, &l));
}

TEST_F(Enhance, LargeImagesKeepTheMaskApartFromTheCorrectedImage) {
    // 200 x 200 fits the budget, but its mask is longer than 30000 bytes: the
    // corrected image must not overwrite it.
    const int w = 200, h = 200;
    std::vector<uint16_t> raw(w * h);
    for (int i = 0; i < w * h; ++i) raw[i] = static_cast<uint16_t>((i % 7) * 300 + ((i / w) > 150 ? 3000 : 100));
    std::vector<uint8_t> image(w * h), expected(w * h);
    ASSERT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), w, h), 1);
    CacFingerprintMask16(raw.data(), expected.data(), w, h);
    EXPECT_EQ(0, std::memcmp(tempbuf, expected.data(), expected.size()));
}

TEST_F(Enhance, MaskAndStateAreLeftForTemplateCreation) {
    std::vector<uint16_t> raw = synthetic::rawCapture();
    const std::vector<uint16_t> original = raw;
    std::vector<uint8_t> image(raw.size()), mask(raw.size());
    ASSERT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), 96, 96), 1);
    CacFingerprintMask16(original.data(), mask.data(), 96, 96);
    EXPECT_EQ(0, std::memcmp(tempbuf, mask.data(), mask.size()));
    EXPECT_EQ(g_bData16Bit, 2);
    EXPECT_EQ(g_nMean12Bit, CacFingerprintMean16(original.data(), mask.data(), 96, 96));
    EXPECT_EQ(raw, original);  // the service's path leaves the raw image alone
}

// One generated capture per sensor geometry the service uses goes through the
// enhancement: the finger spans most of the byte range (the stretch keeps a
// margin of a tenth beyond the percentiles) and the background is white.
TEST_F(Enhance, GeneratedCapturesOfEverySensorGeometry) {
    for (int type : {5, 3, 1}) {
        Quorvane_Init(type);
        std::vector<uint16_t> raw = synthetic::rawCapture(static_cast<uint32_t>(type));
        const int w = IMAGE_WIDTH_SRC, h = IMAGE_HEIGHT_SRC;
        std::vector<uint8_t> image(raw.size(), 0xAA);
        ASSERT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), static_cast<int16_t>(w), static_cast<int16_t>(h)), 1)
            << type;
        int lo = 255, hi = 0, finger = 0;
        for (int i = 0; i < w * h; ++i) {
            if (tempbuf[i] != 0) {
                EXPECT_EQ(image[i], 255) << type << " background pixel " << i;
                continue;
            }
            ++finger;
            lo = std::min<int>(lo, image[i]);
            hi = std::max<int>(hi, image[i]);
        }
        EXPECT_GT(finger, w * h / 2) << type;
        EXPECT_LT(finger, w * h) << type;
        EXPECT_LE(lo, 30) << type;
        EXPECT_GE(hi, 225) << type;
        EXPECT_GT(g_nMean12Bit, 0);
        EXPECT_LT(g_nMean12Bit, IMG_DATA_WHITE);
    }
}

TEST_F(Enhance, VariantThreeScalesTheMeanAndTheRange) {
    Quorvane_Init(3);
    QV_CURRENT_VER = 3;
    std::vector<uint16_t> raw = synthetic::rawCapture();
    std::vector<uint8_t> image(raw.size()), mask(raw.size());
    ASSERT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), 68, 118), 1);
    CacFingerprintMask16(raw.data(), mask.data(), 68, 118);
    EXPECT_EQ(g_nMean12Bit, CacFingerprintMean16(raw.data(), mask.data(), 68, 118) >> 4);
    const int32_t range = g_nRange;
    EXPECT_GT(range, 0);

    // The extended entry point keeps the range unshifted; with the stripe flag
    // it also writes the stripe-corrected image back over the raw one.
    int32_t flags = 0;
    ASSERT_EQ(Quorvane_Enhance16to8_EX(raw.data(), image.data(), 68, 118, &flags), 1);
    EXPECT_EQ(g_nRange >> 4, range);
    const std::vector<uint16_t> before = raw;
    flags = 1;
    ASSERT_EQ(Quorvane_Enhance16to8_EX(raw.data(), image.data(), 68, 118, &flags), 1);
    EXPECT_NE(raw, before);
}

TEST_F(Enhance, LaterVariantsErodeTheMask) {
    // A small contact area inside the erosion's frame: a disc of radius 15
    // at the centre, with a few levels so that the stretch has a range.
    std::vector<uint16_t> raw(96 * 96, 3500);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x)
            if ((y - 48) * (y - 48) + (x - 48) * (x - 48) <= 15 * 15)
                raw[y * 96 + x] = static_cast<uint16_t>(1200 + 150 * ((x + y) % 9));
    std::vector<uint8_t> image(raw.size()), plain(raw.size());
    CacFingerprintMask16(raw.data(), plain.data(), 96, 96);
    QV_CURRENT_VER = 4;
    ASSERT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), 96, 96), 1);
    int plainFinger = 0, erodedFinger = 0, grown = 0;
    for (int i = 0; i < 96 * 96; ++i) {
        plainFinger += plain[i] == 0;
        erodedFinger += tempbuf[i] == 0;
        grown += plain[i] != 0 && tempbuf[i] == 0;
    }
    EXPECT_LT(erodedFinger, plainFinger);
    EXPECT_GT(erodedFinger, plainFinger / 2);
    EXPECT_EQ(grown, 0);  // erosion never adds finger
    EXPECT_EQ(g_bData16Bit, 2);

    // The grown mask must keep byte coordinates: 250 + 8 columns is refused.
    std::vector<uint16_t> wide(250 * 40, 1000);
    std::vector<uint8_t> wideOut(250 * 40);
    EXPECT_EQ(Quorvane_Enhance16to8(wide.data(), wideOut.data(), 250, 40), -1);
    int32_t flags = 1;
    EXPECT_EQ(Quorvane_Enhance16to8_EX(wide.data(), wideOut.data(), 250, 40, &flags), -1);
    QV_CURRENT_VER = 1;
    EXPECT_EQ(Quorvane_Enhance16to8(wide.data(), wideOut.data(), 250, 40), 1);
}

}  // namespace
