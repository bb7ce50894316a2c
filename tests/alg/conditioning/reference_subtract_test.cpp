#include "conditioning/reference_subtract.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

class ChannelOffsets : public ::testing::Test {
  protected:
    void SetUp() override { Quorvane_Init(1); }  // 12-bit data, white level 3018
};

TEST_F(ChannelOffsets, FlatAndPhaseOffsetImagesComeOutFlat) {
    std::vector<uint16_t> src(64, 1000), dst(64, 7);
    SubCurrentRefer16(src.data(), dst.data(), 64);
    EXPECT_EQ(dst, src);

    // Columns alternate 1000 / 1100 on an 8-wide image: the odd phases carry
    // a 100 offset, which is removed while the global level stays.
    for (int i = 0; i < 64; ++i) src[i] = (i % 2) ? 1100 : 1000;
    SubCurrentRefer16(src.data(), dst.data(), 64);
    EXPECT_EQ(dst, std::vector<uint16_t>(64, 1000));
    EXPECT_EQ(src[1], 1100);  // source untouched
}

TEST_F(ChannelOffsets, ShortfallLiftsTheWholeImage) {
    // Channel 0 holds 0 and 1000 (mean 500 after subtracting the minimum 0), so
    // its source pixel 0 lies 500 below the mean: every pixel is lifted by 500.
    std::vector<uint16_t> src(16, 200), dst(16);
    src[0] = 0;
    src[8] = 1000;
    SubCurrentRefer16(src.data(), dst.data(), 16);
    EXPECT_EQ(dst[0], 0);     // 500 + 0 - 500
    EXPECT_EQ(dst[8], 1000);  // 500 + 1000 - 500
    EXPECT_EQ(dst[3], 500);   // 500 + 200 - 200
}

TEST_F(ChannelOffsets, WhiteTestsUseTheMinimumSubtractedCopyAndTheTailIsNotCorrected) {
    // 19 pixels: the last 19 mod 8 = 3 lie outside the channels. The means
    // are taken after subtracting the minimum 1500, so the source-white 3500
    // (2000 after it) enters channel 2's mean, while the output tests the
    // source and passes it through.
    std::vector<uint16_t> src(19, 1500), dst(19);
    src[2] = 3500;
    src[10] = 1600;
    src[18] = 1700;
    SubCurrentRefer16(src.data(), dst.data(), 19);
    EXPECT_EQ(dst[2], 3500);
    EXPECT_EQ(dst[10], 1600 - (2000 + 100) / 2);
    EXPECT_EQ(dst[5], 1500);
    EXPECT_EQ(dst[16], 0);    // tail: 1500 - minimum 1500
    EXPECT_EQ(dst[18], 200);  // tail: 1700 - 1500
}

TEST_F(ChannelOffsets, AllBackgroundImage) {
    std::vector<uint16_t> src(48, 3500), dst(48);
    src[5] = 4000;
    SubCurrentRefer16(src.data(), dst.data(), 48);
    EXPECT_EQ(dst, src);
    std::vector<uint8_t> mask(48, 9);
    CacFingerprintMask16(src.data(), mask.data(), 8, 6);
    EXPECT_EQ(mask, std::vector<uint8_t>(48, 255));
    EXPECT_EQ(CacFingerprintMean16(src.data(), mask.data(), 8, 6), IMG_DATA_WHITE);
}

TEST_F(ChannelOffsets, MaskAndMeanOfFingerPixels) {
    std::vector<uint16_t> raw = {3018, 3019, 1000, 2000};
    std::vector<uint8_t> mask(4);
    CacFingerprintMask16(raw.data(), mask.data(), 2, 2);
    EXPECT_EQ(mask, (std::vector<uint8_t>{0, 255, 0, 0}));  // the white level itself is finger
    EXPECT_EQ(CacFingerprintMean16(raw.data(), mask.data(), 2, 2), (3018 + 1000 + 2000) / 3);
}

TEST_F(ChannelOffsets, ColumnGroupsLeaveTheLastColumnsAlone) {
    // 7 x 2 image, groups of 2: channels are columns 0-1, 2-3, 4-5; column 6
    // is outside. Group 1 is 40 brighter.
    const int w = 7, h = 2;
    std::vector<uint16_t> src(w * h), dst(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[y * w + x] = static_cast<uint16_t>(x / 2 == 1 ? 1040 : 1000 + (x == 6) * 7);
    SubCurrentRefer16_3(src.data(), dst.data(), w, h, 2);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < 6; ++x) EXPECT_EQ(dst[y * w + x], 1000) << x;
        EXPECT_EQ(dst[y * w + 6], 7);  // minimum-subtracted only
    }
}

