// Recognition profile 2: selecting it, templates that record it, profiles that
// never mix, and the gallery's own rules (islands, trimming, reading,
// matching on the two best islands, renewal). The pinned test at the end must
// give the same bytes on every architecture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/fixedmath.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "feature_fixtures.h"
#include "matching/gallery_match.h"
#include "matching/gallery_merge.h"
#include "pinned_bytes.h"

namespace {

using fixtures::Bytes;
using fixtures::makePrint;
using fixtures::moved;
using fixtures::Print;

Bytes galleryOf(const Print &p) {
    Bytes out(QV_TEMPLATE_SIZE, 0);
    if (EncodeGalleryCapture(p.set.get(), p.cells.data(), p.maskWidth, p.maskHeight, out.data(), QV_TEMPLATE_SIZE) < 0)
        out.clear();
    return out;
}

int32_t islands(const Bytes &t) {
    GalleryView v{};
    return ReadGallery(t.data(), QV_TEMPLATE_SIZE, v) ? v.count : -1;
}

// A 96 x 96 pixel window of a large print at (ox, oy), in the window's frame.
Print windowOf(const Print &finger, int32_t ox, int32_t oy) {
    Print w = moved(finger, 0, -ox, -oy);
    w.maskWidth = w.maskHeight = 24;
    w.cells.assign(24 * 24, kMaskFinger);
    FeatureSet kept{};
    uint32_t n[2] = {0, 0};
    Minutia points[2][kMaxFeaturePoints];
    for (uint32_t i = 0; i < FeaturePointCount(*w.set); ++i) {
        const Minutia &m = w.set->points[i];
        if (static_cast<int32_t>(m.x) < 4 || static_cast<int32_t>(m.y) < 4 || m.x >= 92 || m.y >= 92) continue;
        const int g = i < w.set->minutiaCount ? 0 : 1;
        points[g][n[g]++] = m;
    }
    kept.minutiaCount = n[0];
    kept.kneeCount = n[1];
    std::memcpy(kept.points, points[0], n[0] * sizeof(Minutia));
    std::memcpy(kept.points + n[0], points[1], n[1] * sizeof(Minutia));
    std::memcpy(w.set.get(), &kept, sizeof kept);
    return w;
}

struct Merged {
    int16_t result;
    Bytes out;
};
Merged merge(const Bytes &base, const Bytes &add) {
    Merged m{0, Bytes(QV_TEMPLATE_SIZE, 0xAB)};
    uint16_t overlap = 7, width = 7, height = 7;
    m.result = Quorvane_MergeFeature(base.data(), add.data(), m.out.data(), &overlap, &width, &height);
    return m;
}

class Gallery : public ::testing::Test {
  protected:
    void SetUp() override {
        QV_CURRENT_VER = 1;
        Quorvane_SetRecognitionProfile(1);
    }
    void TearDown() override { Quorvane_SetRecognitionProfile(1); }
};

TEST_F(Gallery, ProfileSelectionAndTheVersionCodeTemplatesCarry) {
    EXPECT_EQ(Quorvane_SetRecognitionProfile(2), 0);
    for (int32_t bad : {0, 4, -1, 256}) {
        EXPECT_EQ(Quorvane_SetRecognitionProfile(bad), -1);
        EXPECT_EQ(CurrentRecognitionProfile(), 2);
    }
    Quorvane_Init(5);  // re-initialising after -31 must not switch profiles
    EXPECT_EQ(CurrentRecognitionProfile(), 2);

    // Profile 2's code is the library's with build 20 instead of 10.
    const uint8_t *one = ProfileVersionCode(1);
    const uint8_t *two = ProfileVersionCode(2);
    EXPECT_EQ(0, std::memcmp(one, g_cAlgVerNoKey, QV_VERSION_CODE_SIZE));
    EXPECT_EQ(two[0], 20);
    EXPECT_EQ(one[0], 10);
    EXPECT_EQ(0, std::memcmp(one + 1, two + 1, QV_VERSION_CODE_SIZE - 1));

    // A profile 2 template is the ordinary format with that code: the profile 1
    // decoder refuses it, the profile 2 decoder reads the same points.
    const Print p = makePrint(6, 30, 24, 24, 11);
    const Bytes g = galleryOf(p);
    ASSERT_FALSE(g.empty());
    EXPECT_EQ(TemplateProfile(g.data()), kProfileGallery);
    EXPECT_EQ(TemplateProfile(fixtures::encode(p).data()), kProfileDescribed);
    static FeatureSet set;
    static FeatureMask mask;
    const FeatureSlot slot{&set, &mask};
    EXPECT_EQ(DecodeTemplate(g.data(), QV_TEMPLATE_SIZE, &slot), -1);
    ASSERT_EQ(DecodeTemplateAs(g.data(), QV_TEMPLATE_SIZE, &slot, kProfileGallery), 6);
    EXPECT_EQ(FeaturePointCount(set), 36u);
    EXPECT_EQ(islands(g), 1);
}

TEST_F(Gallery, TemplatesOfDifferentProfilesNeverMatchMergeOrRenew) {
    const Print p = makePrint(8, 30, 24, 24, 12);
    const Bytes one = fixtures::encode(p);
    const Bytes two = galleryOf(p);
    ASSERT_GT(Quorvane_MatchScore(one.data(), one.data()), 45);
    ASSERT_GT(Quorvane_MatchScore(two.data(), two.data()), 45);
    for (const auto &[stored, live] : {std::pair{&one, &two}, std::pair{&two, &one}}) {
        EXPECT_EQ(Quorvane_MatchScore(stored->data(), live->data()), 0);
        Bytes renewed(QV_TEMPLATE_SIZE, 0xAB);
        uint16_t w = 0, h = 0;
        EXPECT_EQ(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h), 1);
        EXPECT_EQ(renewed, Bytes(QV_TEMPLATE_SIZE, 0xAB));
        const Merged m = merge(*stored, *live);
        EXPECT_EQ(m.result, 1);
        EXPECT_EQ(m.out, Bytes(QV_TEMPLATE_SIZE, 0xAB));
    }
    Bytes garbage = two;
    garbage[5] ^= 0xFF;
    EXPECT_EQ(Quorvane_MatchScore(two.data(), garbage.data()), -10000);
}

