// Minutiae extraction on hand-drawn skeletons: detection and its limits, the
// false-minutia rules with their distances, directions, per-point flags, the
// knee points that follow the minutiae, and the walking primitives.
#include "extraction/minutiae.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "conditioning/edge_ops.h"
#include "extraction/skeleton_repair.h"
#include "extraction/thinning.h"

namespace {

constexpr int kW = 160;
constexpr int kH = 160;
constexpr int kSrcW = kW - 64;
constexpr int kSrcH = kH - 64;

struct Canvas {
    std::vector<uint8_t> ridge = std::vector<uint8_t>(kW * kH, 255);
    std::vector<uint8_t> valley = std::vector<uint8_t>(kW * kH, 255);
    std::vector<uint8_t> orient = std::vector<uint8_t>(kW * kH, 0);
    std::vector<uint8_t> mask = std::vector<uint8_t>(kW * kH, 0);
    std::vector<uint8_t> whiteSpots = std::vector<uint8_t>(kSrcW * kSrcH, 0);
    std::vector<uint32_t> workspace = std::vector<uint32_t>(kMinutiaeWorkspaceSize / 4, 0xdeadbeef);
    std::unique_ptr<FeatureSet> set = std::make_unique<FeatureSet>();

    void set1(int x, int y) { ridge[y * kW + x] = 0; }
    uint8_t *at(int x, int y) { return ridge.data() + y * kW + x; }
    void hline(int x0, int x1, int y) {
        for (int x = x0; x <= x1; ++x) set1(x, y);
    }
    void vline(int x, int y0, int y1) {
        for (int y = y0; y <= y1; ++y) set1(x, y);
    }
    // Diagonal from (x0, y0), n pixels, stepping by (dx, dy) = (+-1, +-1).
    void diag(int x0, int y0, int n, int dx, int dy) {
        for (int i = 0; i < n; ++i) set1(x0 + i * dx, y0 + i * dy);
    }

    int32_t run(int32_t w = kW, int32_t h = kH, int32_t size = kMinutiaeWorkspaceSize) {
        *set = FeatureSet{};
        set->dryWet = 17;
        return vwn_getMinutia5(ridge.data(), valley.data(), whiteSpots.data(), orient.data(), mask.data(), set.get(), w,
                               h, reinterpret_cast<uint8_t *>(workspace.data()), size);
    }

    const Minutia *find(int x, int y) const {
        for (uint32_t i = 0; i < set->minutiaCount; ++i)
            if (set->points[i].x == uint32_t(x) && set->points[i].y == uint32_t(y)) return &set->points[i];
        return nullptr;
    }
};

// Keeps QV_CURRENT_VER as it was.
struct VersionGuard {
    int32_t saved = QV_CURRENT_VER;
    ~VersionGuard() { QV_CURRENT_VER = saved; }
};

// Orientation map whose value changes by `step` degrees per column: smooth
// enough to pass the minutia test, too rough for a score above 220.
void rippleOrientation(Canvas &c, int step) {
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) c.orient[y * kW + x] = static_cast<uint8_t>((x * step) % 180);
}

TEST(MinutiaSmoothnessTest, ComparesCirclePointsThreeApartWithRawValues) {
    std::vector<uint8_t> orient(kW * kH, 0);
    EXPECT_EQ(MinutiaSmoothness(orient.data(), 80, 80, kW), 0);
    // Circle points 0 (0,-5) and 3 (3,-4) at 60: pairs (25,0) and (3,6) differ.
    orient[80 * kW + 75] = 60;
    orient[83 * kW + 76] = 60;
    EXPECT_EQ(MinutiaSmoothness(orient.data(), 80, 80, kW), 120);
    // A point outside the finger (255) enters with its raw value: 180 - 255.
    orient[83 * kW + 76] = 0;
    orient[80 * kW + 75] = 255;
    EXPECT_EQ(MinutiaSmoothness(orient.data(), 80, 80, kW), -150);
}

