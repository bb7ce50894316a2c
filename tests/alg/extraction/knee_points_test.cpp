// Knee points: ridge tracing, knee angles and directions, rejection near
// minutiae and at the edge, suppression along a ridge and across ridges, the
// overflow limits, and the direction class of the knee points of a set.
#include "extraction/knee_points.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kW = 160;
constexpr int kH = 160;

// A white skeleton with a finger mask covering all of it.
struct Canvas {
    std::vector<uint8_t> skeleton = std::vector<uint8_t>(kW * kH, 255);
    std::vector<uint8_t> mask = std::vector<uint8_t>(kW * kH, 0);
    std::vector<uint8_t> copy = std::vector<uint8_t>(kW * kH, 0x5a);
    KneeWorkspace ws{};

    void set(int x, int y) { skeleton[y * kW + x] = 0; }
    uint8_t *at(int x, int y) { return skeleton.data() + y * kW + x; }

    // Horizontal run from (x0, y) then, without the corner pixel, a vertical
    // run down from (x0 + len, y + 1): a clean 90 degree bend at (x0 + len - 1, y).
    void bend(int x0, int y, int len, int down) {
        for (int x = x0; x < x0 + len; ++x) set(x, y);
        for (int d = 1; d <= down; ++d) set(x0 + len, y + d);
    }

    int32_t find(const std::vector<PointRecord> &endings = {}, const std::vector<PointRecord> &forks = {}) {
        int32_t count = -1;
        const int32_t r =
            vwn_GetKneePoint(skeleton.data(), mask.data(), &ws, copy.data(), kW, kH, forks.data(), endings.data(),
                             static_cast<int32_t>(endings.size()), static_cast<int32_t>(forks.size()), &count);
        EXPECT_EQ(r, 0);
        return count;
    }

    std::vector<PointRecord> kept(int32_t count) const {
        std::vector<PointRecord> out;
        for (int32_t i = 0; i < count; ++i)
            if (ws.knees[i].flag == kKneeKept) out.push_back(ws.knees[i]);
        return out;
    }
};

PointRecord candidate(int x, int y) { return PointRecord{uint32_t(x), uint32_t(y), 0, 0, 0}; }

std::vector<PointRecord> straightTrace(int n) {
    std::vector<PointRecord> t(kTraceCapacity);
    for (int i = 0; i < n; ++i) t[i] = candidate(40 + i, 50);
    return t;
}

TEST(KneeAngle, StraightRidgeMeasuresStraightEverywhere) {
    auto t = straightTrace(30);
    ASSERT_EQ(vwn_CalKneeOrinetByRidge(t.data(), 30, 7), 0);
    for (int i = 7; i < 23; ++i) EXPECT_EQ(t[i].value, 180) << i;
}

