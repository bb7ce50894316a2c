#include "conditioning/edge_ops.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

TEST(EdgeOps, ExpandSurroundsAndCropRestores) {
    const int w0 = 5, h0 = 3, b = 2;
    std::vector<uint8_t> img((w0 + 2 * b) * (h0 + 2 * b), 0);
    for (int i = 0; i < w0 * h0; ++i) img[i] = static_cast<uint8_t>(i + 1);
    const std::vector<uint8_t> original(img.begin(), img.begin() + w0 * h0);

    int w = w0, h = h0;
    vwn_ExpandEdge(img.data(), &w, &h, b, 250);
    ASSERT_EQ(w, 9);
    ASSERT_EQ(h, 7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool inside = y >= b && y < b + h0 && x >= b && x < b + w0;
            const int expected = inside ? (y - b) * w0 + (x - b) + 1 : 250;
            EXPECT_EQ(img[y * w + x], expected) << y << "," << x;
        }

    vwn_CropEdge(img.data(), &w, &h, b, b);
    EXPECT_EQ(w, w0);
    EXPECT_EQ(h, h0);
    EXPECT_EQ(std::vector<uint8_t>(img.begin(), img.begin() + w0 * h0), original);

    // Unequal borders, and a crop that would leave nothing is refused.
    vwn_CropEdge(img.data(), &w, &h, 1, 0);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(img[0], 2);
    EXPECT_EQ(img[3], 7);
    vwn_CropEdge(img.data(), &w, &h, 2, 0);
    EXPECT_EQ(w, 3);
}

// A 40 x 40 mask with a 20 x 20 finger square at rows and columns 10..29.
std::vector<uint8_t> squareMask() {
    std::vector<uint8_t> m(40 * 40, 255);
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 30; ++x) m[y * 40 + x] = 0;
    return m;
}

TEST(EdgeOps, DilationGrowsTheBackgroundByTheDisc) {
    std::vector<uint8_t> mask = squareMask();
    std::vector<uint8_t> scratch(2 * 40 * 40, 77);
    ASSERT_EQ(vwn_ImageDilate3(mask.data(), scratch.data(), 40, 40, 2, 0, 39, 0, 39), 1);
    // The boundary pixels sit just outside the square; a radius-2 disc reaches
    // two pixels into it.
    EXPECT_EQ(mask[10 * 40 + 20], 255);
    EXPECT_EQ(mask[11 * 40 + 20], 255);
    EXPECT_EQ(mask[12 * 40 + 20], 0);
    EXPECT_EQ(mask[20 * 40 + 11], 255);
    EXPECT_EQ(mask[20 * 40 + 12], 0);
    EXPECT_EQ(mask[27 * 40 + 20], 0);
    EXPECT_EQ(mask[28 * 40 + 20], 255);
    // Corner: (11, 11) is at distance 2 from the boundary pixel (9, 11).
    EXPECT_EQ(mask[11 * 40 + 11], 255);
    EXPECT_EQ(mask[12 * 40 + 12], 0);
    int finger = 0;
    for (uint8_t v : mask) finger += v == 0;
    EXPECT_EQ(finger, 16 * 16);
    EXPECT_EQ(nImageFilter[2 * 5 + 2], 1);  // disc of radius 2 left in the table
    EXPECT_EQ(nImageFilter[0], 0);
}

TEST(EdgeOps, DilationStaysInsideTheBoxAroundTheFinger) {
    // Rows 10..29 hold the finger; the window starts at row 12, so the box top
    // is found from row 13 on: the row-11 boundary above the finger is not
    // collected and only the disc around the box's own pixels grows.
    std::vector<uint8_t> mask = squareMask();
    std::vector<uint8_t> scratch(2 * 40 * 40);
    ASSERT_EQ(vwn_ImageDilate3(mask.data(), scratch.data(), 40, 40, 1, 12, 39, 0, 39), 1);
    EXPECT_EQ(mask[10 * 40 + 20], 0);  // would be 255 had row 9 been collected
    EXPECT_EQ(mask[28 * 40 + 20], 0);
    EXPECT_EQ(mask[29 * 40 + 20], 255);
}

TEST(EdgeOps, DilationRefusesWhatByteCoordinatesCannotHold) {
    std::vector<uint8_t> mask(300 * 10, 0), scratch(2 * 300 * 10);
    mask[5] = 255;
    EXPECT_EQ(vwn_ImageDilate3(mask.data(), scratch.data(), 300, 10, 1, 0, 9, 0, 299), 0);
    EXPECT_EQ(mask[4], 0);

    std::vector<uint8_t> sq = squareMask(), s2(2 * 40 * 40);
    const std::vector<uint8_t> before = sq;
    EXPECT_EQ(vwn_ImageDilate3(sq.data(), s2.data(), 40, 40, 1, 0, 40, 0, 39), 0);   // row 40 outside
    EXPECT_EQ(vwn_ImageDilate3(sq.data(), s2.data(), 40, 40, 1, -1, 39, 0, 39), 0);  // row -1 outside
    EXPECT_EQ(vwn_ImageDilate3(sq.data(), s2.data(), 40, 40, 9, 0, 39, 0, 39), 0);   // disc too large
    EXPECT_EQ(sq, before);
    // A window with no rows (the enhancement's frame on a small image) does nothing.
    EXPECT_EQ(vwn_ImageDilate3(sq.data(), s2.data(), 40, 40, 1, 30, 18, 30, 18), 1);
    EXPECT_EQ(sq, before);
}

}  // namespace
