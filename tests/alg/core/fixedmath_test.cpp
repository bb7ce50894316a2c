// Integer geometry helpers: the table rules and the edge cases where a
// one-off error would shift stored angles or distances.
#include "core/fixedmath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(FixedMathTables, FollowTheirRulesEverywhere) {
    const double pi = std::acos(-1.0);
    for (int i = 0; i <= 90; ++i) EXPECT_EQ(g_nSinTable[i], std::lround(512 * std::sin(i * pi / 180))) << "sin " << i;
    for (int i = 0; i <= 256; ++i) {
        EXPECT_EQ(g_nSqrt_Table[i], std::lround(256 * std::sqrt(1 + i / 256.0))) << "sqrt " << i;
        EXPECT_EQ(g_nAtan_Table[i], std::lround(std::atan(i / 256.0) * 180 / pi)) << "atan " << i;
    }
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j)
            EXPECT_EQ(g_DisTbl[i * 10 + j], static_cast<int>(std::floor(std::sqrt(i * i + j * j)))) << i << "," << j;
}

TEST(FixedMathTables, MatchQuotedEntries) {
    const int16_t sinHead[] = {0, 9, 18, 27, 36, 45, 54, 62, 71, 80};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(g_nSinTable[i], sinHead[i]);
    const int16_t sinTail[] = {511, 511, 512, 512, 512};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(g_nSinTable[86 + i], sinTail[i]);

    const int16_t sqrtHead[] = {256, 256, 257, 257, 258};
    const int16_t sqrtTail[] = {361, 361, 361, 362, 362};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(g_nSqrt_Table[i], sqrtHead[i]);
        EXPECT_EQ(g_nSqrt_Table[252 + i], sqrtTail[i]);
    }
    const uint8_t atanHead[] = {0, 0, 0, 1, 1, 1, 1, 2};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(g_nAtan_Table[i], atanHead[i]);
    EXPECT_EQ(g_nAtan_Table[255], 45);
    EXPECT_EQ(g_nAtan_Table[256], 45);

    const uint8_t row9[] = {9, 9, 9, 9, 9, 10, 10, 11, 12, 12};
    for (int j = 0; j < 10; ++j) EXPECT_EQ(g_DisTbl[90 + j], row9[j]);
}

TEST(SineCosine, QuadrantsAndTableEnds) {
    EXPECT_EQ(sin512(90), 512);
    EXPECT_EQ(sin512(270), -512);
    EXPECT_EQ(cos512(180), -512);
    EXPECT_EQ(cos512(360), 512);
    EXPECT_EQ(sin512(30), 256);
    EXPECT_EQ(sin512(0), 0);
    EXPECT_EQ(sin512(180), 0);
    EXPECT_EQ(sin512(360), 0);
    EXPECT_EQ(cos512(90), 0);
    EXPECT_EQ(cos512(270), 0);
    // sin(a) = cos(90 - a) across the whole circle, with the signs of each quadrant.
    for (int a = 0; a <= 360; ++a) {
        EXPECT_EQ(sin512(a), cos512((450 - a) % 360)) << a;
        EXPECT_EQ(sin512(a), -sin512((360 - a) % 360)) << a;
    }
}

TEST(SineCosine, OutOfRangeDirectionsFoldInsteadOfReadingPastTheTable) {
    EXPECT_EQ(sin512(-90), -512);
    EXPECT_EQ(sin512(450), 512);
    EXPECT_EQ(cos512(-180), -512);
    EXPECT_EQ(cos512(720), 512);
}

TEST(Atan256, AxesDiagonalsAndRounding) {
    EXPECT_EQ(atan_256(0, 0), 0);
    EXPECT_EQ(atan_256(0, 1), 0);
    EXPECT_EQ(atan_256(1, 0), 90);
    EXPECT_EQ(atan_256(0, -5), 180);
    EXPECT_EQ(atan_256(-5, 0), 270);
    EXPECT_EQ(atan_256(3, 3), 45);
    EXPECT_EQ(atan_256(3, -3), 135);
    EXPECT_EQ(atan_256(-3, -3), 225);
    EXPECT_EQ(atan_256(-3, 3), 315);
    EXPECT_EQ(atan_256(1, 256), 0);  // table entry 1 is 0
    // Steep vectors take 90 minus the flat angle.
    EXPECT_EQ(atan_256(256, 1), 90);
    EXPECT_EQ(atan_256(100, 50), 90 - g_nAtan_Table[128]);
    EXPECT_EQ(atan_256(50, 100), g_nAtan_Table[128]);
}

