// Merging: the merge decision, the canvas, the identical-template merge,
// duplicate folding, pruning, and the refusals that keep the output intact.
#include "matching/template_merge.h"

#include <gtest/gtest.h>

#include <cstring>

#include "QVAlgDll.h"
#include "core/template_codec.h"
#include "feature_fixtures.h"
#include "matching/feature_match.h"
#include "matching/image_merge.h"

namespace {

using fixtures::Bytes;
using fixtures::encode;
using fixtures::makePrint;
using fixtures::moved;

class Merge : public ::testing::Test {
  protected:
    void SetUp() override {
        QV_CURRENT_VER = 1;
        g_bRenewFlag = 0;
    }
    std::unique_ptr<FeatureSet> decoded = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureMask> decodedMask = std::make_unique<FeatureMask>();

    const FeatureSet &decode(const Bytes &t) {
        const FeatureSlot slot{decoded.get(), decodedMask.get()};
        EXPECT_GE(DecodeTemplate(t.data(), QV_TEMPLATE_SIZE, &slot), 0);
        return *decoded;
    }
};

TEST(RequiredMergeScore, FollowsThePairMix) {
    EXPECT_EQ(RequiredMergeScore(2, 1), 15);  // Q = 12
    EXPECT_EQ(RequiredMergeScore(2, 3), 20);
    EXPECT_EQ(RequiredMergeScore(4, 0), 32);
    EXPECT_EQ(RequiredMergeScore(6, 0), 35);
    EXPECT_EQ(RequiredMergeScore(0, 3), 15);
}

TEST(MergeCanvas, IdenticalCaptureKeepsTheReferenceSizeUnlessTheAnchorIsOdd) {
    auto mask = std::make_unique<FeatureMask>();
    mask->width = 40;
    mask->height = 36;
    const MergeCanvas even = MergeCanvasFor(*mask, *mask, 70, 64, 0, 0, 0);
    EXPECT_EQ(even.width, 160);
    EXPECT_EQ(even.height, 144);
    EXPECT_EQ(even.refShiftX, 0);
    EXPECT_EQ(even.probeShiftX, 0);
    const MergeCanvas odd = MergeCanvasFor(*mask, *mask, 71, 64, 0, 0, 0);
    EXPECT_EQ(odd.width, 164);
    EXPECT_EQ(odd.height, 144);
    // A probe reaching 40 pixels left of the reference shifts the reference.
    const MergeCanvas left = MergeCanvasFor(*mask, *mask, 70, 64, -40, 0, 0);
    EXPECT_EQ(left.refShiftX, 40);
    EXPECT_EQ(left.probeShiftX, 0);
    EXPECT_EQ(left.width, 200);
    // Turned by 90 degrees the probe is as wide as it was high.
    const MergeCanvas turned = MergeCanvasFor(*mask, *mask, 80, 72, 0, 0, 90);
    EXPECT_GE(turned.height, 160);
}

TEST_F(Merge, IdenticalTemplatesMergeIntoTheReference) {
    const auto print = makePrint(25, 15, 24, 24, 61, true);
    const Bytes t = encode(print);
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t overlap = 0, width = 0, height = 0;
    ASSERT_EQ(Quorvane_MergeFeature(t.data(), t.data(), out.data(), &overlap, &width, &height), kMergeDone);
    // The search stops at the first conclusive rotation, which may be a few
    // degrees off: the canvas then grows a little around the turned copy.
    EXPECT_GE(width, 96);
    EXPECT_LE(width, 104);
    EXPECT_GE(overlap, 90);
    const FeatureSet &merged = decode(out);
    ASSERT_EQ(merged.minutiaCount, 25u);
    ASSERT_EQ(merged.kneeCount, 15u);
    const int32_t sx = static_cast<int32_t>(merged.points[0].x - print.set->points[0].x);
    const int32_t sy = static_cast<int32_t>(merged.points[0].y - print.set->points[0].y);
    for (uint32_t i = 0; i < 40; ++i) {
        const Minutia &m = merged.points[i];
        EXPECT_EQ(static_cast<int32_t>(m.x - print.set->points[i].x), sx) << i;
        EXPECT_EQ(static_cast<int32_t>(m.y - print.set->points[i].y), sy) << i;
        EXPECT_EQ(m.angle, print.set->points[i].angle) << i;
        EXPECT_EQ(m.hitCount, 2) << i;
        EXPECT_EQ(m.mergeCount, 1) << i;
    }
    // Merging the result with itself again adds up the counts, up to 7.
    Bytes again(QV_TEMPLATE_SIZE, 0);
    ASSERT_EQ(Quorvane_MergeFeature(out.data(), out.data(), again.data(), &overlap, &width, &height), kMergeDone);
    ASSERT_EQ(Quorvane_MergeFeature(again.data(), again.data(), out.data(), &overlap, &width, &height), kMergeDone);
    const FeatureSet &thrice = decode(out);
    // hits 2, 4, then 8 capped; merges 1, 3, then 7.
    EXPECT_EQ(thrice.points[0].hitCount, 7);
    EXPECT_EQ(thrice.points[0].mergeCount, 7);
}

TEST_F(Merge, MovedCaptureWidensTheCanvas) {
    const auto print = makePrint(30, 20, 30, 30, 71);
    const Bytes a = encode(print);
    const Bytes b = encode(moved(print, 0, -24, 0));
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t overlap = 0, width = 0, height = 0;
    ASSERT_EQ(Quorvane_MergeFeature(a.data(), b.data(), out.data(), &overlap, &width, &height), kMergeDone);
    EXPECT_EQ(resultMax[kResultDx], 24);
    EXPECT_GE(width, 120 + 24);
    EXPECT_LE(width, 120 + 24 + 12);
    EXPECT_GE(height, 120);
    // 15 x 15 sampled finger cells, every second one; a shift of 6 cells
    // moves 3 sampled columns off the reference: 12 x 15 overlap.
    EXPECT_LE(overlap, 15 * 12 * 100 / 144);
    EXPECT_GE(overlap, 15 * 11 * 100 / 144);
}

TEST_F(Merge, RefusalsLeaveOutputAndOutValuesUntouched) {
    const Bytes a = encode(makePrint(30, 20, 24, 24, 81));
    const Bytes other = encode(makePrint(30, 20, 24, 24, 82));
    Bytes out(QV_TEMPLATE_SIZE, 0xAB);
    uint16_t overlap = 7, width = 8, height = 9;
    EXPECT_EQ(Quorvane_MergeFeature(a.data(), other.data(), out.data(), &overlap, &width, &height), kMergeRefused);
    EXPECT_EQ(out, Bytes(QV_TEMPLATE_SIZE, 0xAB));
    EXPECT_EQ(overlap, 7);
    EXPECT_EQ(width, 8);
    EXPECT_EQ(height, 9);
    Bytes stale = a;
    stale[9] ^= 0x10;
    EXPECT_EQ(Quorvane_MergeFeature(a.data(), stale.data(), out.data(), &overlap, &width, &height), kMatchDecodeFailed);
    EXPECT_EQ(FeatureMerge(a.data(), a.data(), out.data(), &overlap, &width, &height, tempbuf, 1000),
              kMatchScratchTooSmall);
    EXPECT_EQ(out, Bytes(QV_TEMPLATE_SIZE, 0xAB));
}

TEST_F(Merge, TwoSharedPointsAreNotEnough) {
    // The probe is two points of the reference: 2 pairs merge nothing and
    // match with score 0.
    const auto print = makePrint(20, 0, 24, 24, 91);
    auto two = makePrint(20, 0, 24, 24, 91);
    two.set->minutiaCount = 2;
    std::memset(&two.set->points[2], 0, sizeof(Minutia) * 18);
    const Bytes a = encode(print);
    const Bytes b = encode(two);
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t overlap = 0, width = 0, height = 0;
    EXPECT_EQ(Quorvane_MergeFeature(a.data(), b.data(), out.data(), &overlap, &width, &height), kMergeRefused);
    EXPECT_EQ(resultMax[kResultPairs], 2);
    EXPECT_GT(resultMax[kResultScore], 0);
    EXPECT_EQ(Quorvane_MatchScore(a.data(), b.data()), 0);
}

TEST_F(Merge, RenewalFlagRaisesTheBar) {
    const Bytes a = encode(makePrint(30, 20, 24, 24, 101));
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t overlap = 0, width = 0, height = 0;
    const int32_t saved = EATURE_RENEW_THRESHOLD2;
    g_bRenewFlag = 1;
    EATURE_RENEW_THRESHOLD2 = 30000;
    EXPECT_EQ(Quorvane_MergeFeature(a.data(), a.data(), out.data(), &overlap, &width, &height), kMergeRefused);
    g_bRenewFlag = 0;
    EXPECT_EQ(Quorvane_MergeFeature(a.data(), a.data(), out.data(), &overlap, &width, &height), kMergeDone);
    EATURE_RENEW_THRESHOLD2 = saved;
}

TEST_F(Merge, TemplateBeyondTheSizeLimitIsRefused) {
    // 800 points on a 150 x 150-cell mask fill 27630 bytes; the same print
    // 100 pixels further left widens the merged mask by 25 cells, which would
    // need 28099 bytes.
    const auto print = makePrint(255, 545, 150, 150, 111, false, 8, 6);
    const Bytes a = encode(print);
    ASSERT_FALSE(a.empty());
    const Bytes b = encode(moved(print, 0, 100, 0));
    Bytes out(QV_TEMPLATE_SIZE, 0xCD);
    uint16_t overlap = 1, width = 2, height = 3;
    EXPECT_EQ(Quorvane_MergeFeature(a.data(), b.data(), out.data(), &overlap, &width, &height), kMergeRefused);
    EXPECT_EQ(resultMax[kResultDx], -100);
    EXPECT_EQ(out, Bytes(QV_TEMPLATE_SIZE, 0xCD));
    EXPECT_EQ(width, 2);
}

class CanvasMerge : public ::testing::Test {
  protected:
    std::unique_ptr<FeatureSet> ref = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureSet> probe = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureSet> merged = std::make_unique<FeatureSet>();
    std::unique_ptr<FeatureMask> refMask = std::make_unique<FeatureMask>();
    std::unique_ptr<FeatureMask> probeMask = std::make_unique<FeatureMask>();
    std::unique_ptr<FeatureMask> mergedMask = std::make_unique<FeatureMask>();
    std::unique_ptr<PairList> list = std::make_unique<PairList>();
    int32_t result[kResultFields] = {};