TEST_F(Gallery, GrowsByOneIslandPerTouchToSixteenAndTrimsLargeTouches) {
    Bytes g = galleryOf(makePrint(5, 40, 24, 24, 100));
    for (int32_t k = 1; k < kMaxIslands; ++k) {
        const Merged m = merge(g, galleryOf(makePrint(5, 40, 24, 24, 100 + k)));
        ASSERT_EQ(m.result, 0) << k;
        g = m.out;
        EXPECT_EQ(islands(g), k + 1);
    }
    // Full: the seventeenth touch is refused and nothing is written.
    const Merged full = merge(g, galleryOf(makePrint(5, 40, 24, 24, 200)));
    EXPECT_EQ(full.result, 1);
    EXPECT_EQ(full.out, Bytes(QV_TEMPLATE_SIZE, 0xAB));
    // So is a touch with too few points to be an island.
    EXPECT_EQ(merge(galleryOf(makePrint(5, 40, 24, 24, 1)), galleryOf(makePrint(2, 3, 24, 24, 2))).result, 1);

    // A large touch keeps every minutia and the knee points of the widest coverage.
    Print large = makePrint(10, 70, 40, 40, 300, false, 8, 4);
    for (uint32_t i = 10; i < 80; ++i) large.set->points[i].coverage = (i * 7) % 56;
    const Merged m = merge(galleryOf(makePrint(5, 40, 24, 24, 3)), galleryOf(large));
    ASSERT_EQ(m.result, 0);
    GalleryView v{};
    ASSERT_TRUE(ReadGallery(m.out.data(), QV_TEMPLATE_SIZE, v));
    static FeatureSet set;
    static FeatureMask mask;
    const FeatureSlot slot{&set, &mask};
    ASSERT_EQ(DecodeTemplateAs(v.islands[1].templ, v.islands[1].length, &slot, kProfileGallery), 10);
    const uint32_t kept = kMaxIslandPoints;
    ASSERT_EQ(FeaturePointCount(set), kept);
    uint32_t lowestKept = 55;
    for (uint32_t i = 10; i < kept; ++i) lowestKept = std::min(lowestKept, set.points[i].coverage);
    uint32_t kneesAbove = 0;
    for (uint32_t i = 10; i < 80; ++i) kneesAbove += large.set->points[i].coverage > lowestKept;
    EXPECT_LE(kneesAbove, kept - 10);
}