TEST(MinutiaeLimits, WorkspaceAndGeometryChecks) {
    Canvas c;
    EXPECT_EQ(c.run(kW, kH, kMinutiaeWorkspaceSize - 1), kMinutiaeWorkspaceTooSmall);
    // Images whose removed-fork map would not fit the workspace.
    std::vector<uint8_t> big(300 * 120, 255);
    FeatureSet *s = c.set.get();
    auto *ws = reinterpret_cast<uint8_t *>(c.workspace.data());
    EXPECT_EQ(vwn_getMinutia5(big.data(), big.data(), big.data(), big.data(), big.data(), s, 300, 100, ws,
                              kMinutiaeWorkspaceSize),
              kMinutiaeWorkspaceTooSmall);
    EXPECT_EQ(vwn_getMinutia5(big.data(), big.data(), big.data(), big.data(), big.data(), s, 180, 180, ws,
                              kMinutiaeWorkspaceSize),
              kMinutiaeWorkspaceTooSmall);
    EXPECT_EQ(c.run(), 0);
    EXPECT_EQ(c.set->dryWet, 17u);
    EXPECT_EQ(FeaturePointCount(*c.set), 0u);
}

TEST(MinutiaeLimits, HundredCandidatesOfOneKindAreRefused) {
    Canvas endings;
    // 50 two-pixel segments: 100 endings.
    for (int i = 0; i < 50; ++i) endings.hline(40 + 8 * (i % 10), 41 + 8 * (i % 10), 40 + 6 * (i / 10));
    EXPECT_EQ(endings.run(), kTooManyEndings);
    Canvas fewer;
    for (int i = 0; i < 49; ++i) fewer.hline(40 + 8 * (i % 10), 41 + 8 * (i % 10), 40 + 6 * (i / 10));
    EXPECT_EQ(fewer.run(), 0);

    // Combs: a line with a two-pixel tooth below every third pixel; each
    // tooth root is a bifurcation, found before the tooth tips.
    Canvas forks;
    for (int row = 0; row < 4; ++row) {
        const int y = 40 + 8 * row;
        forks.hline(20, 140, y);
        for (int x = 38; x <= 121; x += 3) forks.vline(x, y + 1, y + 2);
    }
    EXPECT_EQ(forks.run(), kTooManyForks);
}

TEST(MinutiaeLimits, ThirtyEndingsLeaveNoRoomForBifurcations) {
    for (int segments : {15, 14}) {
        Canvas c;
        for (int i = 0; i < segments; ++i) c.hline(38 + 32 * (i % 3), 54 + 32 * (i % 3), 40 + 16 * (i / 3));
        // A bifurcation whose three branches leave the detection area.
        c.hline(10, 150, 121);
        c.vline(100, 122, 150);
        ASSERT_EQ(c.run(), 0);
        EXPECT_EQ(c.set->minutiaCount, segments == 15 ? 30u : 29u);
        EXPECT_EQ(c.find(100, 121) != nullptr, segments == 14);
    }
}

TEST(MinutiaeLimits, AllPointsTogetherStopAtOneHundredEighty) {
    Canvas c;
    // Zig-zag ridges with a knee point at every turn, ends outside the
    // detection area: only knee points.
    for (int y0 = 31; y0 + 5 <= kH - 31; y0 += 7)
        for (int x = 31; x < kW - 31; ++x) {
            const int phase = (x - 31) % 10;
            c.set1(x, y0 + (phase < 5 ? phase : 10 - phase));
        }
    ASSERT_EQ(c.run(), 0);
    EXPECT_EQ(c.set->minutiaCount, 0u);
    EXPECT_EQ(c.set->kneeCount, static_cast<uint32_t>(kMaxPoints));

    Canvas denser;  // the same with more turns overflows the knee list
    for (int y0 = 31; y0 + 4 <= kH - 31; y0 += 6)
        for (int x = 31; x < kW - 31; ++x) {
            const int phase = (x - 31) % 8;
            denser.set1(x, y0 + (phase < 4 ? phase : 8 - phase));
        }
    EXPECT_EQ(denser.run(), kKneeOverflow);
}

// Two collinear horizontal ridges with a gap between (70, 80) and (70 + gap, 80).
Canvas brokenRidge(int gap) {
    Canvas c;
    c.hline(10, 70, 80);
    c.hline(70 + gap, 150, 80);
    return c;
}

TEST(FalseEndings, BrokenRidgeLosesBothEndsUpToTwelvePixels) {
    for (int gap : {5, 10, 12, 13, 14}) {
        Canvas c = brokenRidge(gap);
        ASSERT_EQ(c.run(), 0);
        const bool kept = gap >= 13;
        EXPECT_EQ(c.find(70, 80) != nullptr, kept) << gap;
        EXPECT_EQ(c.find(70 + gap, 80) != nullptr, kept) << gap;
    }
}

