// Recognition profile 3: touches carry their rotated phase records, galleries
// one record per island through enrolment and renewal, the fused score, and
// damaged or mixed templates. The pinned test at the end must give the same
// bytes on every architecture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "QVAlgDll.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "correlation/phase_correlation.h"
#include "correlation/phase_records.h"
#include "matching/correlated_match.h"
#include "matching/gallery_match.h"
#include "matching/match_workspace.h"
#include "pinned_bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A capture of a print-like ridge pattern (seed: the finger) at (cx, cy) of
// the finger, integer arithmetic only so that every architecture sees the
// same pixels.
Bytes capture(int32_t w, int32_t h, int32_t cx, int32_t cy, int32_t seed) {
    Bytes image(static_cast<size_t>(w * h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t px = x + cx, py = y + cy;
            // Distance from a seed-dependent core, in quarter pixels, bent by a slow wave.
            const int32_t dx = px - 20 * seed, dy = py + 13 * seed;
            const int32_t d =
                static_cast<int32_t>(std::sqrt(16.0 * (dx * dx + dy * dy * 6 / 10))) + ((px * seed + py * 3) / 7) % 12;
            const int32_t phase = d % 36;
            const int32_t tri = phase < 18 ? phase : 36 - phase;
            image[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(40 + tri * 10);
        }
    return image;
}

Bytes touch(int32_t w, int32_t h, int32_t cx, int32_t cy, int32_t seed) {
    Bytes image = capture(w, h, cx, cy, seed);
    Bytes t(QV_TEMPLATE_SIZE, 0);
    int32_t info[QV_INFO_WORDS] = {};
    if (Quorvane_CreateTemplate(image.data(), static_cast<int16_t>(w), static_cast<int16_t>(h), t.data(), info) != 1)
        t.clear();
    return t;
}

int16_t merge(const Bytes &base, const Bytes &add, Bytes &out) {
    uint16_t overlap = 0, width = 0, height = 0;
    return Quorvane_MergeFeature(base.data(), add.data(), out.data(), &overlap, &width, &height);
}

int32_t recordCount(const Bytes &t) {
    GalleryView g{};
    PhaseRecords p{};
    return ReadCorrelatedTemplate(t.data(), QV_TEMPLATE_SIZE, g, p) ? p.count : -1;
}

class CorrelatedGallery : public ::testing::Test {
  protected:
    void SetUp() override {
        QV_CURRENT_VER = 1;
        Quorvane_Init(5);
        Quorvane_SetRecognitionProfile(3);
    }
    void TearDown() override { Quorvane_SetRecognitionProfile(1); }
};

TEST_F(CorrelatedGallery, EnrolmentKeepsOneRecordPerIslandAndRenewalReplacesTheOldest) {
    const Bytes first = touch(96, 96, 0, 0, 3);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(Quorvane_TemplateProfile(first.data()), 3);
    EXPECT_EQ(recordCount(first), kTouchRotations);

    // Sixteen touches of one finger: a gallery of sixteen islands, each with
    // its unrotated record, within the finger file's 28000 bytes.
    Bytes gallery = first, out(QV_TEMPLATE_SIZE, 0);
    for (int32_t k = 1; k < kMaxIslands; ++k) {
        const Bytes t = touch(96, 96, 9 * (k % 4) - 12, 7 * (k / 4) - 10, 3);
        ASSERT_FALSE(t.empty()) << k;
        ASSERT_EQ(merge(gallery, t, out), 0) << k;
        gallery = out;
        ASSERT_EQ(recordCount(gallery), k + 1);
        if (k == 1) {
            // The first touch's record in a gallery is its unrotated one.
            GalleryView g{}, f{};
            PhaseRecords gp{}, fp{};
            ASSERT_TRUE(ReadCorrelatedTemplate(gallery.data(), QV_TEMPLATE_SIZE, g, gp));
            ASSERT_TRUE(ReadCorrelatedTemplate(first.data(), QV_TEMPLATE_SIZE, f, fp));
            EXPECT_EQ(0, std::memcmp(IslandRecord(g, gp, 0), IslandRecord(f, fp, 0), kPhaseBytes));
        }
    }
    const Bytes extra = touch(96, 96, 4, 4, 3);
    EXPECT_EQ(merge(gallery, extra, out), 1);  // full

    // A touch of the finger scores above the threshold, another finger's does not.
    const int16_t genuine = Quorvane_MatchScore(gallery.data(), extra.data());
    EXPECT_GT(genuine, 45);
    EXPECT_EQ(FuseScores(LastFusionParts().islandSum, LastFusionParts().correlationPeak), genuine);
    const Bytes stranger = touch(96, 96, 0, 0, 7);
    EXPECT_LE(Quorvane_MatchScore(gallery.data(), stranger.data()), 45);

    // Renewal after the genuine match: the oldest island (and its record)
    // gives way to the touch; the gallery stays at sixteen and reads.
    ASSERT_GT(Quorvane_MatchScore(gallery.data(), extra.data()), 70);
    Bytes renewed(QV_TEMPLATE_SIZE, 0);
    uint16_t w = 0, h = 0;
    ASSERT_EQ(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h), 0);
    EXPECT_EQ(recordCount(renewed), kMaxIslands);
    GalleryView rv{}, tv{};
    PhaseRecords rp{}, tp{};
    ASSERT_TRUE(ReadCorrelatedTemplate(renewed.data(), QV_TEMPLATE_SIZE, rv, rp));
    ASSERT_TRUE(ReadCorrelatedTemplate(extra.data(), QV_TEMPLATE_SIZE, tv, tp));
    int32_t fresh = -1;
    for (int32_t k = 0; k < rv.count; ++k)
        if (std::memcmp(IslandRecord(rv, rp, k), IslandRecord(tv, tp, 0), kPhaseBytes) == 0) fresh = k;
    ASSERT_GE(fresh, 0);
    EXPECT_EQ(rv.islands[fresh].age, 0);
    EXPECT_GT(Quorvane_MatchScore(renewed.data(), extra.data()), genuine);
    // Renewal follows its match directly: after another template it is refused.
    ASSERT_FALSE(touch(96, 96, 0, 0, 3).empty());
    EXPECT_EQ(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h), 1);
}

