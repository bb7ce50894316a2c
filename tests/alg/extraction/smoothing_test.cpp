#include "extraction/smoothing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(GaussSmooth2, AllBackgroundLeavesBothBuffersEqualToTheInput) {
    constexpr int w = 20, h = 10;
    std::vector<int16_t> in(w * h), out(w * h, -7);
    for (int i = 0; i < w * h; ++i) in[i] = static_cast<int16_t>((i * 37) % 1024);
    const std::vector<int16_t> original = in;
    std::vector<uint8_t> mask(w * h, 255);
    GaussSmooth2(in.data(), mask.data(), out.data(), w, h);
    EXPECT_EQ(in, original);
    EXPECT_EQ(out, original);
}

TEST(GaussSmooth2, WeightsOnlyFingerPixelsInsideTheImage) {
    constexpr int w = 20, h = 1;
    std::vector<int16_t> in(w, 0), out(w, 0);
    in[0] = 1000;
    in[3] = 500;  // background: ignored although it is bright
    std::vector<uint8_t> mask(w, 0);
    mask[3] = 255;
    GaussSmooth2(in.data(), mask.data(), out.data(), w, h);
    // Pixel 0: offsets 0..6 minus offset 3: 1000 * 47 / (47 + 42 + 31 + 9 + 4 + 1).
    EXPECT_EQ(out[0], 1000 * 47 / 134);
    EXPECT_EQ(in[0], out[0]);
    EXPECT_EQ(out[3], 500);  // background keeps its value
    // Pixel 1: offsets -1..6 minus offset 2: 1000 * 42 / (42 + 47 + 42 + 18 + 9 + 4 + 1).
    EXPECT_EQ(out[1], 1000 * 42 / 163);
}

TEST(GaussSmooth2, ColumnPassReadsTheRowResult) {
    constexpr int w = 1, h = 13;
    std::vector<int16_t> in(h, 0), out(h, 0);
    in[6] = 257;
    std::vector<uint8_t> mask(h, 0);
    GaussSmooth2(in.data(), mask.data(), out.data(), w, h);
    // One column: the row pass is the identity, the column pass spreads the
    // spike by the kernel with all 13 weights in use.
    EXPECT_EQ(out[6], 47);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[5], 42);
}

TEST(VwnGaussSmooth2, LeavesOutBackgroundAndWhiteSpots) {
    constexpr int w = 5, h = 5;
    std::vector<uint8_t> img(w * h, 100), spots(w * h, 0), mask(w * h, 0), out(w * h, 0);
    img[2 * w + 2] = 200;
    img[1 * w + 2] = 0;  // above the centre, masked out below
    mask[1 * w + 2] = 255;
    img[1 * w + 1] = 50;  // above-left, a white spot
    spots[1 * w + 1] = 255;
    vwn_GaussSmooth2(img.data(), spots.data(), mask.data(), out.data(), w, h);
    // Centre: weights 16 - 2 - 1 = 13: (4 * 200 + 2 * 100 * 3 + 1 * 100 * 3) / 13.
    EXPECT_EQ(out[2 * w + 2], (800 + 600 + 300) / 13);
    EXPECT_EQ(out[1 * w + 2], 0);   // masked pixel copied
    EXPECT_EQ(out[1 * w + 1], 50);  // white spot copied
    EXPECT_EQ(out[0], 100);         // border copied
    // Row 2, column 1: above (white spot, 2) and above-right (masked, 1) left
    // out; the right neighbour is the bright centre.
    EXPECT_EQ(out[2 * w + 1], (4 * 100 + 2 * 200 + 2 * 100 * 2 + 1 * 100 * 3) / 13);
}

TEST(Zoomout2, FrameEdgesAndKernel) {
    constexpr int w = 80, h = 72;  // half image 40 x 36
    std::vector<uint8_t> img(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img[y * w + x] = static_cast<uint8_t>((x + 3 * y) % 251);
    std::vector<uint8_t> out(40 * 36, 0);
    int32_t ow = 0, oh = 0;
    zoomout2(img.data(), w, h, out.data(), &ow, &oh, 2);
    EXPECT_EQ(ow, 40);
    EXPECT_EQ(oh, 36);
    EXPECT_EQ(out[0], 240);
    EXPECT_EQ(out[13 * 40 + 13], 240);
    EXPECT_EQ(out[20 * 40 + 14], img[40 * w + 28]);
    EXPECT_EQ(out[20 * 40 + 25], img[40 * w + 50]);  // w2 - 15, image column w - 30
    EXPECT_EQ(out[14 * 40 + 20], img[28 * w + 40]);
    EXPECT_EQ(out[21 * 40 + 20], img[42 * w + 40]);  // h2 - 15, image row h - 30
    // Inside: the (4, 2, 1) kernel around image pixel (y, 28 + 2k) into column 14 + k.
    const int y = 34, k = 3;
    const uint8_t *c = &img[y * w + 28 + 2 * k];
    const int expect =
        (4 * c[0] + 2 * (c[-w] + c[w] + c[-1] + c[1]) + c[-w - 1] + c[-w + 1] + c[w - 1] + c[w + 1]) >> 4;
    EXPECT_EQ(out[(y / 2) * 40 + 14 + k], expect);
    // The last kernel row is below h - 30, the last kernel column below w - 30.
    EXPECT_EQ(out[20 * 40 + 24],
              (4 * img[40 * w + 48] + 2 * (img[39 * w + 48] + img[41 * w + 48] + img[40 * w + 47] + img[40 * w + 49]) +
               img[39 * w + 47] + img[39 * w + 49] + img[41 * w + 47] + img[41 * w + 49]) >>
                  4);
    EXPECT_EQ(out[20 * 40 + 26], 240);
}

}  // namespace