TEST_F(ChannelOffsets, RowAndPhaseVariantsRemoveRowOffsets) {
    // Row y is 10 * y brighter, and phase 1 of every row 3 brighter still.
    const int w = 8, h = 4;
    std::vector<uint16_t> src(w * h), dst(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) src[y * w + x] = static_cast<uint16_t>(1000 + 10 * y + 3 * (x % 2));
    uint8_t scratch[5 * 2 * 4];
    removeHStripeLP16_3(src.data(), dst.data(), w, h, 2, scratch);
    EXPECT_EQ(dst, std::vector<uint16_t>(w * h, 1000));

    // Rows only: the phase pattern stays, the row offsets go.
    removeHStripeLP16(src.data(), dst.data(), w, h, scratch);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(dst[y * w + x], (x % 2) ? 1002 : 999) << y << "," << x;
}

TEST_F(ChannelOffsets, EightBitVariantsKeepWhitePixelsAndClamp) {
    // removeStripeLP: pixels at 250 or above pass unchanged and stay out of
    // the means (channel 0 is all 0, so the minimum is 0).
    std::vector<uint8_t> src(16, 100), dst(16);
    src[0] = src[8] = 0;
    src[1] = 120;
    src[9] = 250;  // same channel as index 1; counted, it would make 120 fall short
    removeStripeLP(src.data(), dst.data(), 4, 4);
    std::vector<uint8_t> expected(16, 0);
    expected[9] = 250;
    EXPECT_EQ(dst, expected);

    // Column groups on bytes: group 1 is 30 brighter; the image minimum starts at 250.
    const int w = 4, h = 3;
    std::vector<uint8_t> s3(w * h), d3(w * h);
    for (int i = 0; i < w * h; ++i) s3[i] = static_cast<uint8_t>((i % w) / 2 ? 90 : 60);
    removeStripeLP_3(s3.data(), d3.data(), w, h, 2);
    EXPECT_EQ(d3, std::vector<uint8_t>(w * h, 60));

    // Row-and-phase on bytes.
    // Row and phase on bytes: each (row, phase) channel holds one 60 and one
    // 90, mean 15 after the minimum.
    removeHStripeLP_3(s3.data(), d3.data(), w, h, 2, nullptr);
    for (int i = 0; i < w * h; ++i) EXPECT_EQ(d3[i], s3[i] - 15) << i;
}

TEST_F(ChannelOffsets, WideRowsDoNotWrapTheChannelCounts) {
    // 300 pixels per row would wrap an 8-bit counter; the row offsets must
    // still be measured over the whole row.
    const int w = 300, h = 2;
    std::vector<uint8_t> src(w * h), dst(w * h);
    for (int x = 0; x < w; ++x) {
        src[x] = 50;
        src[w + x] = 80;
    }
    removeHStripeLP(src.data(), dst.data(), w, h, nullptr);
    EXPECT_EQ(dst, std::vector<uint8_t>(w * h, 50));
}

TEST_F(ChannelOffsets, StoredReferenceSubtraction) {
    std::vector<uint16_t> src = {500, 600, 700}, dst(3);
    EXPECT_EQ(SubRefer16(src.data(), src.data(), dst.data(), 3), 3);
    EXPECT_EQ(dst, (std::vector<uint16_t>{0, 0, 0}));
    std::vector<uint16_t> ref = {100, 650, 0};
    SubRefer16(src.data(), ref.data(), dst.data(), 3);
    EXPECT_EQ(dst, (std::vector<uint16_t>{450, 0, 750}));  // lifted by the shortfall 50
    ref = {4000, 0, 0};
    src = {0, 4095, 10};
    SubRefer16(src.data(), ref.data(), dst.data(), 3);
    EXPECT_EQ(dst[1], 4095);  // 4095 + 4000 capped

    std::vector<uint8_t> s8 = {10, 200}, r8 = {20, 0}, d8(2);
    EXPECT_EQ(SubRefer(s8.data(), r8.data(), d8.data(), 2), 2);
    EXPECT_EQ(d8, (std::vector<uint8_t>{0, 210}));
}

}  // namespace
