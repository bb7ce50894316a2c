// Sensor-type configuration and version stamp of Quorvane_Init.
#include <gtest/gtest.h>

#include <cstring>

#include "QVAlgDll.h"
#include "core/algdef.h"

namespace {

struct Config {
    int32_t widthSrc, heightSrc, width, height, xCenter, yCenter;
    int32_t top, bottom, left, right, tb, lr;
    int32_t renew, renew2, knee1, knee2;
    int32_t bits, range, max, white, white2, normMax, normMin;
};

Config current() {
    return {IMAGE_WIDTH_SRC,
            IMAGE_HEIGHT_SRC,
            IMAGE_WIDTH,
            IMAGE_HEIGHT,
            XCENTER,
            YCENTER,
            TOP_MIN_TRE,
            BOTTOM_MAX_TRE,
            LEFT_MIN_TRE,
            RIGHT_MAX_TRE,
            TB_MIN_TRE,
            LR_MIN_TRE,
            EATURE_RENEW_THRESHOLD,
            EATURE_RENEW_THRESHOLD2,
            g_nKneeNumTre1,
            g_nKneeNumTre2,
            IMG_DATA_BITS,
            IMG_DATA_RANGE,
            IMG_DATA_MAX,
            IMG_DATA_WHITE,
            IMG_DATA_WHITE2,
            DATA16_NORMAL_TO8_MAX,
            DATA16_NORMAL_TO8_MIN};
}

bool operator==(const Config &a, const Config &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The published configuration table, column by column.
const Config kExpected[6] = {
    {112, 88, 176, 152, 56, 44, 38, 38, 44, 44, 15, 18, 70, 40, 500, 400, 12, 4096, 4095, 3018, 1596, 4000, 50},
    {56, 180, 120, 244, 28, 90, 56, 66, 22, 38, 50, 10, 70, 40, 500, 400, 12, 4096, 4095, 3018, 1596, 4000, 50},
    {68, 118, 132, 182, 34, 59, 45, 46, 22, 44, 19, 12, 70, 40, 407, 325, 16, 65536, 65535, 62536, 47536, 60000, 200},
    {64, 80, 128, 144, 32, 40, 36, 36, 32, 32, 15, 10, 70, 40, 259, 207, 12, 4096, 4095, 3018, 1596, 4000, 50},
    {96, 96, 160, 160, 48, 48, 40, 40, 40, 40, 16, 16, 70, 40, 500, 400, 12, 4096, 4095, 3018, 1596, 4000, 50},
    {42, 160, 106, 224, 21, 80, 56, 56, 22, 31, 50, 10, 70, 40, 340, 272, 12, 4096, 4095, 3018, 1596, 4000, 50},
};

// This test runs first in its executable, so it sees the library as loaded.
TEST(Configuration, A_ValuesBeforeTheFirstInit) {
    const Config before = {112, 88, 176, 152, 56, 44,   38,   38,   44,   44,   15, 18,
                           50,  30, 450, 360, 12, 4096, 4095, 3695, 1595, 4000, 50};
    EXPECT_TRUE(current() == before);
    EXPECT_EQ(IMG_DATA_BITS0, 12);
    EXPECT_EQ(g_nCurPackage, 0);
    EXPECT_EQ(QV_CURRENT_VER, 1);
    EXPECT_EQ(g_nMean12Bit, 3018);
}

TEST(Configuration, EverySensorTypeMatchesTheTable) {
    for (int type = 1; type <= 6; ++type) {
        g_nCurPackage = 9;
        EXPECT_EQ(Quorvane_Init(type), 0);
        EXPECT_TRUE(current() == kExpected[type - 1]) << "type " << type;
        EXPECT_EQ(IMG_DATA_BITS0, IMG_DATA_BITS);
        EXPECT_EQ(g_nCurPackage, 0);
        EXPECT_EQ(QV_CURRENT_VER, 1);
    }
}

TEST(Configuration, TypeOutsideRangeSetsOnlyVersionAndBitDepth) {
    Quorvane_Init(3);  // 16-bit, 68 x 118
    g_nCurPackage = 4;
    std::memset(g_cAlgVerNo, 0, sizeof g_cAlgVerNo);
    std::memset(g_cAlgVerNoKey, 0, sizeof g_cAlgVerNoKey);
    for (int type : {7, 0, -1}) {
        EXPECT_EQ(Quorvane_Init(type), 0);
        Config expected = kExpected[2];  // geometry, thresholds and knee limits of type 3 stay
        expected.bits = 12;
        expected.range = 4096;
        expected.max = 4095;
        expected.white = 3018;
        expected.white2 = 1596;
        expected.normMax = 4000;
        expected.normMin = 50;
        EXPECT_TRUE(current() == expected) << "type " << type;
        EXPECT_EQ(g_nCurPackage, 4);
        EXPECT_STREQ(g_cAlgVerNo, "QVAlg_C_V01.05.17S10");
        EXPECT_EQ(g_cAlgVerNoKey[4], 'S');
    }
    Quorvane_Init(1);
}

TEST(Version, FieldAndCode) {
    const uint8_t expectedCode[5] = {0x0A, 0x22, 0x14, 0x08, 'S'};  // 1, 5, 17, build 10
    for (int type : {1, 3, 5, 7}) {
        Quorvane_Init(type);
        EXPECT_EQ(std::memcmp(g_cAlgVerNoKey, expectedCode, 5), 0) << "type " << type;
    }
    char out[40];
    std::memset(out, 0x7f, sizeof out);
    EXPECT_EQ(Quorvane_GetAlgVersion(out), out);
    EXPECT_EQ(std::memcmp(out, "QVAlg_C_V01.05.17S10", 20), 0);
    for (int i = 20; i < 30; ++i) EXPECT_EQ(out[i], 0) << i;
    for (int i = 30; i < 40; ++i) EXPECT_EQ(out[i], 0x7f) << "wrote past 30 bytes at " << i;
}

TEST(Version, BuildNumberRules) {
    // Two build digits, one build digit, and no build field at all.
    char two[30] = "QVAlg_C_V02.03.04S25";
    char one[30] = "QVAlg_C_V02.03.04S7";
    char none[30] = "QVAlg_C_V02.03.04";
    const uint32_t base = (2u << 3) + (3u << 10) + (4u << 17);
    auto packed = [](const VersionCode &c) {
        return (uint32_t{c.bytes[0]} << 24) | (uint32_t{c.bytes[1]} << 16) | (uint32_t{c.bytes[2]} << 8) | c.bytes[3];
    };
    EXPECT_EQ(packed(DeriveVersionCode(two)), base + (25u << 24));
    EXPECT_EQ(packed(DeriveVersionCode(one)), base + (7u << 24));
    EXPECT_EQ(packed(DeriveVersionCode(none)), base);
    EXPECT_EQ(DeriveVersionCode(none).bytes[4], 0);
    EXPECT_EQ(DeriveVersionCode(two).bytes[4], 'S');
}

TEST(WhiteLevel, SegmentThresholdAcceptsOnlyItsRange) {
    Quorvane_Init(1);
    int16_t v = 2499;
    EXPECT_EQ(Quorvane_GetMaskSegmentThreshold(&v), 0);
    EXPECT_EQ(IMG_DATA_WHITE, 3018);
    v = 4096;
    EXPECT_EQ(Quorvane_GetMaskSegmentThreshold(&v), 0);
    EXPECT_EQ(IMG_DATA_WHITE, 3018);
    v = -3000;
    EXPECT_EQ(Quorvane_GetMaskSegmentThreshold(&v), 0);
    v = 2500;
    EXPECT_EQ(Quorvane_GetMaskSegmentThreshold(&v), 1);
    EXPECT_EQ(IMG_DATA_WHITE, 2500);
    v = 4095;
    EXPECT_EQ(Quorvane_GetMaskSegmentThreshold(&v), 1);
    EXPECT_EQ(IMG_DATA_WHITE, 4095);
    Quorvane_Init(1);
    EXPECT_EQ(IMG_DATA_WHITE, 3018);
}

TEST(FixedResultEntryPoints, ReturnTheirConstants) {
    EXPECT_EQ(Quorvane_CutRefImg16(nullptr, nullptr, 0, 0), 1);
    EXPECT_EQ(Quorvane_CutRefImg8(nullptr, nullptr, nullptr, 0, 0), 1);
    EXPECT_EQ(Quorvane_CutBlankImage(nullptr, nullptr, nullptr, nullptr, 0, 0), 1);
    EXPECT_EQ(Quorvane_CutBlankImage_EX(nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0), 1);
    EXPECT_EQ(Quorvane_CutBlankImage16(nullptr, nullptr, 0, 0), 1);
    EXPECT_EQ(Quorvane_Navi_CutBlankImage(nullptr, nullptr, nullptr, nullptr, 0, 0), 1);
    EXPECT_EQ(Quorvane_IsBlankImage(nullptr, 0, 0), 1);
    EXPECT_EQ(Quorvane_FingerNavigation(nullptr, 0, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(Quorvane_AgoCreateTemplate16(nullptr, 0, 0, nullptr, nullptr), 1);
    EXPECT_EQ(Quorvane_CreatePermanentTemplate16(nullptr, 0, 0, nullptr), 1);
    Quorvane_GetImage(nullptr, nullptr, nullptr, 0, 0);
}

}  // namespace