TEST(KneeAngle, ShortTracesAreRefusedAndSixteenPointsMeasureTwo) {
    auto t = straightTrace(16);
    EXPECT_EQ(vwn_CalKneeOrinetByRidge(t.data(), 15, 7), -1);
    ASSERT_EQ(vwn_CalKneeOrinetByRidge(t.data(), 16, 7), 0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(t[i].value, (i == 7 || i == 8) ? 180 : 0) << i;
}

TEST(KneeAngle, DirectionIsTheBisectorAcrossTheWrap) {
    // Arms towards 350 and 10 degrees: the plain mean 180 points away from
    // the bend; the direction must be 0.
    std::vector<PointRecord> t(4);
    t[1] = candidate(100, 100);
    t[0] = candidate(100 + 57, 100 - 10);  // about 350 degrees from point 1
    t[2] = candidate(100 + 57, 100 + 10);  // about 10 degrees
    t[3] = candidate(100 + 60, 100 + 10);
    ASSERT_EQ(vwn_CalKneeOrinetByRidge(t.data(), 4, 1), 0);
    EXPECT_EQ(t[1].angle, 0u);
    EXPECT_EQ(t[1].value, 20);
}

TEST(KneeAngle, WideAngleNeedsBothArmsOnTheTrace) {
    auto t = straightTrace(30);
    uint8_t a = 0;
    EXPECT_EQ(vwn_GetCurKneeAngletByRidge(t.data(), 30, 9, 8, &a), -1);
    EXPECT_EQ(vwn_GetCurKneeAngletByRidge(t.data(), 30, 9, 9, &a), 0);
    EXPECT_EQ(a, 180);
    EXPECT_EQ(vwn_GetCurKneeAngletByRidge(t.data(), 30, 9, 20, &a), 0);
    // Point 21 would need point 30, one past the trace.
    EXPECT_EQ(vwn_GetCurKneeAngletByRidge(t.data(), 30, 9, 21, &a), -1);
    EXPECT_EQ(vwn_GetCurKneeAngletByRidge(t.data(), 18, 9, 9, &a), -1);
}

TEST(RidgeTrace, FollowsAndConsumesARidgeUpToAJunction) {
    Canvas c;
    for (int x = 50; x <= 70; ++x) c.set(x, 60);  // a ridge from (50,60) that splits after (70,60)
    c.set(71, 59);
    c.set(71, 61);
    std::vector<PointRecord> trace(kTraceCapacity);
    uint8_t *end = nullptr;
    int32_t status = 0;
    const int32_t n = GetRidgeDis(c.at(50, 60), c.skeleton.data(), &end, trace.data(), &status, kW, kH);
    // (70,60) is the last point: it has two black neighbours, which stay.
    EXPECT_EQ(n, 21);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(end, c.at(70, 60));
    EXPECT_EQ(trace[0].x, 50u);
    EXPECT_EQ(trace[20].x, 70u);
    for (int x = 50; x <= 70; ++x) EXPECT_EQ(*c.at(x, 60), 255) << x;
    EXPECT_EQ(*c.at(71, 59), 0);
    EXPECT_EQ(*c.at(71, 61), 0);
}

TEST(RidgeTrace, StartInsideALineGivesNothing) {
    Canvas c;
    for (int x = 50; x <= 70; ++x) c.set(x, 60);
    std::vector<PointRecord> trace(kTraceCapacity);
    uint8_t *end = nullptr;
    int32_t status = 0;
    EXPECT_EQ(GetRidgeDis(c.at(60, 60), c.skeleton.data(), &end, trace.data(), &status, kW, kH), 0);
    EXPECT_EQ(status, 2);
}

TEST(RidgeTrace, LongRidgeIsCountedPastTheTraceCapacity) {
    Canvas c;
    // A serpentine ridge of more than 300 pixels.
    int n = 0;
    for (int row = 0; row < 5; ++row) {
        const int y = 40 + 4 * row;
        for (int x = 40; x <= 110; ++x, ++n) c.set(x, y);
        if (row < 4) {
            const int x = row % 2 == 0 ? 111 : 39;
            for (int d = 1; d <= 3; ++d, ++n) c.set(x, y + d);
        }
    }
    ASSERT_GT(n, kTraceCapacity);
    std::vector<PointRecord> trace(kTraceCapacity + 1, candidate(7, 7));
    uint8_t *end = nullptr;
    int32_t status = 0;
    EXPECT_EQ(GetRidgeDis(c.at(40, 40), c.skeleton.data(), &end, trace.data(), &status, kW, kH), n);
    EXPECT_EQ(trace[kTraceCapacity].x, 7u);  // nothing stored past the capacity
    EXPECT_TRUE(std::all_of(c.skeleton.begin(), c.skeleton.end(), [](uint8_t v) { return v == 255; }));
}

TEST(KneeSearch, StraightRidgeGivesNoKneePoint) {
    Canvas c;
    for (int x = 40; x <= 120; ++x) c.set(x, 80);
    const int32_t count = c.find();
    EXPECT_TRUE(c.kept(count).empty());
    EXPECT_TRUE(std::all_of(c.copy.begin(), c.copy.end(), [](uint8_t v) { return v == 0; }));
}

TEST(KneeSearch, RightAngleBendGivesOneKneePointAtTheCorner) {
    Canvas c;
    c.bend(45, 70, 35, 35);  // corner at (79,70)
    const auto kept = c.kept(c.find());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NEAR(int(kept[0].x), 79, 1);
    EXPECT_NEAR(int(kept[0].y), 70, 1);
    EXPECT_NEAR(kept[0].value, 90, 10);
    EXPECT_NEAR(int(kept[0].angle), 135, 6);  // between the arms: back along -x and down along +y
}

TEST(KneeSearch, RidgesShorterThanSixteenPointsAreSkipped) {
    for (int len : {15, 16}) {
        Canvas c;
        // 8 horizontal pixels, then down: the bend sits at point 7.
        c.bend(60, 70, 8, len - 8);
        const auto kept = c.kept(c.find());
        ASSERT_EQ(kept.size(), len == 16 ? 1u : 0u) << len;
        if (len == 16) {
            EXPECT_EQ(kept[0].x, 67u);
        }
    }
}

TEST(KneeSearch, KneeNearAnyMinutiaCandidateIsRejected) {
    struct Case {
        int dx, dy;
        bool rejected;
    };
    for (const Case k : {Case{7, 0, true}, Case{8, 0, false}, Case{5, 5, true}, Case{6, 5, false}}) {
        for (bool asFork : {false, true}) {
            Canvas c;
            c.bend(45, 70, 35, 35);
            const std::vector<PointRecord> near{candidate(79 + k.dx, 70 - k.dy)};
            const int32_t count = asFork ? c.find({}, near) : c.find(near, {});
            EXPECT_EQ(c.kept(count).empty(), k.rejected) << k.dx << "," << k.dy << " fork " << asFork;
        }
    }
}

TEST(KneeSearch, KneeOutsideTheFingerOrNearTheImageEdgeIsRejected) {
    Canvas c;
    c.bend(45, 70, 35, 35);
    c.mask[70 * kW + 79] = 255;
    EXPECT_TRUE(c.kept(c.find()).empty());

    Canvas edge;
    edge.bend(45, 36, 35, 40);  // corner at (79,36), one row outside the knee margin
    EXPECT_TRUE(edge.kept(edge.find()).empty());
}

// A ridge of 20 pixels along +x from (40,80), then one pixel per move ('0'
// straight on, '1' up and on, '2' down and on), then 20 more along +x.
void wavyRidge(Canvas &c, const char *moves) {
    int x = 40, y = 80;
    for (int i = 0; i < 20; ++i) c.set(x++, y);
    for (const char *m = moves; *m; ++m) {
        y += *m == '1' ? -1 : (*m == '2' ? 1 : 0);
        c.set(x++, y);
    }
    for (int i = 0; i < 20; ++i) c.set(x++, y);
}

bool keeps(const std::vector<PointRecord> &kept, int x, int y) {
    return std::any_of(kept.begin(), kept.end(),
                       [&](const PointRecord &p) { return p.x == uint32_t(x) && p.y == uint32_t(y); });
}

TEST(KneeSearch, EqualKneesAlongARidgeAreSeparatedByWiderArms) {
    // Both ridges have two equal sharpest knees three pixels apart; with arms
    // of 9 points the first ridge bends more sharply at the right one, the
    // second at the left one.
    Canvas right;
    wavyRidge(right, "10012011");
    auto kept = right.kept(right.find());
    EXPECT_TRUE(keeps(kept, 59, 80));
    EXPECT_FALSE(keeps(kept, 56, 80));

    Canvas left;
    wavyRidge(left, "11021001");
    kept = left.kept(left.find());
    EXPECT_TRUE(keeps(kept, 67, 77));
    EXPECT_FALSE(keeps(kept, 70, 77));
}

TEST(KneeSearch, EqualKneesOfNeighbouringRidgesKeepTheFirst) {
    Canvas c;
    c.bend(45, 70, 35, 35);  // corner (79,70)
    c.bend(45, 73, 32, 35);  // corner (76,73), inside the first and three pixels off diagonally
    const int32_t count = c.find();
    const auto kept = c.kept(count);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].y, 70u);  // the upper ridge is traced first
}