TEST_F(Gallery, DamagedGalleriesDoNotRead) {
    const Print finger = makePrint(20, 120, 60, 60, 21);
    Bytes g = galleryOf(windowOf(finger, 0, 0));
    g = merge(g, galleryOf(windowOf(finger, 40, 0))).out;
    g = merge(g, galleryOf(windowOf(finger, 0, 40))).out;
    ASSERT_EQ(islands(g), 3);
    GalleryView v{};
    ASSERT_TRUE(ReadGallery(g.data(), QV_TEMPLATE_SIZE, v));
    const size_t block = static_cast<size_t>(v.islands[0].length);
    const int64_t total = GalleryBytes(v);
    struct Damage {
        size_t at;
        uint8_t value;
    };
    for (const Damage d : {Damage{block, 'X'}, Damage{block + 2, 9}, Damage{block + 3, 0}, Damage{block + 3, 17},
                           Damage{block + 3, 4}, Damage{block + 7, 0xFF}}) {
        Bytes bad = g;
        bad[d.at] = d.value;
        EXPECT_FALSE(ReadGallery(bad.data(), QV_TEMPLATE_SIZE, v)) << d.at;
        EXPECT_EQ(Quorvane_MatchScore(bad.data(), g.data()), -10000) << d.at;
    }
    // An island stamped with profile 1's code, and a gallery cut short.
    Bytes mixed = g;
    std::memcpy(mixed.data() + (v.islands[2].templ - g.data()) + 5, g_cAlgVerNoKey, QV_VERSION_CODE_SIZE);
    EXPECT_FALSE(ReadGallery(mixed.data(), QV_TEMPLATE_SIZE, v));
    EXPECT_FALSE(ReadGallery(g.data(), static_cast<int32_t>(total - 1), v));
    EXPECT_TRUE(ReadGallery(g.data(), static_cast<int32_t>(total), v));
}

TEST_F(Gallery, TheTwoBestIslandsScoreAndRenewalRotatesTheOldestIsland) {
    const Print finger = makePrint(30, 200, 80, 80, 31);
    const Print other = makePrint(30, 200, 80, 80, 32);
    Bytes g = galleryOf(windowOf(finger, 0, 0));
    for (const auto &[x, y] : {std::pair{60, 0}, std::pair{0, 60}, std::pair{60, 60}})
        g = merge(g, galleryOf(windowOf(finger, x, y))).out;
    ASSERT_EQ(islands(g), 4);
    const Bytes between = galleryOf(windowOf(finger, 30, 0));
    const Bytes single = galleryOf(windowOf(finger, 0, 0));
    const Bytes stranger = galleryOf(windowOf(other, 30, 30));
    EXPECT_GT(Quorvane_MatchScore(g.data(), between.data()), 45);
    EXPECT_LE(Quorvane_MatchScore(g.data(), stranger.data()), 45);
    // A touch between two enrolled touches gains from the second one.
    const Bytes pair = merge(galleryOf(windowOf(finger, 0, 0)), galleryOf(windowOf(finger, 60, 0))).out;
    EXPECT_GT(Quorvane_MatchScore(pair.data(), between.data()),
              Quorvane_MatchScore(galleryOf(windowOf(finger, 0, 0)).data(), between.data()));

    // Renewal after a strong match adds the touch; the matched island's age
    // drops to 0, the others age by one.
    ASSERT_GE(Quorvane_MatchScore(g.data(), single.data()), kGalleryRenewScore);
    Bytes renewed(QV_TEMPLATE_SIZE, 0);
    uint16_t w = 0, h = 0;
    ASSERT_EQ(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h), 0);
    GalleryView v{};
    ASSERT_TRUE(ReadGallery(renewed.data(), QV_TEMPLATE_SIZE, v));
    ASSERT_EQ(v.count, 5);
    EXPECT_EQ(v.islands[0].age, 0);
    for (int32_t k = 1; k < 4; ++k) EXPECT_EQ(v.islands[k].age, 1) << k;
    EXPECT_EQ(v.islands[4].age, 0);
    // The state is used up, and a weak match renews nothing.
    EXPECT_EQ(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h), 1);
    Quorvane_MatchScore(g.data(), stranger.data());
    EXPECT_EQ(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h), 1);

    // Full gallery: renewal replaces the island unmatched the longest, never the matched one.
    Bytes fullGallery = renewed;
    for (int32_t k = 5; k < kMaxIslands; ++k)
        fullGallery = merge(fullGallery, galleryOf(windowOf(other, 4 * k % 40, 0))).out;
    ASSERT_EQ(islands(fullGallery), kMaxIslands);
    fullGallery[static_cast<size_t>(v.islands[0].length) + 4 + 3] = 9;  // island 3 is the oldest
    ASSERT_GE(Quorvane_MatchScore(fullGallery.data(), single.data()), kGalleryRenewScore);
    ASSERT_EQ(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h), 0);
    ASSERT_TRUE(ReadGallery(renewed.data(), QV_TEMPLATE_SIZE, v));
    EXPECT_EQ(v.count, kMaxIslands);
    EXPECT_EQ(v.islands[3].age, 0);
    EXPECT_EQ(0, std::memcmp(v.islands[3].templ, single.data(), static_cast<size_t>(v.islands[3].length)));
}

