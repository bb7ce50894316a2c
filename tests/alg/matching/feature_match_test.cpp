// Matching: the trial score arithmetic, the overlap and spread corrections,
// the exported match on synthetic prints (same print, moved print, other
// print) and its refusals.
#include "matching/feature_match.h"

#include <gtest/gtest.h>

#include <cstring>

#include "QVAlgDll.h"
#include "core/pair_list.h"
#include "feature_fixtures.h"

namespace {

using fixtures::Bytes;
using fixtures::encode;
using fixtures::makePrint;
using fixtures::moved;

TEST(TrialScore, WorkedExamples) {
    int32_t score = -1;
    // s = 1100, D = 110: t1 = 16 * 10, t2 = 1100^2 / 2420 = 500.
    ASSERT_TRUE(TrialScore(1155, 0, 0, 0, 2, score));
    EXPECT_EQ(score, 330);
    // s = 45 and D = 0, so the divisors are 65: t1 = 0, t2 = 15.
    ASSERT_TRUE(TrialScore(100, 0, 0, 0, 0, score));
    EXPECT_EQ(score, 7);
    // Below one pair's worth a trial never counts.
    EXPECT_FALSE(TrialScore(54, 0, 0, 0, 0, score));
    ASSERT_TRUE(TrialScore(55, 0, 0, 0, 0, score));
    EXPECT_EQ(score, 0);
}

TEST(TrialScore, KneeTermTakesTheLargerOfPairedAndUnpairedKnees) {
    int32_t a = 0, b = 0;
    // m = max(1 + 1, 6 - 2) = 4, D = (8 + 1) * 55 = 495, s = 1000:
    // t1 = 16 * 2 = 32, t2 = 10^6 / 2990 = 334, score 183.
    ASSERT_TRUE(TrialScore(1055, 1, 1, 6, 1, a));
    EXPECT_EQ(a, 183);
    // Fewer knee candidates than paired knees: m = 2, D = 275.
    ASSERT_TRUE(TrialScore(1055, 1, 1, 0, 1, b));
    EXPECT_EQ(b, (16 * (1000 / 275) + 1000000 / (2 * 1275)) >> 1);
}

TEST(OverlapCorrection, ByVariant) {
    EXPECT_EQ(OverlapCorrection(1, 101, 44), -33);
    EXPECT_EQ(OverlapCorrection(1, 101, 45), -16);
    EXPECT_EQ(OverlapCorrection(1, 101, 76), 0);  // -1 / 2 truncates to 0
    EXPECT_EQ(OverlapCorrection(1, 101, 77), 0);
    EXPECT_EQ(OverlapCorrection(1, 100, 0), 0);
    EXPECT_EQ(OverlapCorrection(2, 101, 44), -16);
    EXPECT_EQ(OverlapCorrection(2, 101, 45), 0);
    EXPECT_EQ(OverlapCorrection(3, 81, 35), 0);
    EXPECT_EQ(OverlapCorrection(3, 81, 30), -3);
    EXPECT_EQ(OverlapCorrection(4, 0, 10), -3);
    EXPECT_EQ(OverlapCorrection(5, 91, 43), -29);
    EXPECT_EQ(OverlapCorrection(5, 91, 44), -14);
    EXPECT_EQ(OverlapCorrection(6, 66, 31), -21);
    EXPECT_EQ(OverlapCorrection(6, 66, 51), 0);
    EXPECT_EQ(OverlapCorrection(6, 65, 0), 0);
}

TEST(SpreadCorrection, GatesAndCorrections) {
    EXPECT_FALSE(SpreadCheckApplies(1, 50));
    EXPECT_TRUE(SpreadCheckApplies(1, 51));
    EXPECT_TRUE(SpreadCheckApplies(4, 21));
    EXPECT_FALSE(SpreadCheckApplies(6, 25));

    auto ref = std::make_unique<FeatureSet>();
    auto list = std::make_unique<PairList>();
    std::memset(ref.get(), 0, sizeof(FeatureSet));
    std::memset(list.get(), 0, sizeof(PairList));
    ref->minutiaCount = 4;
    // Four kind-1 pairs on a 30-pixel square: q1Max = 1800, mean 1200, qMax
    // above 999, no close pairs: no change under variant 1.
    const uint32_t xy[4][2] = {{100, 100}, {130, 100}, {100, 130}, {130, 130}};
    for (uint32_t k = 0; k < 4; ++k) {
        ref->points[k].x = xy[k][0];
        ref->points[k].y = xy[k][1];
        list->pairs[k] = CandidatePair{k, k, 0, kPairDescriptor};
    }
    list->total = 4;
    EXPECT_EQ(SpreadCorrection(1, 100, *list, *ref), 100);
    // Squeezed to a 10-pixel square: q1Max = 200 <= 399: + (200 - 450) / 2.
    for (uint32_t k = 0; k < 4; ++k) {
        ref->points[k].x = 100 + (xy[k][0] - 100) / 3;
        ref->points[k].y = 100 + (xy[k][1] - 100) / 3;
    }
    EXPECT_EQ(SpreadCorrection(1, 100, *list, *ref), 100 - 125);
    // Only geometric pairs (K = 0), 4 of them: -10 * 4, then (200 - 1000) / 10.
    for (uint32_t k = 0; k < 4; ++k) list->pairs[k].kind = kPairSameType;
    EXPECT_EQ(SpreadCorrection(1, 100, *list, *ref), 100 - 40 - 80);
    // Never below -9999.
    EXPECT_EQ(SpreadCorrection(1, -9990, *list, *ref), kMinMatchScore);
}

class MatchScore : public ::testing::Test {
  protected:
    void SetUp() override { QV_CURRENT_VER = 1; }
};

TEST_F(MatchScore, IdenticalTemplatesMatchHigh) {
    const auto print = makePrint(30, 20, 24, 24, 11);
    const Bytes t = encode(print);
    const int16_t score = Quorvane_MatchScore(t.data(), t.data());
    EXPECT_GT(score, 100);
    // The search stops early on a confident alignment within 3 degrees.
    EXPECT_GT(resultMax[kResultPairs], 10);
    EXPECT_TRUE(resultMax[kResultRotation] <= 3 || resultMax[kResultRotation] >= 357);
    EXPECT_EQ(resultMax[kResultScore], score);
    // The pairing stays on the decoded sets.
    uint32_t paired = 0;
    for (uint32_t i = 0; i < MFeatureTemp.set->minutiaCount; ++i) paired += MFeatureTemp.set->points[i].pairState != 0;
    EXPECT_EQ(static_cast<int32_t>(paired + pxlyMatchPtMax->kneePairs + pxlyMatchPtMax->valleyKneePairs),
              resultMax[kResultPairs]);
}

TEST_F(MatchScore, MovedPrintMatchesOtherPrintDoesNot) {
    const auto print = makePrint(30, 20, 40, 40, 21);
    const Bytes t = encode(print);
    const Bytes turned = encode(moved(print, 20, 6, -5));
    const int16_t genuine = Quorvane_MatchScore(t.data(), turned.data());
    EXPECT_GT(genuine, 45);
    // The probe turned by +20 degrees comes back by -20, or by up to 3 degrees
    // less when the first rotation tried is already conclusive.
    EXPECT_GE(resultMax[kResultRotation], 337);
    EXPECT_LE(resultMax[kResultRotation], 343);
    const Bytes other = encode(makePrint(30, 20, 40, 40, 22));
    EXPECT_LE(Quorvane_MatchScore(t.data(), other.data()), 45);
}

TEST_F(MatchScore, Refusals) {
    const auto print = makePrint(10, 5, 24, 24, 31);
    Bytes t = encode(print);
    Bytes stale = t;
    stale[7] ^= 1;  // another library's version code
    EXPECT_EQ(Quorvane_MatchScore(t.data(), stale.data()), kMatchDecodeFailed);
    EXPECT_EQ(Quorvane_MatchScore(stale.data(), t.data()), kMatchDecodeFailed);
    EXPECT_EQ(Match2Features(t.data(), t.data(), tempbuf, kMatchScratchSize - 1), kMatchScratchTooSmall);
    EXPECT_GT(Match2Features(t.data(), t.data(), tempbuf, kMatchScratchSize), 45);
    // One point: no candidates, score 0.
    const Bytes single = encode(makePrint(1, 0, 24, 24, 32));
    EXPECT_EQ(Quorvane_MatchScore(single.data(), single.data()), 0);
}

TEST_F(MatchScore, WeakPointsAreNeverAnchors) {
    auto print = makePrint(20, 10, 24, 24, 41);
    for (uint32_t i = 0; i < 30; ++i) print.set->points[i].weakFlag = 1;
    const Bytes t = encode(print);
    EXPECT_EQ(Quorvane_MatchScore(t.data(), t.data()), 0);
    // One usable anchor among the first twelve candidates is enough; the weak
    // points still pair.
    print.set->points[5].weakFlag = 0;
    const Bytes one = encode(print);
    EXPECT_GT(Quorvane_MatchScore(one.data(), one.data()), 45);
    EXPECT_EQ(resultMax[kResultRefAnchor], 5);
    EXPECT_GT(resultMax[kResultPairs], 10);
}

TEST_F(MatchScore, SmallOverlapCostsPoints) {
    // The same 6 minutiae inside two large finger areas that barely overlap
    // after alignment: the score drops by 77 - O.
    auto a = makePrint(6, 0, 40, 40, 51, false, 8, 20);
    const Bytes full = encode(a);
    const int16_t before = Quorvane_MatchScore(full.data(), full.data());
    auto b = makePrint(6, 0, 40, 40, 51, false, 8, 20);
    // Keep the finger area of the probe to the columns right of x = 100 only.
    for (int32_t row = 0; row < b.maskHeight; ++row)
        for (int32_t col = 0; col < 25; ++col) b.cells[static_cast<size_t>(row * b.maskWidth + col)] = kMaskBackground;
    for (int32_t row = 0; row < a.maskHeight; ++row)
        for (int32_t col = 15; col < a.maskWidth; ++col)
            a.cells[static_cast<size_t>(row * a.maskWidth + col)] = kMaskBackground;
    const Bytes left = encode(a);
    const Bytes right = encode(b);
    const int16_t after = Quorvane_MatchScore(left.data(), right.data());
    ASSERT_GE(before, 30);
    ASSERT_LE(resultMax[kResultPairs], 10);
    EXPECT_LT(after, before - 30);
}

}  // namespace