// Two touches of one finger whose windows lie a known offset apart: the
// engine's pose of the second on the first moves its centre by that offset,
// and the correlation at that pose is high, while the same records compared
// at a wrong shift or against another finger stay low.
TEST_F(CorrelatedGallery, EnginePoseFindsTheCorrelationPeak) {
    const Bytes island = touch(96, 96, 0, 0, 3), probe = touch(96, 96, 12, -8, 3), other = touch(96, 96, 12, -8, 7);
    ASSERT_FALSE(island.empty() || probe.empty() || other.empty());
    GalleryView g{}, p{}, o{};
    PhaseRecords gp{}, pp{}, op{};
    ASSERT_TRUE(ReadCorrelatedTemplate(island.data(), QV_TEMPLATE_SIZE, g, gp));
    ASSERT_TRUE(ReadCorrelatedTemplate(probe.data(), QV_TEMPLATE_SIZE, p, pp));
    ASSERT_TRUE(ReadCorrelatedTemplate(other.data(), QV_TEMPLATE_SIZE, o, op));
    std::vector<uint8_t> scratch(kMatchScratchSize);
    IslandPose pose{};
    const IslandScores scores = ScoreIslands(g, p.islands[0], scratch.data(), kMatchScratchSize, &pose);
    ASSERT_GT(scores.best, 18);
    EXPECT_EQ(pose.score, scores.best);
    // A finger point at x on the island lies at x - 12 on the probe: the
    // probe's centre moves by (+12, -8) pixels, (+24, -16) half pixels.
    EXPECT_TRUE(pose.rotation <= 4 || pose.rotation >= 356) << pose.rotation;
    EXPECT_NEAR(pose.shiftX2, 24, 2);
    EXPECT_NEAR(pose.shiftY2, -16, 2);

    // At that shift, over the records 4 degrees either side of unrotated, the
    // touches correlate strongly; at another shift, or for another finger, they
    // do not.
    const uint8_t *stored = IslandRecord(g, gp, 0);
    const auto rec = [](const PhaseRecords &r, int32_t k) { return r.records + k * kPhaseBytes; };
    const auto nearPose = [&](const PhaseRecords &r, int32_t cellX, int32_t cellY) {
        const int32_t a = PosePeak(stored, rec(r, kUnrotatedRecord - 1), rec(r, kUnrotatedRecord + 1), cellX, cellY);
        const int32_t b = PosePeak(stored, rec(r, kUnrotatedRecord), rec(r, kUnrotatedRecord), cellX, cellY);
        return a > b ? a : b;
    };
    const int32_t cellX = pose.shiftX2 >> 2, cellY = pose.shiftY2 >> 2;
    const int32_t atPose = nearPose(pp, cellX, cellY);
    EXPECT_GT(atPose, 500);
    EXPECT_LT(nearPose(pp, cellX + 16, cellY), atPose / 2);
    EXPECT_LT(nearPose(op, cellX, cellY), atPose / 2);

    // The island's score rises with its peak at the pose only once the
    // engine's score is high enough to trust the pose.
    EXPECT_GT(PoseCheckedScore(scores.best, atPose), scores.best);
    EXPECT_EQ(PoseCheckedScore(10, atPose), 10);
    EXPECT_EQ(PoseCheckedScore(scores.best, 0), scores.best);
}

