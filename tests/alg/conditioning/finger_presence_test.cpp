#include "conditioning/finger_presence.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"
#include "synthetic_capture.h"

namespace {

TEST(Centroid, DarkPixelsOnly) {
    std::vector<uint8_t> img(16 * 8, 200);
    int32_t col = -5, row = -6;
    EXPECT_EQ(Quorvane_CalCentroid(img.data(), 16, 8, &col, &row), 0);
    EXPECT_EQ(col, -5);
    EXPECT_EQ(row, -6);

    img[3 * 16 + 7] = 127;
    EXPECT_EQ(Quorvane_CalCentroid(img.data(), 16, 8, &col, &row), 1);
    EXPECT_EQ(col, 7);
    EXPECT_EQ(row, 3);

    img[0] = 0;    // means truncate: (7 + 0) / 2, (3 + 0) / 2
    img[5] = 128;  // not dark
    EXPECT_EQ(Quorvane_CalCentroid(img.data(), 16, 8, &col, &row), 1);
    EXPECT_EQ(col, 3);
    EXPECT_EQ(row, 1);
}

TEST(FingerDetector, HalvingSamplesTheRimAndSmoothsInside) {
    // 6 x 6 image with value 10 x row + column.
    std::vector<uint8_t> img(36), out(9, 0);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) img[y * 6 + x] = static_cast<uint8_t>(10 * y + x);
    zoomout1(img.data(), 6, 6, out.data());
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 4);       // top row takes (0, 2j)
    EXPECT_EQ(out[3 + 2], 25);  // right column takes (2i, w - 1)
    EXPECT_EQ(out[6 + 1], 52);  // bottom row takes (h - 1, 2j)
    EXPECT_EQ(out[4], 22);      // (1, 1): smoothing of a plane at (2, 2)
}

TEST(FingerDetector, ErosionGrowsFingerByTheDisc) {
    std::vector<uint8_t> mask(21 * 21, 255);
    mask[10 * 21 + 10] = 0;
    ASSERT_EQ(vwn_ImageErode(mask.data(), 21, 21, 5), 1);
    int finger = 0;
    for (uint8_t v : mask) {
        EXPECT_TRUE(v == 0 || v == 255);
        finger += v == 0;
    }
    EXPECT_EQ(finger, 81);  // lattice points of the radius-5 disc
    EXPECT_EQ(mask[5 * 21 + 10], 0);
    EXPECT_EQ(mask[6 * 21 + 6], 255);

    // A finger pixel in the corner: offsets outside the plane are skipped.
    std::fill(mask.begin(), mask.end(), 255);
    mask[0] = 0;
    ASSERT_EQ(vwn_ImageErode(mask.data(), 21, 21, 5), 1);
    finger = 0;
    for (uint8_t v : mask) finger += v == 0;
    EXPECT_EQ(finger, 26);  // the quarter disc (dx, dy >= 0)
}

class DetectFinger : public ::testing::Test {
  protected:
    void SetUp() override {
        QV_CURRENT_VER = 1;
        Quorvane_Init(1);
        std::vector<uint16_t> raw = synthetic::rawCapture(7);
        image.assign(raw.size(), 0);
        ASSERT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), 112, 88), 1);
    }
    std::vector<uint8_t> image;
};

TEST_F(DetectFinger, GeneratedCaptureIsMostlyFinger) {
    const int16_t score = Quorvane_DetectFinger(image.data(), 112, 88, 0, 255);
    EXPECT_GE(score, 50);  // the contact ellipse covers about 60 % of the sensor
    EXPECT_LE(score, 80);
    EXPECT_EQ(nImageFilter[5 * 11 + 5], 1);  // the radius-5 disc stays in the table
}

TEST_F(DetectFinger, NoUsableFinger) {
    EXPECT_EQ(Quorvane_DetectFinger(image.data(), 112, 88, 255, 255), 0);  // mean never above 255
    EXPECT_EQ(Quorvane_DetectFinger(image.data(), 112, 88, 0, 1), 0);
    std::vector<uint8_t> flat(112 * 88, 128);
    EXPECT_EQ(Quorvane_DetectFinger(flat.data(), 112, 88, 0, 255), 0);  // the stretch refuses it
    // An empty sensor: the enhancement of a background-only capture.
    std::vector<uint16_t> empty(112 * 88);
    for (int i = 0; i < 112 * 88; ++i) empty[i] = static_cast<uint16_t>(3400 + (i * 7919) % 23);
    std::vector<uint8_t> blank(112 * 88);
    ASSERT_EQ(Quorvane_Enhance16to8(empty.data(), blank.data(), 112, 88), 1);
    EXPECT_EQ(Quorvane_DetectFinger(blank.data(), 112, 88, 0, 255), 0);
}

TEST_F(DetectFinger, ImagesBeyondTheBuffersAreRefused) {
    std::vector<uint8_t> big(300 * 300, 100);
    for (size_t i = 0; i < big.size(); i += 2) big[i] = 20;
    g_pImgbuf[sizeof g_pImgbuf - 1] = 0x5C;
    EXPECT_EQ(Quorvane_DetectFinger(big.data(), 300, 300, 0, 255), 0);
    EXPECT_EQ(g_pImgbuf[sizeof g_pImgbuf - 1], 0x5C);
    EXPECT_EQ(Quorvane_DetectFinger(big.data(), 1, 300, 0, 255), 0);

    // The largest accepted sizes pad into g_pImgbuf exactly as far as it goes
    // (run under a sanitizer, any write past it shows).
    const int16_t score = Quorvane_DetectFinger(big.data(), 200, 200, 0, 255);
    EXPECT_GE(score, 0);
    EXPECT_LE(score, 100);
    EXPECT_EQ(Quorvane_DetectFinger(nullptr, 112, 88, 0, 255), 0);
}

}  // namespace