TEST(FalseEndings, FacingEndingsStayWhenOneRidgeLeavesAtAnAngle) {
    Canvas c;
    c.hline(10, 70, 80);        // ending (70,80), ridge running left
    c.diag(80, 80, 60, 1, -1);  // ending (80,80), ridge running up and right
    ASSERT_EQ(c.run(), 0);
    EXPECT_NE(c.find(70, 80), nullptr);
    EXPECT_NE(c.find(80, 80), nullptr);
}

TEST(FalseEndings, EndingsFiveApartGoWhateverTheirDirections) {
    Canvas c;
    c.vline(80, 10, 80);   // ending (80,80), ridge running up
    c.hline(85, 150, 80);  // ending (85,80), ridge running right
    ASSERT_EQ(c.run(), 0);
    EXPECT_EQ(c.set->minutiaCount, 0u);

    Canvas apart;
    apart.vline(80, 10, 80);
    apart.hline(86, 150, 80);
    ASSERT_EQ(apart.run(), 0);
    EXPECT_NE(apart.find(80, 80), nullptr);
    EXPECT_NE(apart.find(86, 80), nullptr);
}

TEST(FalseEndings, SideBySideEndingsGoUnlessARidgeRunsBetween) {
    Canvas open;
    open.hline(10, 80, 80);
    open.hline(10, 80, 88);
    ASSERT_EQ(open.run(), 0);
    EXPECT_EQ(open.set->minutiaCount, 0u);

    Canvas between;
    between.hline(10, 80, 80);
    between.hline(10, 80, 88);
    between.hline(10, 150, 84);
    ASSERT_EQ(between.run(), 0);
    EXPECT_NE(between.find(80, 80), nullptr);
    EXPECT_NE(between.find(80, 88), nullptr);
}

TEST(FalseEndings, FarSideBySideEndingsGoOnlyNearTheEdge) {
    for (bool nearEdge : {false, true}) {
        Canvas c;
        c.hline(10, 80, 76);
        c.hline(10, 80, 90);  // 14 apart
        if (nearEdge)
            for (int y = 0; y < kH; ++y)
                for (int x = 96; x < kW; ++x) c.mask[y * kW + x] = 255;  // 16 pixels right of both endings
        ASSERT_EQ(c.run(), 0);
        EXPECT_EQ(c.set->minutiaCount, nearEdge ? 0u : 2u);
    }
}

TEST(FalseEndings, EndingNextToABifurcationRemovesBoth) {
    for (int d : {5, 6}) {
        Canvas c;
        c.hline(10, 150, 80);
        c.vline(80, 10, 79);       // bifurcation (80,80): left, right, up
        c.vline(80, 80 + d, 150);  // ending (80, 80 + d), ridge running down
        ASSERT_EQ(c.run(), 0);
        EXPECT_EQ(c.find(80, 80) != nullptr, d == 6) << d;
        EXPECT_EQ(c.find(80, 80 + d) != nullptr, d == 6) << d;
    }
}

// Two ridges joined by a rung: the upper bifurcation (80,60) branches left,
// up-right and down-right into the rung at x = 81, which reaches the lower
// bifurcation (81, 61 + steps) after `steps` steps. Both are clean Y joints.
Canvas ladder(int steps) {
    Canvas c;
    c.hline(10, 80, 60);
    c.hline(81, 150, 59);
    c.vline(81, 61, 61 + steps);
    c.hline(10, 80, 62 + steps);
    c.hline(82, 150, 62 + steps);
    return c;
}

// A third bifurcation (96,59) on the upper ridge, 15 steps from (80,60).
void addFarFork(Canvas &c) {
    for (int x = 96; x <= 150; ++x) c.ridge[59 * kW + x] = 255;
    c.set1(96, 59);
    c.hline(97, 150, 60);
    c.vline(97, 10, 58);
}

TEST(FalseBifurcations, ShortRungRemovesBothEndsDependingOnLengthAndSmoothness) {
    struct Case {
        int steps;
        bool farFork;  // the upper bifurcation then finds two branches
        bool rough;
        bool removed;
    };
    for (const Case k : {Case{9, false, false, true}, Case{9, true, true, true}, Case{11, false, false, false},
                         Case{11, true, false, true}, Case{11, true, true, false}, Case{12, true, false, false}}) {
        Canvas c = ladder(k.steps);
        if (k.farFork) addFarFork(c);
        if (k.rough) {
            rippleOrientation(c, 3);
            const int32_t sum = MinutiaSmoothness(c.orient.data(), 80, 60, kW);
            ASSERT_GE(sum, 30);  // score 250 - sum at most 220
            ASSERT_LE(sum, 250);
        }
        ASSERT_EQ(c.run(), 0);
        const bool upperGone = c.find(80, 60) == nullptr;
        const bool lowerGone = c.find(81, 61 + k.steps) == nullptr;
        EXPECT_EQ(upperGone, k.removed) << k.steps << " far " << k.farFork << " rough " << k.rough;
        EXPECT_EQ(lowerGone, k.removed) << k.steps << " far " << k.farFork << " rough " << k.rough;
        if (k.farFork) {
            EXPECT_NE(c.find(96, 59), nullptr);
        }
    }
}

