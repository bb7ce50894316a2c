// Point directions and descriptors must turn with the finger: a capture turned
// by a quarter turn (an exact pixel permutation) gives the same points, their
// directions 90 degrees further and nearly the same descriptors. A direction
// or window convention that differs by 90 or 180 degrees anywhere between
// minutiae, knee points and descriptor sampling breaks matching of two
// touches of the same finger while each stage alone still looks sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "QVAlgDll.h"
#include "core/fixedmath.h"
#include "core/template_codec.h"
#include "matching/descriptor_match.h"

namespace {

constexpr int kSide = 96;
// Decoded points are in the working frame: the capture plus this border.
constexpr int kFrame = 32;
// Centre of the ring pattern, in capture pixels.
constexpr double kCentreX = 20.0;
constexpr double kCentreY = 14.0;

// Rings of period 9 around a centre near a corner, with two dislocations
// whose edges give ridge endings; dark ridges on a light background.
std::vector<uint8_t> ringCapture() {
    std::vector<uint8_t> image(kSide * kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const double dx = x - kCentreX, dy = y - kCentreY;
            double phase = std::sqrt(dx * dx + dy * dy) * 2 * M_PI / 9.0;
            if (x > 60 && y > 40 && y < 60) phase += M_PI;
            image[y * kSide + x] = static_cast<uint8_t>(128 + 90 * std::cos(phase));
        }
    return image;
}

// Turned clockwise on screen (y down): pixel (x, y) moves to (95 - y, x), so
// every direction grows by 90 degrees.
std::vector<uint8_t> quarterTurn(const std::vector<uint8_t> &image) {
    std::vector<uint8_t> turned(image.size());
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) turned[x * kSide + (kSide - 1 - y)] = image[y * kSide + x];
    return turned;
}

struct Extracted {
    FeatureSet set;
    FeatureMask mask;
};

bool extract(std::vector<uint8_t> image, Extracted &out) {
    static uint8_t templ[QV_TEMPLATE_SIZE];
    int32_t info[QV_INFO_WORDS] = {};
    if (Quorvane_CreateTemplate(image.data(), kSide, kSide, templ, info) != 1) return false;
    const FeatureSlot slot{&out.set, &out.mask};
    return DecodeTemplate(templ, QV_TEMPLATE_SIZE, &slot) >= 0;
}

uint32_t pointCount(const FeatureSet &s) { return s.minutiaCount + s.kneeCount + s.valleyKneeCount; }
bool isMinutia(const FeatureSet &s, uint32_t i) { return i < s.minutiaCount; }

// Difference of two directions folded into 0..180.
int directionGap(int a, int b) {
    const int d = ((a - b) % 360 + 360) % 360;
    return d > 180 ? 360 - d : d;
}

class FeatureRotation : public ::testing::Test {
  protected:
    void SetUp() override {
        Quorvane_Init(5);  // 96 x 96
        QV_CURRENT_VER = 1;
        ASSERT_TRUE(extract(ringCapture(), original));
        ASSERT_TRUE(extract(quarterTurn(ringCapture()), turned));
    }

    // Index of the original point of the same class that lies where turned
    // point t came from (within 1 pixel), or -1.
    int partnerOf(uint32_t t) const {
        const Minutia &p = turned.set.points[t];
        const int x = static_cast<int>(p.y) - kFrame;
        const int y = kSide - 1 - (static_cast<int>(p.x) - kFrame);
        for (uint32_t i = 0; i < pointCount(original.set); ++i) {
            const Minutia &q = original.set.points[i];
            if (isMinutia(original.set, i) != isMinutia(turned.set, t)) continue;
            const int dx = static_cast<int>(q.x) - kFrame - x, dy = static_cast<int>(q.y) - kFrame - y;
            if (dx * dx + dy * dy <= 2) return static_cast<int>(i);
        }
        return -1;
    }

    static Extracted original, turned;
};

Extracted FeatureRotation::original;
Extracted FeatureRotation::turned;

TEST_F(FeatureRotation, PointsAndDirectionsTurnWithTheCapture) {
    ASSERT_GT(original.set.kneeCount, 10u);
    ASSERT_GT(turned.set.minutiaCount, 0u);
    int paired = 0, turnedBy90 = 0, pairedMinutiae = 0;
    for (uint32_t t = 0; t < pointCount(turned.set); ++t) {
        const int i = partnerOf(t);
        if (i < 0) continue;
        ++paired;
        if (isMinutia(turned.set, t)) ++pairedMinutiae;
        const int expected = static_cast<int>(original.set.points[i].angle) + 90;
        if (directionGap(static_cast<int>(turned.set.points[t].angle), expected) <= 15) ++turnedBy90;
    }
    // Thinning and knee suppression are not exactly symmetric under a turn, so
    // only part of the points come back at the same pixel.
    EXPECT_GE(paired * 4, static_cast<int>(pointCount(turned.set))) << "points come back";
    EXPECT_GT(pairedMinutiae, 0);
    EXPECT_GE(turnedBy90 * 10, paired * 9) << "directions turn by 90, not 0, 180 or 270";
}

TEST_F(FeatureRotation, KneeDirectionsPointIntoTheBend) {
    // On rings the inside of every bend faces the ring centre.
    int knees = 0, inward = 0;
    for (uint32_t i = original.set.minutiaCount; i < pointCount(original.set); ++i) {
        const Minutia &p = original.set.points[i];
        const int x = static_cast<int>(p.x) - kFrame, y = static_cast<int>(p.y) - kFrame;
        const int towardsCentre =
            GetAngle(x, y, static_cast<int32_t>(std::lround(kCentreX)), static_cast<int32_t>(std::lround(kCentreY)));
        ++knees;
        if (directionGap(static_cast<int>(p.angle), towardsCentre) <= 30) ++inward;
    }
    ASSERT_GT(knees, 10);
    EXPECT_GE(inward * 10, knees * 9);
}

TEST_F(FeatureRotation, DescriptorsOfTheSamePointStayClose) {
    // The window turns with the point, so a point's own descriptor is far
    // closer than those of the other points of its class on average (the
    // rings look alike everywhere, so single other points can come close).
    int paired = 0, withinReach = 0;
    int64_t ownSum = 0, otherSum = 0, others = 0;
    for (uint32_t t = 0; t < pointCount(turned.set); ++t) {
        const int i = partnerOf(t);
        if (i < 0) continue;
        ++paired;
        const Minutia &probe = turned.set.points[t];
        const int own = Distance(probe, original.set.points[i]);
        ownSum += own;
        if (own < 625) ++withinReach;
        for (uint32_t k = 0; k < pointCount(original.set); ++k)
            if (static_cast<int>(k) != i && isMinutia(original.set, k) == isMinutia(turned.set, t)) {
                otherSum += Distance(probe, original.set.points[k]);
                ++others;
            }
    }
    ASSERT_GT(paired, 10);
    ASSERT_GT(others, 0);
    EXPECT_GE(withinReach * 10, paired * 8);
    EXPECT_LT(ownSum * 2 * others, otherSum * paired) << "own distance under half of the others";
}

}  // namespace