TEST(KneeSearch, TooManyRidgeStartsOverflow) {
    Canvas c;
    int starts = 0;
    for (int y = 32; y < kH - 32 && starts < kStartCapacity; y += 3)
        for (int x = 32; x + 2 < kW - 32 && starts < kStartCapacity; x += 5, starts += 2) {
            c.set(x, y);
            c.set(x + 1, y);
            c.set(x + 2, y);
        }
    int32_t count = -1;
    EXPECT_EQ(vwn_GetKneePoint(c.skeleton.data(), c.mask.data(), &c.ws, c.copy.data(), kW, kH, nullptr, nullptr, 0, 0,
                               &count),
              kKneeOverflow);

    // One segment fewer fits.
    Canvas fewer;
    for (int i = 0; i < 99; ++i) {
        const int y = 32 + 3 * (i / 18), x = 32 + 5 * (i % 18);
        fewer.set(x, y);
        fewer.set(x + 1, y);
        fewer.set(x + 2, y);
    }
    EXPECT_EQ(fewer.find(), 0);
}

// Zig-zag ridges of the given amplitude (45 degree strokes) every `spacing`
// rows across the whole frame: a knee point at every turn.
void zigzags(Canvas &c, int amplitude, int spacing) {
    for (int y0 = 31; y0 + amplitude <= kH - 31; y0 += spacing)
        for (int x = 31; x < kW - 31; ++x) {
            const int phase = (x - 31) % (2 * amplitude);
            c.set(x, y0 + (phase < amplitude ? phase : 2 * amplitude - phase));
        }
}