// A ridge that opens into a loop at (70,80) and closes at (74 + span, 80);
// both sides of the loop are 3 + span steps long.
Canvas loop(int span) {
    Canvas c;
    c.hline(10, 70, 80);
    for (int side : {-1, 1}) {
        c.set1(71, 80 + side);
        c.hline(72, 72 + span, 80 + 2 * side);
        c.set1(73 + span, 80 + side);
    }
    c.hline(74 + span, 150, 80);
    return c;
}

TEST(FalseBifurcations, SmallLoopRemovesItsBifurcations) {
    Canvas small = loop(4);  // 7 + 7 steps
    ASSERT_EQ(small.run(), 0);
    EXPECT_EQ(small.set->minutiaCount, 0u);

    Canvas large = loop(9);  // 12 + 12 steps
    ASSERT_EQ(large.run(), 0);
    EXPECT_NE(large.find(70, 80), nullptr);
    EXPECT_NE(large.find(83, 80), nullptr);
}

TEST(FalseBifurcations, CrowdedBifurcationsGo) {
    Canvas c;
    c.hline(10, 150, 80);
    c.vline(78, 10, 79);   // bifurcation (78,80), branch up
    c.vline(81, 81, 150);  // bifurcation (81,80), branch down: 3 apart
    ASSERT_EQ(c.run(), 0);
    EXPECT_EQ(c.set->minutiaCount, 0u);
}

TEST(MinutiaDirection, EndingsPointIntoTheirRidge) {
    Canvas c;
    c.hline(50, 110, 60);  // orientation 0 everywhere
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (x > 90 && y > 70) c.orient[y * kW + x] = 90;
    c.vline(100, 80, 120);
    c.hline(106, 120, 100);  // runs across its orientation: turns of exactly 90 and 270
    ASSERT_EQ(c.run(), 0);
    ASSERT_EQ(c.set->minutiaCount, 6u);
    EXPECT_EQ(c.find(106, 100)->angle, 90u);
    EXPECT_EQ(c.find(120, 100)->angle, 90u);
    EXPECT_EQ(c.find(50, 60)->angle, 0u);
    EXPECT_EQ(c.find(110, 60)->angle, 180u);
    EXPECT_EQ(c.find(100, 80)->angle, 90u);
    EXPECT_EQ(c.find(100, 120)->angle, 270u);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(c.set->points[i].type, kMinutiaKind1);
        EXPECT_EQ(c.set->points[i].hitCount, 1);
        EXPECT_EQ(c.set->points[i].mergeCount, 0);
    }
}

TEST(MinutiaDirection, BifurcationPointsBetweenItsTwoCloserBranches) {
    Canvas opensRight;
    opensRight.hline(10, 80, 80);
    opensRight.diag(81, 79, 70, 1, -1);
    opensRight.diag(81, 81, 70, 1, 1);
    const std::vector<uint8_t> before = opensRight.ridge;
    ASSERT_EQ(opensRight.run(), 0);
    ASSERT_NE(opensRight.find(80, 80), nullptr);
    EXPECT_EQ(opensRight.find(80, 80)->angle, 0u);
    EXPECT_EQ(opensRight.find(80, 80)->type, kMinutiaKind2);
    EXPECT_EQ(opensRight.ridge, before);  // the skeleton is left as it was

    Canvas opensLeft;
    opensLeft.hline(80, 150, 80);
    opensLeft.diag(79, 79, 70, -1, -1);
    opensLeft.diag(79, 81, 70, -1, 1);
    ASSERT_EQ(opensLeft.run(), 0);
    ASSERT_NE(opensLeft.find(80, 80), nullptr);
    EXPECT_EQ(opensLeft.find(80, 80)->angle, 180u);
}