TEST(Atan256, AgreesWithRealArctangentWithinOneDegree) {
    const double pi = std::acos(-1.0);
    for (int s = -60; s <= 60; s += 3) {
        for (int c = -60; c <= 60; c += 7) {
            if (s == 0 && c == 0) continue;
            double ref = std::atan2(s, c) * 180 / pi;
            if (ref < 0) ref += 360;
            int got = atan_256(s, c);
            double diff = std::fabs(got - ref);
            if (diff > 180) diff = 360 - diff;
            EXPECT_LE(diff, 1.0) << s << "," << c;
            EXPECT_GE(got, 0);
            EXPECT_LE(got, 359);
        }
    }
}

TEST(Atan256, LargeComponentsAreScaledDown) {
    EXPECT_EQ(atan_256(1000000, 1000000), 45);
    EXPECT_EQ(atan_256(300000, 10), 90);
    EXPECT_EQ(atan_256(-10, 300000), 360);  // t = 0 below the axis is reported as 360 - 0
    EXPECT_EQ(atan_256(2000000, 1000000), 90 - g_nAtan_Table[128]);
    EXPECT_EQ(atan_256(INT32_MIN, 1), 270);
}

TEST(GetAngle, DirectionFromFirstToSecondPoint) {
    EXPECT_EQ(GetAngle(10, 10, 20, 10), 0);
    EXPECT_EQ(GetAngle(10, 10, 10, 20), 90);  // y grows downwards
    EXPECT_EQ(GetAngle(10, 10, 0, 10), 180);
    EXPECT_EQ(GetAngle(10, 10, 10, 0), 270);
}

TEST(Sqrt256, WorkedValues) {
    EXPECT_EQ(sqrt_256(0, 0), 0);
    EXPECT_EQ(sqrt_256(3, 4), 5);
    EXPECT_EQ(sqrt_256(4, 3), 5);
    EXPECT_EQ(sqrt_256(0, -7), 7);
    EXPECT_EQ(sqrt_256(-7, 0), 7);
    EXPECT_EQ(sqrt_256(5, 5), 7);  // 5 * 362 / 256 truncated
    EXPECT_EQ(sqrt_256(-5, 5), 7);
    // Never above the true length (rounded) and within the table's resolution below it.
    for (int a = -40; a <= 40; ++a) {
        for (int b = -40; b <= 40; ++b) {
            const double len = std::sqrt(a * a + b * b);
            const int got = sqrt_256(a, b);
            EXPECT_LE(got, len + 0.5) << a << "," << b;
            EXPECT_GE(got, len * 0.996 - 1) << a << "," << b;  // table rounding plus truncation
        }
    }
}

TEST(IntegerSquareRoot, NewtonVariants) {
    EXPECT_EQ(getSqrtByInt(-16), 4);
    EXPECT_EQ(getSqrtByInt(1), 1);
    EXPECT_EQ(getSqrtByInt(0), 0);
    EXPECT_EQ(getSqrtByInt(-1), 1);
    EXPECT_EQ(getSqrtByInt(INT32_MAX), 46340);
    for (int n = 2; n < 5000; ++n) {
        const int r = static_cast<int>(std::floor(std::sqrt(n)));
        const int got = getSqrtByInt(n);
        EXPECT_TRUE(got == r || got == r + 1) << n << " gave " << got;
    }
    EXPECT_EQ(SqrtByNewton(1), 1);
    EXPECT_EQ(SqrtByNewton(2), 1);
    EXPECT_EQ(SqrtByNewton(100), 10);
    EXPECT_EQ(SqrtByNewton(INT32_MAX), 46340);
    for (int n = 1; n < 5000; ++n) {
        const int r = static_cast<int>(std::floor(std::sqrt(n)));
        const int got = SqrtByNewton(n);
        EXPECT_TRUE(got == r || got == r + 1) << n << " gave " << got;
    }
    // Outside its domain it must not divide by zero.
    EXPECT_EQ(SqrtByNewton(0), 0);
    EXPECT_EQ(SqrtByNewton(-9), 0);
}

