#include "extraction/thinning.h"

#include <gtest/gtest.h>

#include <vector>

#include "extraction/skeleton_repair.h"
#include "extraction/skeleton_walk.h"

namespace {

constexpr int kW = 128, kH = 128;

struct Canvas {
    std::vector<uint8_t> px = std::vector<uint8_t>(kW * kH, kWhite);
    std::vector<uint8_t> mask = std::vector<uint8_t>(kW * kH, 0);
    std::vector<uint8_t> a = std::vector<uint8_t>(kW * kH, 0), b = std::vector<uint8_t>(kW * kH, 0);
    uint8_t &at(int y, int x) { return px[static_cast<size_t>(y * kW + x)]; }
    void black(int y, int x) { at(y, x) = kBlack; }
    int blackCount() const {
        int n = 0;
        for (uint8_t v : px) n += v == kBlack;
        return n;
    }
    bool hasBlock() {
        for (int y = 0; y + 1 < kH; ++y)
            for (int x = 0; x + 1 < kW; ++x)
                if (at(y, x) == kBlack && at(y, x + 1) == kBlack && at(y + 1, x) == kBlack &&
                    at(y + 1, x + 1) == kBlack)
                    return true;
        return false;
    }
};

TEST(ImageThin, ThickBarsBecomeOnePixelLines) {
    Canvas c;
    for (int y = 40; y < 46; ++y)
        for (int x = 35; x < 95; ++x) c.black(y, x);  // horizontal bar, 6 thick
    for (int y = 55; y < 95; ++y)
        for (int x = 60; x < 65; ++x) c.black(y, x);  // vertical bar, 5 thick
    const std::vector<uint8_t> input = c.px;
    EXPECT_EQ(imageThin(c.px.data(), c.a.data(), kW, kH), 0);
    EXPECT_EQ(c.a, input);  // the scratch keeps the input
    EXPECT_FALSE(c.hasBlock());
    for (int x = 45; x < 85; ++x) {
        int n = 0;
        for (int y = 38; y < 48; ++y) n += c.at(y, x) == kBlack;
        EXPECT_EQ(n, 1) << "column " << x;
    }
    for (int y = 65; y < 90; ++y) {
        int n = 0;
        for (int x = 58; x < 67; ++x) n += c.at(y, x) == kBlack;
        EXPECT_EQ(n, 1) << "row " << y;
    }
}

TEST(ImageThin, LeavesTheFrameAlone) {
    Canvas c;
    for (int y = 0; y < 31; ++y)
        for (int x = 0; x < kW; ++x) c.black(y, x);
    imageThin(c.px.data(), c.a.data(), kW, kH);
    EXPECT_EQ(c.blackCount(), 31 * kW);
}

// A horizontal line with a vertical spur of `length` pixels (ending
// included) rising from (80, 64). A spur of one pixel has three black
// neighbours and is no ending.
Canvas lineWithSpur(int length) {
    Canvas c;
    for (int x = 40; x < 100; ++x) c.black(80, x);
    for (int k = 1; k <= length; ++k) c.black(80 - k, 64);
    return c;
}

TEST(ThinClear3, SpursUpToFivePixelsAreRemovedAndTheForkStays) {
    for (int length = 2; length <= 8; ++length) {
        Canvas c = lineWithSpur(length);
        EXPECT_EQ(thinClear3(c.px.data(), c.mask.data(), kW, kH, 4, 5), 0);
        const bool removed = c.at(80 - length, 64) == kWhite;
        EXPECT_EQ(removed, length <= 5) << length;
        if (removed) {
            for (int k = 1; k <= length; ++k) EXPECT_EQ(c.at(80 - k, 64), kWhite) << length;
        }
        EXPECT_EQ(c.at(80, 64), kBlack);
        EXPECT_EQ(c.at(80, 40), kBlack);  // the long line keeps its endings
        EXPECT_EQ(c.at(80, 99), kBlack);
    }
}

TEST(ThinClear3, NearTheEdgeOfThePrintTheLimitIsFour) {
    for (int length = 3; length <= 6; ++length) {
        Canvas c = lineWithSpur(length);
        c.mask[static_cast<size_t>((80 - length) * kW + 64)] = 255;
        thinClear3(c.px.data(), c.mask.data(), kW, kH, 4, 5);
        EXPECT_EQ(c.at(80 - length, 64) == kWhite, length <= 4) << length;
    }
}

TEST(ThinClear3, IsolatedPointsAndShortSegmentsVanish) {
    Canvas c;
    c.black(50, 50);
    for (int x = 60; x < 63; ++x) c.black(70, x);  // three pixels
    for (int y = 90; y < 93; ++y) c.black(y, 40);
    thinClear3(c.px.data(), c.mask.data(), kW, kH, 4, 5);
    EXPECT_EQ(c.blackCount(), 0);
}

TEST(ThinClear3, SegmentBetweenTwoEndingsUsesTheShortLimit) {
    // Five pixels: the trace from the left ending appends three and stops at
    // the right ending; 3 < 4 erases them, the last pixel goes as a point.
    Canvas c;
    for (int x = 60; x < 65; ++x) c.black(70, x);
    thinClear3(c.px.data(), c.mask.data(), kW, kH, 4, 5);
    EXPECT_EQ(c.blackCount(), 0);
    // Six pixels: four appended, kept.
    Canvas d;
    for (int x = 60; x < 66; ++x) d.black(70, x);
    thinClear3(d.px.data(), d.mask.data(), kW, kH, 4, 5);
    EXPECT_EQ(d.blackCount(), 6);
}

TEST(ThinModify, StaircaseCornerIsCut) {
    Canvas c;
    for (int x = 40; x <= 60; ++x) c.black(50, x);
    for (int y = 51; y <= 70; ++y) c.black(y, 60);
    vwn_ThinModify(c.px.data(), c.a.data(), c.b.data(), kW, kH);
    EXPECT_EQ(c.at(50, 60), kWhite);
    EXPECT_EQ(c.at(50, 59), kBlack);
    EXPECT_EQ(c.at(51, 60), kBlack);
    EXPECT_EQ(c.blackCount(), 21 + 20 - 1);
}

TEST(ThinModify, KnotCentreOfATJunctionIsRemoved) {
    // The centre of a T has three black neighbours whose four-neighbour
    // counts add up to 10 (3 + 3 + 4): it goes, the line stays 8-connected
    // and the fork moves to the stem.
    Canvas c;
    for (int x = 40; x <= 60; ++x) c.black(50, x);
    for (int y = 51; y <= 60; ++y) c.black(y, 50);
    vwn_ThinModify(c.px.data(), c.a.data(), c.b.data(), kW, kH);
    EXPECT_EQ(c.at(50, 50), kWhite);
    EXPECT_EQ(c.blackCount(), 21 + 10 - 1);
    EXPECT_TRUE(IsFork(&c.at(51, 50), kW));
}

TEST(ThinModify, LeavesCleanLinesAlone) {
    Canvas c;
    for (int k = 0; k < 30; ++k) c.black(40 + k, 40 + k);  // diagonal
    for (int x = 40; x < 90; ++x) c.black(90, x);
    const std::vector<uint8_t> before = c.px;
    vwn_ThinModify(c.px.data(), c.a.data(), c.b.data(), kW, kH);
    EXPECT_EQ(c.px, before);
}

}  // namespace
