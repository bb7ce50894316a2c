#include "extraction/skeleton_walk.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kW = 9;

struct Patch {
    std::vector<uint8_t> px = std::vector<uint8_t>(kW * kW, kWhite);
    uint8_t *at(int y, int x) { return &px[static_cast<size_t>(y * kW + x)]; }
    void black(int y, int x) { *at(y, x) = kBlack; }
};

TEST(SkeletonWalk, EndingsAndForksByCrossingSum) {
    Patch p;
    p.black(4, 4);
    p.black(4, 5);
    EXPECT_TRUE(IsEnd(p.at(4, 4), kW));
    EXPECT_FALSE(IsFork(p.at(4, 4), kW));
    // Two adjacent neighbours form one run: still an ending.
    p.black(5, 5);
    EXPECT_TRUE(IsEnd(p.at(4, 4), kW));
    // Three separate runs: a fork; the centre value is not looked at.
    Patch f;
    f.black(3, 4);
    f.black(5, 3);
    f.black(5, 5);
    EXPECT_TRUE(IsFork(f.at(4, 4), kW));
    EXPECT_EQ(CrossingSum(f.at(4, 4), kW), 1530);
    // A line pixel: two runs.
    Patch l;
    l.black(4, 3);
    l.black(4, 5);
    EXPECT_FALSE(IsEnd(l.at(4, 4), kW));
    EXPECT_FALSE(IsFork(l.at(4, 4), kW));
    EXPECT_EQ(CrossingSum(l.at(4, 4), kW), 1020);
    // Four runs (the four diagonals) is neither.
    Patch x;
    x.black(3, 3);
    x.black(3, 5);
    x.black(5, 3);
    x.black(5, 5);
    EXPECT_EQ(CrossingSum(x.at(4, 4), kW), 2040);
    EXPECT_FALSE(IsFork(x.at(4, 4), kW));
}

TEST(SkeletonWalk, GetNextSkipsThePreviousPosition) {
    Patch p;
    p.black(4, 3);
    p.black(4, 4);
    p.black(5, 5);
    uint8_t *next = nullptr;
    EXPECT_EQ(GetNext(p.at(4, 4), p.at(4, 3), &next, kW), 0);
    EXPECT_EQ(next, p.at(5, 5));
    // Without skipping, two candidates: no step, next unchanged.
    next = nullptr;
    EXPECT_EQ(GetNext(p.at(4, 4), p.at(0, 0), &next, kW), 1);
    EXPECT_EQ(next, nullptr);
    // Nothing beyond the previous position: no step.
    EXPECT_EQ(GetNext(p.at(4, 3), p.at(4, 4), &next, kW), 1);
}

TEST(SkeletonWalk, GetNext2CountsAndStepsOnlyOnOne) {
    Patch p;
    p.black(4, 4);
    p.black(3, 3);
    uint8_t *next = nullptr;
    EXPECT_EQ(GetNext2(p.at(4, 4), &next, kW), 1);
    EXPECT_EQ(next, p.at(3, 3));
    p.black(5, 4);
    next = nullptr;
    EXPECT_EQ(GetNext2(p.at(4, 4), &next, kW), 2);
    EXPECT_EQ(next, nullptr);
    EXPECT_EQ(GetNext2(p.at(1, 7), &next, kW), 0);
}

}  // namespace