TEST(KneeSearch, TooManyKneePointsOverflow) {
    Canvas dense;
    zigzags(dense, 4, 6);
    int32_t count = -1;
    EXPECT_EQ(vwn_GetKneePoint(dense.skeleton.data(), dense.mask.data(), &dense.ws, dense.copy.data(), kW, kH, nullptr,
                               nullptr, 0, 0, &count),
              kKneeOverflow);

    Canvas sparser;
    zigzags(sparser, 4, 7);
    const int32_t kept = static_cast<int32_t>(sparser.kept(sparser.find()).size());
    EXPECT_GT(kept, 250);
    EXPECT_LT(kept, kKneeListCapacity);
}

FeatureSet kneeSet(std::initializer_list<uint32_t> angles) {
    static FeatureSet set;
    set = FeatureSet{};
    set.minutiaCount = 2;
    set.points[0].angle = 180;  // minutiae are not counted
    set.points[1].angle = 180;
    for (uint32_t a : angles) set.points[set.minutiaCount + set.kneeCount++].angle = a;
    set.valleyKneeCount = 3;  // valley knee points are not counted either
    for (uint32_t v = 0; v < 3; ++v) set.points[set.minutiaCount + set.kneeCount + v].angle = 90;
    return set;
}

TEST(KneeOrientClass, ClassBoundariesAndTies) {
    FeatureSet s = kneeSet({});
    EXPECT_EQ(CalKneePtMaxOrient(&s), 0);
    s = kneeSet({135, 46});
    EXPECT_EQ(CalKneePtMaxOrient(&s), 1);
    s = kneeSet({136, 225});
    EXPECT_EQ(CalKneePtMaxOrient(&s), 0);
    s = kneeSet({45, 0, 316, 359});
    EXPECT_EQ(CalKneePtMaxOrient(&s), 2);
    s = kneeSet({226, 315});
    EXPECT_EQ(CalKneePtMaxOrient(&s), 3);
    s = kneeSet({226, 0});  // tie between 2 and 3: the lower class
    EXPECT_EQ(CalKneePtMaxOrient(&s), 2);
    s = kneeSet({90, 180});
    EXPECT_EQ(CalKneePtMaxOrient(&s), 0);
}

}  // namespace