TEST(MinutiaDirection, EqualBranchDistancesPreferTheFirstTwoBranches) {
    // Walk ends: down-right branch (90,81), up branch (81,70), left branch
    // (70,79). The first two and the last two are equally close (202), so
    // the first two decide: towards (85,75), up and right, angle 0.
    Canvas c;
    c.set1(80, 80);
    c.set1(81, 81);
    c.hline(82, 150, 81);
    c.set1(81, 79);
    c.vline(81, 10, 78);
    c.hline(71, 79, 80);
    c.diag(70, 79, 60, -1, -1);
    ASSERT_EQ(c.run(), 0);
    ASSERT_NE(c.find(80, 80), nullptr);
    EXPECT_EQ(c.find(80, 80)->angle, 0u);
}

TEST(MinutiaFlags, WeakAndEdgeFlagsBelongToTheirPoint) {
    Canvas c;
    c.hline(50, 110, 60);
    c.whiteSpots[(60 - 32) * kSrcW + (50 - 32)] = 255;  // saturated under the left ending
    c.mask[60 * kW + 118] = 255;                        // background 8 pixels right of the right ending
    ASSERT_EQ(c.run(), 0);
    ASSERT_EQ(c.set->minutiaCount, 2u);
    EXPECT_EQ(c.find(50, 60)->weakFlag, 1);
    EXPECT_EQ(c.find(50, 60)->edgeFlag, 0);
    EXPECT_EQ(c.find(110, 60)->weakFlag, 0);
    EXPECT_EQ(c.find(110, 60)->edgeFlag, 1);
}

TEST(MinutiaFlags, RoughOrientationMakesAFalseCandidate) {
    Canvas c;
    c.hline(50, 110, 60);
    for (int y = 50; y <= 70; ++y)
        for (int x = 100; x <= 120; ++x) c.orient[y * kW + x] = ((x + y) % 2) * 90;
    ASSERT_EQ(c.run(), 0);
    EXPECT_EQ(g_nFalseMinutiaNum, 1);
    EXPECT_NE(c.find(50, 60), nullptr);
    EXPECT_EQ(c.find(110, 60), nullptr);
}

TEST(KneePointsInTheSet, RidgeAndValleyKneesFollowTheMinutiae) {
    VersionGuard guard;
    Canvas c;
    c.hline(45, 79, 70);  // a right-angle bend at (79,70)
    c.vline(80, 71, 105);
    for (int x = 40; x <= 64; ++x) c.valley[112 * kW + x] = 0;  // a bend at (64,112) in the valley
    for (int y = 113; y <= 122; ++y) c.valley[y * kW + 65] = 0;

    QV_CURRENT_VER = 1;
    ASSERT_EQ(c.run(), 0);
    EXPECT_EQ(c.set->minutiaCount, 2u);
    EXPECT_EQ(c.set->kneeCount, 1u);
    EXPECT_EQ(c.set->valleyKneeCount, 0u);
    const Minutia &knee = c.set->points[2];
    EXPECT_EQ(knee.x, 79u);
    EXPECT_EQ(knee.y, 70u);
    EXPECT_GT(knee.type, 80u);  // the knee angle
    EXPECT_LT(knee.type, 110u);
    EXPECT_EQ(knee.hitCount, 1);

    QV_CURRENT_VER = 3;
    ASSERT_EQ(c.run(), 0);
    EXPECT_EQ(c.set->kneeCount, 1u);
    ASSERT_EQ(c.set->valleyKneeCount, 1u);
    EXPECT_EQ(c.set->points[3].x, 64u);
    EXPECT_EQ(c.set->points[3].y, 112u);
}

TEST(KneePointsInTheSet, ValleyIsNotReadOnTheFirstVariant) {
    VersionGuard guard;
    QV_CURRENT_VER = 1;
    Canvas c;
    c.hline(45, 79, 70);
    c.vline(80, 71, 105);
    *c.set = FeatureSet{};
    ASSERT_EQ(vwn_getMinutia5(c.ridge.data(), nullptr, c.whiteSpots.data(), c.orient.data(), c.mask.data(), c.set.get(),
                              kW, kH, reinterpret_cast<uint8_t *>(c.workspace.data()), kMinutiaeWorkspaceSize),
              0);
    EXPECT_EQ(c.set->kneeCount, 1u);
}

