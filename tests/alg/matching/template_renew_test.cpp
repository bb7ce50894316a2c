// Renewal: its score threshold before and after Init, the coupling with the
// merge through g_bRenewFlag, and that it only ever consumes a fresh match.
#include <gtest/gtest.h>

#include <cstring>

#include "QVAlgDll.h"
#include "core/pair_list.h"
#include "core/template_codec.h"
#include "feature_fixtures.h"
#include "matching/feature_match.h"
#include "matching/template_merge.h"

namespace {

using fixtures::Bytes;
using fixtures::encode;
using fixtures::makePrint;
using fixtures::moved;

class Renew : public ::testing::Test {
  protected:
    void SetUp() override {
        QV_CURRENT_VER = 1;
        g_bRenewFlag = 0;
        stored = encode(makePrint(30, 20, 30, 30, 201));
        capture = encode(moved(makePrint(30, 20, 30, 30, 201), 5, 8, 4));
    }
    Bytes stored;
    Bytes capture;

    // Matches, then pretends the match scored `score`.
    void matchScoring(int32_t score) {
        ASSERT_GT(Quorvane_MatchScore(stored.data(), capture.data()), 70);
        resultMax[kResultScore] = score;
    }
    int16_t renew(Bytes &out, uint16_t &w, uint16_t &h) { return Quorvane_RenewFeature(out.data(), nullptr, &w, &h); }
};

// Runs first so that no Init has happened yet in this process (ctest runs
// every case on its own anyway).
TEST_F(Renew, BeforeInitTheThresholdIs50) {
    ASSERT_EQ(EATURE_RENEW_THRESHOLD, 50);
    ASSERT_EQ(EATURE_RENEW_THRESHOLD2, 30);
    Bytes out(QV_TEMPLATE_SIZE, 0xEE);
    uint16_t w = 1, h = 2;
    matchScoring(49);
    EXPECT_EQ(renew(out, w, h), 1);
    EXPECT_EQ(out, Bytes(QV_TEMPLATE_SIZE, 0xEE));
    EXPECT_EQ(w, 1);
    EXPECT_EQ(g_bRenewFlag, 0);
    matchScoring(50);
    EXPECT_EQ(renew(out, w, h), 0);
    EXPECT_EQ(g_bRenewFlag, 1);
}

TEST_F(Renew, AfterInitTheThresholdIs70) {
    const int32_t saved[2] = {EATURE_RENEW_THRESHOLD, EATURE_RENEW_THRESHOLD2};
    ASSERT_EQ(Quorvane_Init(5), 0);
    EXPECT_EQ(EATURE_RENEW_THRESHOLD, 70);
    EXPECT_EQ(EATURE_RENEW_THRESHOLD2, 40);
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t w = 0, h = 0;
    matchScoring(69);
    EXPECT_EQ(renew(out, w, h), 1);
    matchScoring(70);
    EXPECT_EQ(renew(out, w, h), 0);
    EATURE_RENEW_THRESHOLD = saved[0];
    EATURE_RENEW_THRESHOLD2 = saved[1];
}

TEST_F(Renew, RenewedTemplateHoldsBothCaptures) {
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t w = 0, h = 0;
    const int16_t score = Quorvane_MatchScore(stored.data(), capture.data());
    ASSERT_GT(score, 70);
    ASSERT_EQ(renew(out, w, h), 0);
    EXPECT_GE(w, 120);
    EXPECT_GE(h, 120);
    auto set = std::make_unique<FeatureSet>();
    auto mask = std::make_unique<FeatureMask>();
    const FeatureSlot slot{set.get(), mask.get()};
    ASSERT_GE(DecodeTemplate(out.data(), QV_TEMPLATE_SIZE, &slot), 0);
    EXPECT_EQ(mask->width * 4, w + 64u);
    uint32_t confirmed = 0;
    for (uint32_t i = 0; i < FeaturePointCount(*set); ++i) confirmed += set->points[i].mergeCount == 1;
    EXPECT_GT(confirmed, 20u);
    // The renewed template still matches the capture.
    EXPECT_GT(Quorvane_MatchScore(out.data(), capture.data()), 45);
}

TEST_F(Renew, OnlyAFreshMatchIsRenewed) {
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t w = 0, h = 0;
    ASSERT_GT(Quorvane_MatchScore(stored.data(), capture.data()), 70);
    ASSERT_EQ(renew(out, w, h), 0);
    // The first renewal consumed the reference set.
    Bytes again(QV_TEMPLATE_SIZE, 0x5A);
    EXPECT_EQ(renew(again, w, h), 1);
    EXPECT_EQ(again, Bytes(QV_TEMPLATE_SIZE, 0x5A));
    // So does a merge.
    uint16_t overlap = 0;
    g_bRenewFlag = 0;
    ASSERT_EQ(Quorvane_MergeFeature(stored.data(), capture.data(), out.data(), &overlap, &w, &h), kMergeDone);
    EXPECT_EQ(renew(again, w, h), 1);
    // Template creation reuses the scratch: what it overwrites is not renewed.
    ASSERT_GT(Quorvane_MatchScore(stored.data(), capture.data()), 70);
    std::memset(tempbuf, 0x11, 4096);
    EXPECT_EQ(renew(again, w, h), 1);
    // A match that failed to decode leaves nothing to renew.
    Bytes stale = stored;
    stale[5] ^= 1;
    EXPECT_EQ(Quorvane_MatchScore(stale.data(), capture.data()), kMatchDecodeFailed);
    EXPECT_EQ(renew(again, w, h), 1);
    EXPECT_EQ(again, Bytes(QV_TEMPLATE_SIZE, 0x5A));
}

TEST_F(Renew, RenewalFlagHoldsMergesToTheSecondThreshold) {
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t w = 0, h = 0, overlap = 0;
    ASSERT_GT(Quorvane_MatchScore(stored.data(), capture.data()), 70);
    ASSERT_EQ(renew(out, w, h), 0);
    ASSERT_EQ(g_bRenewFlag, 1);
    // A merge whose best score lies between its required score and the
    // second threshold is refused only while the flag is set.
    const int32_t saved = EATURE_RENEW_THRESHOLD2;
    ASSERT_EQ(Quorvane_MergeFeature(stored.data(), capture.data(), out.data(), &overlap, &w, &h), kMergeDone);
    EATURE_RENEW_THRESHOLD2 = resultMax[kResultScore] + 1;
    EXPECT_EQ(Quorvane_MergeFeature(stored.data(), capture.data(), out.data(), &overlap, &w, &h), kMergeRefused);
    g_bRenewFlag = 0;
    EXPECT_EQ(Quorvane_MergeFeature(stored.data(), capture.data(), out.data(), &overlap, &w, &h), kMergeDone);
    EATURE_RENEW_THRESHOLD2 = saved;
}

}  // namespace