    void SetUp() override {
        for (auto *s : {ref.get(), probe.get(), merged.get()}) std::memset(s, 0, sizeof(FeatureSet));
        std::memset(list.get(), 0, sizeof(PairList));
        for (auto *m : {refMask.get(), probeMask.get()}) {
            m->width = m->height = 40;
            std::memset(m->cells, kMaskFinger, 1600);
        }
    }
};

TEST_F(CanvasMerge, IdenticalCaptureAtZeroRotation) {
    // Every point paired with itself, dx = dy = 0, r = 0, even anchor: the
    // canvas is the reference's working size and the points are the
    // reference's with doubled hits and one more merge.
    const auto print = makePrint(12, 6, 24, 24, 121, true);
    const Bytes t = encode(print);
    const FeatureSlot refSlot{ref.get(), refMask.get()};
    const FeatureSlot probeSlot{probe.get(), probeMask.get()};
    ASSERT_GE(DecodeTemplate(t.data(), QV_TEMPLATE_SIZE, &refSlot), 0);
    ASSERT_GE(DecodeTemplate(t.data(), QV_TEMPLATE_SIZE, &probeSlot), 0);
    for (uint32_t k = 0; k < 18; ++k) {
        list->pairs[k] = CandidatePair{k, k, 0, kPairDescriptor};
        ref->points[k].pairState = probe->points[k].pairState = kPairDescriptor;
    }
    list->total = 18;
    result[kResultRefAnchor] = result[kResultProbeAnchor] = 3;
    const FeatureSlot out{merged.get(), mergedMask.get()};
    ASSERT_EQ(ImageMerge2(*ref, *refMask, *probe, *probeMask, &out, result, *list), 0);
    EXPECT_EQ(mergedMask->width, 40u);
    EXPECT_EQ(mergedMask->height, 40u);
    EXPECT_EQ(std::memcmp(mergedMask->cells, probeMask->cells, 1600), 0);
    ASSERT_EQ(merged->minutiaCount, 12u);
    ASSERT_EQ(merged->kneeCount, 6u);
    for (uint32_t k = 0; k < 18; ++k) {
        EXPECT_EQ(merged->points[k].x, print.set->points[k].x + 32);
        EXPECT_EQ(merged->points[k].y, print.set->points[k].y + 32);
        EXPECT_EQ(merged->points[k].hitCount, 2);
        EXPECT_EQ(merged->points[k].mergeCount, 1);
    }
}

TEST_F(CanvasMerge, CanvasBeyondMaskCapacityIsRefused) {
    for (auto *m : {refMask.get(), probeMask.get()}) {
        m->width = m->height = 216;
        std::memset(m->cells, kMaskFinger, 216 * 216);
    }
    ref->minutiaCount = probe->minutiaCount = 1;
    ref->points[0].x = probe->points[0].x = 100;
    ref->points[0].y = probe->points[0].y = 100;
    result[kResultDx] = 0;
    const FeatureSlot out{merged.get(), mergedMask.get()};
    EXPECT_EQ(ImageMerge2(*ref, *refMask, *probe, *probeMask, &out, result, *list), 0);
    // 400 pixels to the side: (864 + 400) / 4 x 216 cells = 68256.
    result[kResultDx] = -400;
    EXPECT_EQ(ImageMerge2(*ref, *refMask, *probe, *probeMask, &out, result, *list), 1);
    // Anchors that are no points of the sets are refused as well.
    result[kResultDx] = 0;
    result[kResultProbeAnchor] = 1;
    EXPECT_EQ(ImageMerge2(*ref, *refMask, *probe, *probeMask, &out, result, *list), 1);
}

TEST_F(CanvasMerge, UnpairedPointsGainHitsWhereTheOtherCaptureSawThem) {
    // Reference minutia 1 lies well inside the probe finger area, minutia 2
    // close to the probe frame edge; neither is paired.
    ref->minutiaCount = 3;
    probe->minutiaCount = 1;
    const uint32_t at[3][2] = {{80, 80}, {100, 90}, {150, 80}};
    for (uint32_t k = 0; k < 3; ++k) {
        ref->points[k].x = at[k][0];
        ref->points[k].y = at[k][1];
        ref->points[k].hitCount = 1;
        ref->points[k].coverage = 55;
        ref->points[k].type = 1;
    }
    probe->points[0] = ref->points[0];
    const FeatureSlot out{merged.get(), mergedMask.get()};
    ASSERT_EQ(ImageMerge2(*ref, *refMask, *probe, *probeMask, &out, result, *list), 0);
    // The unpaired probe copy of point 0 is added; equal full coverage keeps both.
    ASSERT_EQ(merged->minutiaCount, 4u);
    EXPECT_EQ(merged->points[1].hitCount, 2);
    EXPECT_EQ(merged->points[2].hitCount, 1);  // x = 150 > 160 - 37: outside the probe frame
    EXPECT_EQ(merged->points[3].hitCount, 2);
}

TEST(Duplicates, CloseUnpairedMinutiaeFoldIntoTheBetterOne) {
    auto merged = std::make_unique<FeatureSet>();
    auto work = std::make_unique<FeatureSet>();
    std::memset(merged.get(), 0, sizeof(FeatureSet));
    merged->minutiaCount = 3;
    Minutia &a = merged->points[0];
    Minutia &b = merged->points[1];
    a.x = 100, a.y = 100, a.angle = 40, a.coverage = 20, a.hitCount = 2, a.mergeCount = 1, a.type = 1;
    b.x = 102, b.y = 100, b.angle = 50, b.coverage = 40, b.hitCount = 3, b.mergeCount = 1, b.type = 1;
    Minutia &c = merged->points[2];
    c.x = 200, c.y = 200, c.coverage = 55, c.hitCount = 1;
    RemoveDuplicates(*merged, *work);
    ASSERT_EQ(merged->minutiaCount, 2u);
    EXPECT_EQ(merged->points[0].x, 102u);
    EXPECT_EQ(merged->points[0].hitCount, 5);
    EXPECT_EQ(merged->points[0].mergeCount, 3);
    EXPECT_EQ(merged->points[1].x, 200u);
    EXPECT_EQ(merged->points[2].x, 0u);  // cleared past the counts
}

TEST(Duplicates, FarAnglesOrStrongCoverageKeepBoth) {
    auto merged = std::make_unique<FeatureSet>();
    auto work = std::make_unique<FeatureSet>();
    std::memset(merged.get(), 0, sizeof(FeatureSet));
    merged->minutiaCount = 4;
    const uint32_t angles[4] = {0, 40, 180, 185};
    const uint32_t coverage[4] = {20, 40, 29, 50};
    for (uint32_t k = 0; k < 4; ++k) {
        merged->points[k].x = 100 + (k / 2) * 50;
        merged->points[k].y = 100 + (k % 2) * 2;
        merged->points[k].angle = angles[k];
        merged->points[k].coverage = coverage[k];
        merged->points[k].hitCount = 1;
    }
    RemoveDuplicates(*merged, *work);
    EXPECT_EQ(merged->minutiaCount, 4u);
}

TEST(Duplicates, UnpairedMinutiaNextToAPairedKneeStays) {
    auto merged = std::make_unique<FeatureSet>();
    auto work = std::make_unique<FeatureSet>();
    std::memset(merged.get(), 0, sizeof(FeatureSet));
    merged->minutiaCount = 2;
    merged->kneeCount = 1;
    merged->points[0] = Minutia{100, 100, 0, 0, 1, 0, 0, 0, 1, 55, {}};
    merged->points[1] = Minutia{300, 100, 0, 0, 1, 0, 0, 0, 1, 55, {}};
    merged->points[2] = Minutia{101, 101, 90, 0, 1, 1, kPairDescriptor, 0, 0, 55, {}};
    RemoveDuplicates(*merged, *work);
    EXPECT_EQ(merged->minutiaCount, 2u);
    // A paired minutia takes it in.
    merged->points[1] = Minutia{102, 100, 200, 0, 1, 1, kPairSameType, 0, 1, 55, {}};
    RemoveDuplicates(*merged, *work);
    EXPECT_EQ(merged->minutiaCount, 1u);
    EXPECT_EQ(merged->points[0].hitCount, 2);
    EXPECT_EQ(merged->points[0].mergeCount, 2);
    // An unpaired knee point takes it in too.
    merged->minutiaCount = 2;
    merged->kneeCount = 1;
    merged->points[1] = Minutia{300, 100, 0, 0, 1, 0, 0, 0, 1, 55, {}};
    merged->points[2] = Minutia{101, 101, 90, 0, 1, 1, 0, 0, 0, 55, {}};
    merged->points[0] = Minutia{100, 100, 0, 0, 1, 0, 0, 0, 1, 55, {}};
    RemoveDuplicates(*merged, *work);
    EXPECT_EQ(merged->minutiaCount, 1u);
    EXPECT_EQ(merged->kneeCount, 1u);
}

TEST(Duplicates, PruningLimitsDifferForMinutiaeAndKnees) {
    auto merged = std::make_unique<FeatureSet>();
    auto work = std::make_unique<FeatureSet>();
    std::memset(merged.get(), 0, sizeof(FeatureSet));
    merged->minutiaCount = 2;
    merged->kneeCount = 2;
    const uint8_t hits[4] = {5, 4, 5, 6};
    for (uint32_t k = 0; k < 4; ++k) {
        merged->points[k].x = 50 + 40 * k;
        merged->points[k].y = 50;
        merged->points[k].hitCount = hits[k];
        merged->points[k].mergeCount = 1;
        merged->points[k].coverage = 55;
    }
    RemoveDuplicates(*merged, *work);
    // Minutia 5 - 1 > 3 goes, 4 - 1 stays; knee 5 - 1 stays, 6 - 1 > 4 goes.
    EXPECT_EQ(merged->minutiaCount, 1u);
    EXPECT_EQ(merged->kneeCount, 1u);
    EXPECT_EQ(merged->points[0].hitCount, 4);
    EXPECT_EQ(merged->points[1].hitCount, 5);
    // A paired point is never pruned.
    merged->minutiaCount = 1;
    merged->kneeCount = 0;
    merged->points[0].hitCount = 7;
    merged->points[0].mergeCount = 0;
    merged->points[0].pairState = kPairDescriptor;
    RemoveDuplicates(*merged, *work);
    EXPECT_EQ(merged->minutiaCount, 1u);
}

}  // namespace

