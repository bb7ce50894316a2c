#include "extraction/segmentation.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

TEST(CompressGndImg, NineBackgroundPixelsMakeABackgroundCell) {
    constexpr int w = 12, h = 8;  // 3 x 2 cells
    std::vector<uint8_t> mask(w * h, 0);
    auto cellPixel = [&](int cell, int k) -> uint8_t & {
        const int cx = cell % 3, cy = cell / 3;
        return mask[(cy * 4 + k / 4) * w + cx * 4 + k % 4];
    };
    for (int k = 0; k < 8; ++k) cellPixel(0, k) = 255;
    for (int k = 0; k < 9; ++k) cellPixel(1, k) = 255;
    for (int k = 0; k < 16; ++k) cellPixel(5, k) = 255;
    cellPixel(4, 15) = 200;  // partial values count by their sum
    int32_t cw = w, ch = h;
    CompressGndImg(mask.data(), &cw, &ch);
    EXPECT_EQ(cw, 3);
    EXPECT_EQ(ch, 2);
    const uint8_t expected[6] = {0, 255, 0, 0, 0, 255};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(mask[i], expected[i]) << i;
}

TEST(SegmentClearEdge, BlanksOnlyBackground) {
    std::vector<uint8_t> mask = {0, 255, 0, 255}, orient = {10, 20, 30, 40}, img = {1, 2, 3, 4};
    segment_clearEdge(mask.data(), orient.data(), img.data(), 2, 2);
    EXPECT_EQ(orient, (std::vector<uint8_t>{10, 255, 30, 255}));
    EXPECT_EQ(img, (std::vector<uint8_t>{1, 255, 3, 255}));
}

TEST(GegSegImg, PacksFingerPixelsOfTheClippedBlock) {
    constexpr int w = 10, h = 10;
    std::vector<uint8_t> img(w * h), mask(w * h, 0);
    for (int i = 0; i < w * h; ++i) img[i] = static_cast<uint8_t>(i);
    mask[8 * w + 9] = 255;
    std::vector<uint8_t> block(16, 0);
    // Block 4 x 4 at (8, 8) keeps 2 x 2 inside the image.
    EXPECT_EQ(gegSegImg(img.data(), mask.data(), w, h, block.data(), 8, 8, 4, 4), 4);
    EXPECT_EQ(block[0], 88);
    EXPECT_EQ(block[1], 98);  // (8, 9) is background, skipped
    EXPECT_EQ(block[2], 99);
    for (int i = 3; i < 16; ++i) EXPECT_EQ(block[i], 255) << i;
}

class Erode : public ::testing::Test {
  protected:
    static constexpr int kW = 60, kH = 60;
    void SetUp() override { Quorvane_Init(5); }
    std::vector<uint8_t> mask = std::vector<uint8_t>(kW * kH, 255);
    std::vector<uint8_t> scratch = std::vector<uint8_t>(kW * kH, 0);
    int fingerCount() const {
        int n = 0;
        for (uint8_t v : mask) n += v == 0;
        return n;
    }
};

TEST_F(Erode, GrowsTheFingerByADisc) {
    mask[30 * kW + 30] = 0;
    ASSERT_EQ(vwn_ImageErode3(mask.data(), scratch.data(), kW, kH, 4, 10, 50, 10, 50), 1);
    EXPECT_EQ(fingerCount(), 49);  // lattice points of the radius-4 disc
    EXPECT_EQ(mask[26 * kW + 30], 0);
    EXPECT_EQ(mask[27 * kW + 27], 255);  // 9 + 9 > 16
    EXPECT_EQ(mask[28 * kW + 28], 0);
}

TEST_F(Erode, WorksOnlyInsideTheFingerBox) {
    // A finger square in the window and one pixel outside the row window.
    for (int y = 20; y < 40; ++y)
        for (int x = 20; x < 40; ++x) mask[y * kW + x] = 0;
    mask[5 * kW + 30] = 0;
    ASSERT_EQ(vwn_ImageErode3(mask.data(), scratch.data(), kW, kH, 2, 10, 50, 10, 50), 1);
    EXPECT_EQ(mask[18 * kW + 30], 0);
    EXPECT_EQ(mask[17 * kW + 30], 255);
    EXPECT_EQ(mask[41 * kW + 30], 0);
    EXPECT_EQ(mask[30 * kW + 18], 0);
    EXPECT_EQ(mask[30 * kW + 41], 0);
    EXPECT_EQ(mask[30 * kW + 42], 255);
    EXPECT_EQ(mask[4 * kW + 30], 255);  // the stray pixel does not grow
}

TEST_F(Erode, PositionLimitsOnlyAtRadiusSix) {
    // Sensor type 5 limits: top <= 40, bottom >= 40, left <= 40, right >= 40,
    // spans of at least 16. A finger in rows 45..55 fails the top limit.
    for (int y = 45; y < 56; ++y)
        for (int x = 20; x < 40; ++x) mask[y * kW + x] = 0;
    const std::vector<uint8_t> before = mask;
    EXPECT_EQ(vwn_ImageErode3(mask.data(), scratch.data(), kW, kH, 6, 2, 58, 2, 58), 0);
    EXPECT_EQ(mask, before);
    EXPECT_EQ(vwn_ImageErode3(mask.data(), scratch.data(), kW, kH, 5, 2, 58, 2, 58), 1);
    EXPECT_NE(mask, before);
}

TEST_F(Erode, PassesTheLimitsWithACentredFinger) {
    for (int y = 25; y < 50; ++y)
        for (int x = 25; x < 50; ++x) mask[y * kW + x] = 0;
    EXPECT_EQ(vwn_ImageErode3(mask.data(), scratch.data(), kW, kH, 6, 2, 58, 2, 58), 1);
    EXPECT_EQ(mask[19 * kW + 30], 0);
}

TEST_F(Erode, RefusesARadiusBeyondTheDiscTable) {
    mask[30 * kW + 30] = 0;
    const std::vector<uint8_t> before = mask;
    EXPECT_EQ(vwn_ImageErode3(mask.data(), scratch.data(), kW, kH, 9, 10, 50, 10, 50), 0);
    EXPECT_EQ(mask, before);
}

}  // namespace
