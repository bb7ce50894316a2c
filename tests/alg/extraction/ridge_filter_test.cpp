#include "extraction/ridge_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "extraction/binarisation.h"
#include "ridge_pattern.h"

namespace {

constexpr int kW = 96, kH = 96;

struct Planes {
    std::vector<uint8_t> image = std::vector<uint8_t>(kW * kH, 100);
    std::vector<uint8_t> orient = std::vector<uint8_t>(kW * kH, 90);
    std::vector<uint8_t> scratch = std::vector<uint8_t>(kW * kH, 0);
    uint8_t &at(std::vector<uint8_t> &v, int y, int x) { return v[static_cast<size_t>(y * kW + x)]; }
};

TEST(OrientFilter, UniformImageStaysUniformAndFrameIsFilled) {
    Planes p;
    orientFilter(p.image.data(), p.orient.data(), p.scratch.data(), kW, kH);
    EXPECT_EQ(p.at(p.image, 48, 48), 100);
    EXPECT_EQ(p.at(p.scratch, 48, 48), 100);
    EXPECT_EQ(p.at(p.image, 31, 48), 250);  // frame
    EXPECT_EQ(p.at(p.image, 48, 64), 250);
}

TEST(OrientFilter, PixelWithoutOrientationKeeps250) {
    Planes p;
    p.at(p.orient, 50, 50) = 255;
    orientFilter(p.image.data(), p.orient.data(), p.scratch.data(), kW, kH);
    EXPECT_EQ(p.at(p.image, 50, 50), 250);
    EXPECT_EQ(p.at(p.scratch, 50, 50), 250);
    // Its vertical neighbours (orientation 90 runs along the column) leave it
    // out of the along-ridge mean and still see 100.
    EXPECT_EQ(p.at(p.scratch, 49, 50), 100);
}

TEST(OrientFilter, AlongPassWeightsAndAcrossPassClamps) {
    // Orientation 0: the along pass runs on the row, the across pass on the column.
    Planes p;
    p.orient.assign(kW * kH, 0);
    p.at(p.image, 48, 52) = 228;  // along tap 8 at offset +4 from (48, 48)
    orientFilter(p.image.data(), p.orient.data(), p.scratch.data(), kW, kH);
    EXPECT_EQ(p.at(p.scratch, 48, 48), (100 * 124 + 228 * 4) / 128);
    EXPECT_EQ(p.at(p.scratch, 48, 51), (100 * 105 + 228 * 23) / 128);

    // A dark band three rows wide between bright rows: the negative outer
    // taps drive its centre below 0 (clamped), a bright band above 250.
    Planes q;
    q.orient.assign(kW * kH, 0);
    for (int x = 0; x < kW; ++x)
        for (int y = 40; y < 56; ++y) {
            q.at(q.image, y, x) = (y >= 47 && y <= 49) ? 0 : 250;
            q.at(q.image, y + 20, x) = (y >= 47 && y <= 49) ? 250 : 0;
        }
    orientFilter(q.image.data(), q.orient.data(), q.scratch.data(), kW, kH);
    EXPECT_EQ(q.at(q.image, 48, 48), 0);    // 250 * 2 * (-11 - 19) / 128
    EXPECT_EQ(q.at(q.image, 68, 48), 250);  // 250 * (53 + 82 + 53) / 128
    // Rows 42..50 around row 46 hold 250 except 47..49.
    EXPECT_EQ(q.at(q.image, 46, 48), 250 * (-11 - 19 + 0 + 53 + 82 - 11) / 128);
}

TEST(Binary, DarkRidgeCentresAreBlack) {
    // Vertical ridges: across the ridge is the row.
    ridge_pattern::Image img = ridge_pattern::straight(kW - 64, kH - 64, 90, 8, 128, 60);
    Planes p;
    p.image = img.pixels;
    std::vector<uint8_t> out(kW * kH, 7);
    EXPECT_EQ(binary(p.image.data(), p.orient.data(), out.data(), kW, kH), 0);
    // Source column 0 is a dark ridge centre (cos = 1 is bright: mean + amplitude).
    EXPECT_EQ(p.at(out, 48, 32 + 4), 0);  // cos(pi) = -1: darkest
    EXPECT_EQ(p.at(out, 48, 32 + 8), 255);
    EXPECT_EQ(p.at(out, 20, 40), 255);  // frame
    p.at(p.orient, 50, 36) = 255;
    binary(p.image.data(), p.orient.data(), out.data(), kW, kH);
    EXPECT_EQ(p.at(out, 50, 36), 255);  // no orientation: white
}

TEST(BinaryClear, IsolatedPixelsFlip) {
    Planes p;
    std::vector<uint8_t> bin(kW * kH, 255), mask(kW * kH, 0), marks(kW * kH, 0);
    bin[40 * kW + 40] = 0;  // lone black pixel
    for (int y = 58; y <= 62; ++y)
        for (int x = 58; x <= 62; ++x) bin[y * kW + x] = 0;
    bin[60 * kW + 60] = 255;  // white hole in black
    bin[45 * kW + 50] = 0;    // an isolated pair
    bin[45 * kW + 51] = 0;
    binaryClear(bin.data(), mask.data(), marks.data(), kW, kH);
    EXPECT_EQ(bin[40 * kW + 40], 255);
    EXPECT_EQ(bin[60 * kW + 60], 0);
    EXPECT_EQ(bin[45 * kW + 50], 255);  // flipped in the second round
    EXPECT_EQ(bin[45 * kW + 51], 255);
    EXPECT_EQ(bin[58 * kW + 58], 0);  // the corners of the block have 3 alike neighbours
}

TEST(BinaryClear, FirstRoundSkipsBackgroundButLaterRoundsDoNot) {
    std::vector<uint8_t> bin(kW * kH, 255), mask(kW * kH, 0), marks(kW * kH, 0);
    bin[40 * kW + 40] = 0;
    mask[40 * kW + 40] = 255;
    binaryClear(bin.data(), mask.data(), marks.data(), kW, kH);
    EXPECT_EQ(bin[40 * kW + 40], 0);
}

TEST(BinaryInversion, ValleysInsideTheFingerAndTheFrame) {
    constexpr int w = 70, h = 70;
    std::vector<uint8_t> bin(w * h, 255), mask(w * h, 0), out(w * h, 0);
    bin[35 * w + 35] = 0;
    mask[36 * w + 36] = 255;
    EXPECT_EQ(binaryinversion(bin.data(), out.data(), mask.data(), w, h, 32), 0);
    EXPECT_EQ(out[35 * w + 35], 255);  // a ridge
    EXPECT_EQ(out[36 * w + 36], 255);  // background
    EXPECT_EQ(out[37 * w + 37], 0);    // a valley
    EXPECT_EQ(out[31 * w + 35], 255);  // frame
    EXPECT_EQ(out[37 * w + 38], 255);  // column 38 = w - 32: frame
}

}  // namespace