TEST(AngleDifferences, WrapAtTheirPeriods) {
    EXPECT_EQ(GetJiajiao(10, 170), 20);
    EXPECT_EQ(GetJiajiao(0, 90), 90);
    EXPECT_EQ(GetJiajiao(0, 91), 89);
    EXPECT_EQ(AngleAbs360(350, 10), 20);
    EXPECT_EQ(AngleAbs360(0, 180), 180);
    EXPECT_EQ(AngleAbs360(0, 181), 179);
    EXPECT_EQ(GetAngleDis(350, 10), 20);
    EXPECT_EQ(GetAngleDis(10, 350), 340);
    EXPECT_EQ(GetAngleDis(10, 10), 0);
    EXPECT_EQ(getOriChange(7, 2, 1), 5);
    EXPECT_EQ(getOriChange(7, 2, 0), -5);
    EXPECT_EQ(getOriChange(2, 7, 1), 5);
}

TEST(AngleMean360, RespectsTheWrap) {
    EXPECT_EQ(AngleMean360(10, 30), 20);
    EXPECT_EQ(AngleMean360(350, 10), 0);
    EXPECT_EQ(AngleMean360(10, 350), 0);
    EXPECT_EQ(AngleMean360(300, 20), 340);
    EXPECT_EQ(AngleMean360(340, 60), 20);
    EXPECT_EQ(AngleMean360(100, 300), 200);
    EXPECT_EQ(AngleMean360(271, 89), 0);  // (271 + 89 - 360) / 2
}

TEST(DDIndex, BinEdges) {
    EXPECT_EQ(DDIndex(179, 12), 0);
    EXPECT_EQ(DDIndex(8, 12), 1);
    EXPECT_EQ(DDIndex(7, 12), 0);
    EXPECT_EQ(DDIndex(172, 12), 11);
    EXPECT_EQ(DDIndex(90, 18), 9);
    EXPECT_EQ(DDIndex(4, 18), 0);
    EXPECT_EQ(DDIndex(5, 18), 1);
    EXPECT_EQ(DDIndex(174, 18), 17);
    EXPECT_EQ(DDIndex(175, 18), 0);
    EXPECT_EQ(DDIndex(5, 16), 0);
    EXPECT_EQ(DDIndex(6, 16), 1);
    EXPECT_EQ(DDIndex(173, 16), 15);
    EXPECT_EQ(DDIndex(10, 8), 0);
    EXPECT_EQ(DDIndex(11, 8), 1);
    EXPECT_EQ(DDIndex(168, 8), 7);
    EXPECT_EQ(DDIndex(50, 7), 1);
    // Every orientation lands in a valid bin, and bins never go backwards.
    for (int n : {8, 12, 16, 18}) {
        int previous = 0;
        for (int a = 0; a < 180; ++a) {
            const int bin = DDIndex(a, n);
            EXPECT_GE(bin, 0);
            EXPECT_LT(bin, n);
            if (bin != 0) {
                EXPECT_GE(bin, previous) << n << " " << a;
            }
            previous = bin;
        }
    }
}

TEST(PixelPosition, ColumnAndRowOfAPointer) {
    uint8_t image[20 * 7];
    EXPECT_EQ(PX(image + 47, image, 20), 7);
    EXPECT_EQ(PY(image + 47, image, 20), 2);
    EXPECT_EQ(PX(image, image, 20), 0);
    EXPECT_EQ(PY(image + 139, image, 20), 6);
    // A pointer before the base (as offsets into a border can be) gives signed results.
    EXPECT_EQ(PX(image + 2, image + 25, 20), -3);
    EXPECT_EQ(PY(image + 2, image + 25, 20), -1);
}

}  // namespace
