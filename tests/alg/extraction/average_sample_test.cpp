#include "extraction/average_sample.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(AverageSample, HalfResolutionMeansRepeatedOverTwoByTwoBlocks) {
    constexpr int w = 8, h = 6;  // half image 4 x 3
    std::vector<uint8_t> img(w * h), scratch(12, 0);
    // 2 x 2 block means: row-major 0, 10, 20, ..., 110 (block k holds 10 k).
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img[y * w + x] = static_cast<uint8_t>(10 * ((y / 2) * 4 + x / 2) + (x + y) % 2);
    avergeSample(img.data(), w, h, scratch.data(), 2);
    // Each block holds two values of 10 k and two of 10 k + 1: mean 10 k.
    // Corners keep the block mean; edges average six, the inside nine.
    EXPECT_EQ(img[0], 0);                                         // corner (0, 0)
    EXPECT_EQ(img[1 * w + 1], 0);                                 // same block
    EXPECT_EQ(img[0 * w + 7], 30);                                // corner (0, 3)
    EXPECT_EQ(img[5 * w + 7], 110);                               // corner (2, 3)
    EXPECT_EQ(img[0 * w + 2], (0 + 10 + 20 + 40 + 50 + 60) / 6);  // top edge (0, 1)
    EXPECT_EQ(img[2 * w + 0], (0 + 10 + 40 + 50 + 80 + 90) / 6);  // left edge (1, 0)
    EXPECT_EQ(img[2 * w + 2], (0 + 10 + 20 + 40 + 50 + 60 + 80 + 90 + 100) / 9);
    EXPECT_EQ(img[3 * w + 3], img[2 * w + 2]);
}

TEST(AverageSample, OddSizesLeaveTheLastRowAndColumnClear) {
    constexpr int w = 5, h = 5;  // half image 2 x 2: all corners
    std::vector<uint8_t> img(w * h, 200), scratch(4, 0);
    avergeSample(img.data(), w, h, scratch.data(), 2);
    EXPECT_EQ(img[0], 200);
    EXPECT_EQ(img[3 * w + 3], 200);
    EXPECT_EQ(img[4], 0);
    EXPECT_EQ(img[4 * w], 0);
}

}  // namespace