// Ridges from integers only (the library's own square root), so the input is
// the same on every architecture: rings of period 9 around a core, with a
// phase jump that makes ridge endings.
std::vector<uint8_t> integerRidges(int32_t w, int32_t h, int32_t cx, int32_t cy) {
    std::vector<uint8_t> image(static_cast<size_t>(w * h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const int32_t d = getSqrtByInt(16 * ((x - cx) * (x - cx) + (y - cy) * (y - cy) * 6 / 10));
            int32_t phase = (d + (x > w / 2 && y < h / 3 ? 18 : 0)) % 36;  // a quarter pixel a step
            const int32_t tri = phase < 18 ? phase : 36 - phase;
            image[static_cast<size_t>(y * w + x)] = static_cast<uint8_t>(40 + tri * 10);
        }
    return image;
}

TEST_F(Gallery, SameBytesOnEveryArchitecture) {
    Quorvane_SetRecognitionProfile(2);
    pinned::Fnv1a hash;
    std::vector<int32_t> scores;
    for (const pinned::SensorGeometry g : pinned::kSensorGeometries) {
        Quorvane_Init(g.type);
        Bytes touches[3];
        for (int32_t k = 0; k < 3; ++k) {
            auto image = integerRidges(g.w, g.h, g.w / 2 + 6 * k, g.h / 2 - 4 * k);
            touches[k].assign(QV_TEMPLATE_SIZE, 0);
            int32_t info[QV_INFO_WORDS] = {};
            ASSERT_EQ(Quorvane_CreateTemplate(image.data(), static_cast<int16_t>(g.w), static_cast<int16_t>(g.h),
                                              touches[k].data(), info),
                      1);
            hash.mix(touches[k].data(), touches[k].size());
        }
        const Merged m = merge(touches[0], touches[1]);
        ASSERT_EQ(m.result, 0);
        hash.mix(m.out.data(), m.out.size());
        scores.push_back(Quorvane_MatchScore(m.out.data(), touches[2].data()));
        Bytes renewed(QV_TEMPLATE_SIZE, 0);
        uint16_t w = 0, h = 0;
        scores.push_back(Quorvane_RenewFeature(renewed.data(), nullptr, &w, &h));
        hash.mix(renewed.data(), renewed.size());
    }
    // Match scores and renewal results of the three sizes; the 68 x 118 match
    // is too weak to renew.
    EXPECT_EQ(scores, (std::vector<int32_t>{80, 0, 104, 0, 45, 1}));
    EXPECT_EQ(hash.value(), 10135135319127008880u);
}

}  // namespace