TEST_F(CorrelatedGallery, MixedProfilesScoreZeroAndDamagedBlocksDoNotRead) {
    const Bytes three = touch(96, 96, 0, 0, 5);
    Quorvane_SetRecognitionProfile(2);
    const Bytes two = touch(96, 96, 0, 0, 5);
    ASSERT_FALSE(three.empty());
    ASSERT_FALSE(two.empty());
    EXPECT_EQ(Quorvane_TemplateProfile(two.data()), 2);
    EXPECT_EQ(Quorvane_TemplateProfile(nullptr), 0);
    EXPECT_GT(Quorvane_MatchScore(three.data(), three.data()), 45);
    EXPECT_EQ(Quorvane_MatchScore(three.data(), two.data()), 0);
    EXPECT_EQ(Quorvane_MatchScore(two.data(), three.data()), 0);
    Bytes out(QV_TEMPLATE_SIZE, 0xAB);
    EXPECT_EQ(merge(three, two, out), 1);
    EXPECT_EQ(out, Bytes(QV_TEMPLATE_SIZE, 0xAB));

    // The phase block after the gallery: a wrong magic, a record count that
    // is neither one per island nor a touch's rotations, or records running
    // past the buffer make the template unreadable, not a crash.
    GalleryView g{};
    ASSERT_TRUE(ReadGallery(three.data(), QV_TEMPLATE_SIZE, g));
    const size_t block = static_cast<size_t>(GalleryBytes(g));
    for (const auto &[offset, value] : {std::pair<size_t, uint8_t>{0, 'X'}, {2, 9}, {3, 2}, {3, 0}, {3, 255}}) {
        Bytes bad = three;
        bad[block + offset] = value;
        EXPECT_EQ(Quorvane_MatchScore(three.data(), bad.data()), -10000) << offset;
        EXPECT_EQ(Quorvane_MatchScore(bad.data(), three.data()), -10000) << offset;
        EXPECT_EQ(merge(three, bad, out), 1);
    }
}

TEST_F(CorrelatedGallery, SameBytesOnEveryArchitecture) {
    pinned::Fnv1a hash;
    std::vector<int32_t> scores;
    for (const pinned::SensorGeometry g : pinned::kSensorGeometries) {
        Quorvane_Init(g.type);
        Bytes touches[3];
        for (int32_t k = 0; k < 3; ++k) {
            touches[k] = touch(g.w, g.h, 6 * k, -4 * k, 2);
            ASSERT_FALSE(touches[k].empty());
            hash.mix(touches[k].data(), touches[k].size());
        }
        Bytes merged(QV_TEMPLATE_SIZE, 0);
        ASSERT_EQ(merge(touches[0], touches[1], merged), 0);
        hash.mix(merged.data(), merged.size());
        scores.push_back(Quorvane_MatchScore(merged.data(), touches[2].data()));
        scores.push_back(LastFusionParts().correlationPeak);
        Bytes renewed(QV_TEMPLATE_SIZE, 0);
        uint16_t w = 0, h = 0;
        scores.push_back(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h));
        hash.mix(renewed.data(), renewed.size());
    }
    // Fused score, correlation peak and renewal result of the three sizes.
    EXPECT_EQ(scores, (std::vector<int32_t>{1881, 1773, 0, 777, 1725, 0, 1471, 1811, 0}));
    EXPECT_EQ(hash.value(), 2857256197556144012u);
}

}  // namespace
