// Descriptor matching: the ratio test and its limits, claims of reference
// points, near-duplicate flags and the order of the anchors.
#include "matching/descriptor_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/featureset.h"
#include "core/pair_list.h"

namespace {

class DescriptorMatch : public ::testing::Test {
  protected:
    std::unique_ptr<FeatureSet> ref = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureSet> probe = std::make_unique<FeatureSet>();
    std::unique_ptr<PairList> list = std::make_unique<PairList>();
    uint8_t flags[kMaxFeaturePoints] = {};

    void SetUp() override {
        std::memset(ref.get(), 0, sizeof(FeatureSet));
        std::memset(probe.get(), 0, sizeof(FeatureSet));
        std::memset(list.get(), 0, sizeof(PairList));
    }

    // Point i of set at (x, y) whose descriptor has squared distance dist
    // from an all-zero descriptor: value v in slot 0, the rest in slot 1.
    static void place(FeatureSet &set, uint32_t i, uint32_t x, uint32_t y, int32_t dist, int32_t slot = 2) {
        Minutia &m = set.points[i];
        m.x = x;
        m.y = y;
        m.type = 1;
        std::memset(m.descriptor, 0, sizeof m.descriptor);
        // dist as a sum of squares of values below 128 in consecutive slots.
        int32_t rest = dist;
        for (int32_t k = slot; k < kDescriptorLength && rest > 0; ++k) {
            int32_t v = 127;
            while (v * v > rest) --v;
            m.descriptor[k] = static_cast<int16_t>(v);
            rest -= v * v;
        }
    }
};

TEST_F(DescriptorMatch, DistanceIsSumOfSquaredDifferences) {
    Minutia a{}, b{};
    a.descriptor[0] = -128;
    b.descriptor[0] = 127;
    a.descriptor[23] = 3;
    b.descriptor[23] = -1;
    EXPECT_EQ(Distance(a, b), 255 * 255 + 16);
    EXPECT_EQ(Distance(a, a), 0);
}

TEST_F(DescriptorMatch, EquallyFarNeighboursGiveNoMatch) {
    ref->minutiaCount = 3;
    place(*ref, 0, 10, 10, 100);
    place(*ref, 1, 50, 50, 100);
    place(*ref, 2, 90, 90, 5000);
    int32_t index = 7, distance = 0;
    EXPECT_EQ(PointMatchList(*ref, probe->points[0], index, distance, flags), kNoDescriptorMatch);
    EXPECT_EQ(index, -1);
}

TEST_F(DescriptorMatch, BestDistanceLimitAndStrictClaim) {
    // Best 625 against second 781: ratio 80 passes the search but cannot
    // claim a point (the claim table starts at 625); 624 claims it; 626 fails.
    ref->minutiaCount = 2;
    probe->minutiaCount = 2;
    place(*ref, 1, 60, 60, 781);
    place(*probe, 1, 0, 0, 0, 0);
    probe->points[1].descriptor[0] = 127;
    probe->points[1].descriptor[1] = 127;  // far from everything
    int32_t index = -1, distance = 0;

    place(*ref, 0, 10, 10, 625);
    EXPECT_EQ(PointMatchList(*ref, probe->points[0], index, distance, flags), 80);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(distance, 625);
    EXPECT_EQ(SiftMatch3(*ref, *probe, *list), 0);
    EXPECT_EQ(list->total, 0u);

    place(*ref, 0, 10, 10, 624);
    EXPECT_EQ(SiftMatch3(*ref, *probe, *list), 2);
    ASSERT_EQ(list->total, 1u);
    EXPECT_EQ(list->minutiaPairs, 1u);
    EXPECT_EQ(list->pairs[0].waitIndex, 0u);
    EXPECT_EQ(list->pairs[0].tempIndex, 0u);
    EXPECT_EQ(list->pairs[0].weight, 2);
    EXPECT_EQ(list->pairs[0].kind, kPairCandidate);

    place(*ref, 0, 10, 10, 626);
    EXPECT_EQ(PointMatchList(*ref, probe->points[0], index, distance, flags), kNoDescriptorMatch);
}

TEST_F(DescriptorMatch, MinutiaOverKneeNeedsStricterRatio) {
    // Best 355, second 500: ratio 71.
    ref->minutiaCount = 1;
    ref->kneeCount = 1;
    place(*ref, 0, 10, 10, 355);
    place(*ref, 1, 60, 60, 500);
    int32_t index = -1, distance = 0;
    EXPECT_EQ(PointMatchList(*ref, probe->points[0], index, distance, flags), kNoDescriptorMatch);
    EXPECT_EQ(index, 0);  // ratio at most 79: the index is reported even on rejection
    // A knee best over a minutia runner-up only needs 80.
    place(*ref, 0, 10, 10, 500);
    place(*ref, 1, 60, 60, 355);
    EXPECT_EQ(PointMatchList(*ref, probe->points[0], index, distance, flags), 71);
    EXPECT_EQ(index, 1);
    // A far runner-up makes the descriptors unreliable.
    place(*ref, 0, 10, 10, 40000);
    place(*ref, 1, 60, 60, 300);
    EXPECT_EQ(PointMatchList(*ref, probe->points[0], index, distance, flags), kNoDescriptorMatch);
}

TEST_F(DescriptorMatch, SmallerDistanceKeepsTheClaimEarlierOnTie) {
    ref->minutiaCount = 2;
    probe->minutiaCount = 3;
    place(*ref, 0, 10, 10, 0);
    place(*ref, 1, 60, 60, 5000);
    place(*probe, 0, 0, 0, 200);
    place(*probe, 1, 0, 0, 100);
    place(*probe, 2, 0, 0, 100);
    ASSERT_GT(SiftMatch3(*ref, *probe, *list), 0);
    ASSERT_EQ(list->total, 1u);
    EXPECT_EQ(list->pairs[0].waitIndex, 1u);
    EXPECT_EQ(list->pairs[0].tempIndex, 0u);
}

TEST_F(DescriptorMatch, ClassesNeverMix) {
    // A probe minutia whose best match is a reference knee point is no candidate.
    ref->minutiaCount = 1;
    ref->kneeCount = 2;
    place(*ref, 0, 10, 10, 9000);
    place(*ref, 1, 50, 50, 0);
    place(*ref, 2, 90, 90, 9000);
    probe->minutiaCount = 2;
    place(*probe, 1, 0, 0, 0, 0);
    probe->points[1].descriptor[0] = 100;
    probe->points[1].descriptor[1] = 100;
    EXPECT_EQ(SiftMatch3(*ref, *probe, *list), 0);
    EXPECT_EQ(list->total, 0u);
}

TEST_F(DescriptorMatch, FewerThanTwoPointsLeaveTheListUntouched) {
    ref->minutiaCount = 1;
    probe->minutiaCount = 5;
    list->total = 77;
    EXPECT_EQ(SiftMatch3(*ref, *probe, *list), 0);
    EXPECT_EQ(list->total, 77u);
}

TEST_F(DescriptorMatch, NearDuplicatesOfTheBestAreFlagged) {
    ref->minutiaCount = 5;
    place(*ref, 0, 20, 20, 400);
    place(*ref, 1, 80, 80, 200);
    place(*ref, 2, 23, 20, 150);  // new best, far from the old one: no flag
    place(*ref, 3, 22, 22, 100);  // new best 2 pixels from point 2: 2 is flagged
    place(*ref, 4, 24, 21, 500);  // worse than both, close to the best: flagged
    int32_t index = -1, distance = 0;
    EXPECT_EQ(PointMatchList(*ref, probe->points[0], index, distance, flags), 100 * 100 / 200);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(distance, 100);
    const uint8_t expected[5] = {0, 0, 1, 0, 1};
    for (int32_t k = 0; k < 5; ++k) EXPECT_EQ(flags[k], expected[k]) << k;
}

TEST_F(DescriptorMatch, HeaviestTwelveLeadInDecreasingWeight) {
    // Probe point i matches reference point i at distance v * v, with a
    // runner-up (reference point n + i, far away) at 400: the ratio, and so
    // the weight, varies with v, which is scrambled against the index.
    const uint32_t n = 20;
    ref->minutiaCount = 2 * n;
    probe->minutiaCount = n;
    uint32_t accepted = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t v = static_cast<int32_t>((i * 7) % n);
        if (v * v * 100 / 400 <= 80) ++accepted;
        Minutia &r = ref->points[i];
        r.x = 10 + 12 * i;
        r.y = 10;
        r.type = 1;
        r.descriptor[i] = 100;
        r.descriptor[23] = static_cast<int16_t>(v);
        Minutia &second = ref->points[n + i];
        second.x = 10 + 12 * i;
        second.y = 300;
        second.type = 1;
        second.descriptor[i] = 100;
        second.descriptor[22] = 20;
        Minutia &p = probe->points[i];
        p.type = 1;
        p.descriptor[i] = 100;
    }
    ASSERT_GT(SiftMatch3(*ref, *probe, *list), 0);
    ASSERT_EQ(list->total, accepted);
    ASSERT_GT(accepted, 12u);
    for (uint32_t k = 0; k + 1 < 12; ++k) EXPECT_GE(list->pairs[k].weight, list->pairs[k + 1].weight) << k;
    for (uint32_t k = 12; k < accepted; ++k) EXPECT_LE(list->pairs[k].weight, list->pairs[11].weight) << k;
    EXPECT_GT(list->pairs[0].weight, list->pairs[11].weight);
}

}  // namespace