TEST(SkeletonWalk, GetByDisStopsAtTheLimitAtLineEndsAndBeforeForks) {
    Canvas c;
    c.hline(50, 100, 60);
    uint8_t *end = nullptr;
    ASSERT_EQ(GetByDis(c.at(50, 60), &end, 8, kW), 0);
    EXPECT_EQ(end, c.at(59, 60));                       // the neighbour plus 8 steps
    ASSERT_EQ(GetByDis(c.at(95, 60), &end, 8, kW), 1);  // inside the line: two neighbours

    Canvas shortLine;
    shortLine.hline(50, 54, 60);
    ASSERT_EQ(GetByDis(shortLine.at(50, 60), &end, 8, kW), 0);
    EXPECT_EQ(end, shortLine.at(54, 60));

    Canvas fork;
    fork.hline(50, 55, 60);  // fork at (55,60), branches up-right and down-right
    fork.diag(56, 59, 20, 1, -1);
    fork.diag(56, 61, 20, 1, 1);
    ASSERT_EQ(GetByDis(fork.at(50, 60), &end, 8, kW), 0);
    EXPECT_EQ(end, fork.at(54, 60));
}

TEST(SkeletonWalk, ForkByDisCountsStepsToTheNextFork) {
    Canvas c = ladder(9);
    uint8_t *reached[3] = {};
    int32_t len[3] = {7, 7, 7};
    ASSERT_EQ(vwn_GetForkByDis(c.at(80, 60), reached, 20, kW, len), 1);
    EXPECT_EQ(reached[0], c.at(81, 70));
    EXPECT_EQ(len[0], 9);
    EXPECT_EQ(len[1], 0);
    EXPECT_EQ(vwn_GetForkByDis(c.at(80, 60), reached, 9, kW, len), 0);   // out of reach
    EXPECT_EQ(vwn_GetForkByDis(c.at(60, 60), reached, 20, kW, len), 0);  // not a bifurcation
}

// Horizontal ridges three pixels thick every nine rows of the finger area
// (rows and columns 32..127) run through thinning, mask growth and skeleton
// repair. One ridge has an 8-pixel break, one ends in the middle of the print.
TEST(SyntheticPrint, ThinnedRidgesGiveTheRealEndingAndNotTheBreak) {
    Canvas c;
    std::vector<uint8_t> &binary = c.ridge;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const bool finger = x >= 32 && x < kW - 32 && y >= 32 && y < kH - 32;
            c.mask[y * kW + x] = finger ? 0 : 255;
            const int band = (y - 35) / 9;  // ridge rows 35..37, 44..46, ...
            const bool onRidge = y >= 35 && (y - 35) % 9 < 3;
            const bool broken = band == 4 && x >= 76 && x < 84;  // rows 71..73
            const bool ended = band == 6 && x < 70;              // rows 89..91
            if (finger && onRidge && !broken && !ended) binary[y * kW + x] = 0;
        }
    std::vector<uint8_t> scratch(2 * kW * kH), sums(kW * kH);
    ASSERT_EQ(imageThin(binary.data(), scratch.data(), kW, kH), 0);
    ASSERT_EQ(vwn_ImageDilate3(c.mask.data(), scratch.data(), kW, kH, 7, 30, kH - 30, 30, kW - 30), 1);
    thinClear3(binary.data(), c.mask.data(), kW, kH, 4, 5);
    vwn_ThinModify(binary.data(), scratch.data(), sums.data(), kW, kH);

    ASSERT_EQ(c.run(), 0);
    const auto *ws = reinterpret_cast<const MinutiaeWorkspace *>(c.workspace.data());
    auto near = [](uint32_t px, uint32_t py, int x, int y) {
        return std::abs(int(px) - x) <= 2 && std::abs(int(py) - y) <= 2;
    };
    int breakCandidates = 0;
    for (int i = 0; i < kCandidateCapacity; ++i)
        if (near(ws->endings[i].x, ws->endings[i].y, 75, 72) || near(ws->endings[i].x, ws->endings[i].y, 84, 72))
            ++breakCandidates;
    EXPECT_EQ(breakCandidates, 2);  // both ends of the break were seen, then rejected
    ASSERT_EQ(c.set->minutiaCount, 1u);
    const Minutia &m = c.set->points[0];
    EXPECT_TRUE(near(m.x, m.y, 70, 90)) << m.x << "," << m.y;
    EXPECT_EQ(m.type, kMinutiaKind1);
    EXPECT_EQ(m.angle, 0u);  // the ridge runs on to the right
    EXPECT_EQ(c.set->kneeCount, 0u);
}

}  // namespace