namespace {

// Both architectures must produce the very same bytes: a merge and a match
// of a print with a partial, shifted copy of itself that has points of its own.
TEST(MergePinned, SameBytesOnEveryArchitecture) {
    QV_CURRENT_VER = 1;
    g_bRenewFlag = 0;
    const auto print = makePrint(30, 20, 30, 30, 301);
    auto other = moved(print, 0, 10, -6);
    const auto extra = makePrint(30, 20, 30, 30, 302);
    for (uint32_t i = 0; i < 30; i += 3) other.set->points[i] = extra.set->points[i];
    for (int32_t col = 0; col < 6; ++col)
        for (int32_t row = 0; row < other.maskHeight; ++row)
            other.cells[static_cast<size_t>(row * other.maskWidth + col)] = kMaskBackground;
    const Bytes a = encode(print);
    const Bytes b = encode(other);
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t overlap = 0, width = 0, height = 0;
    ASSERT_EQ(Quorvane_MergeFeature(a.data(), b.data(), out.data(), &overlap, &width, &height), kMergeDone);
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t v : out) hash = (hash ^ v) * 1099511628211ull;
    EXPECT_EQ(overlap, 120);
    EXPECT_EQ(width, 136);
    EXPECT_EQ(height, 136);
    EXPECT_EQ(hash, 1961517869254538307u);
    EXPECT_EQ(Quorvane_MatchScore(a.data(), b.data()), 1403);
    EXPECT_EQ(Quorvane_MatchScore(out.data(), b.data()), 1983);
}

}  // namespace
