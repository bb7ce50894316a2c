// Configuration of the library for one of the six sensor types. The table holds
// only what differs per type; everything that follows from a rule (expanded
// size, centre, raw range and white levels, knee limits) is computed in Init.
#include "core/algdef.h"

#include <cstring>

namespace {

struct SensorType {
    int32_t width;
    int32_t height;
    int32_t top, bottom, left, right;  // finger-position edge limits
    int32_t topBottomSpan, leftRightSpan;
    bool kneeByArea;  // knee limits scale with the area relative to 112 x 88
};

constexpr SensorType kSensorTypes[6] = {
    {112, 88, 38, 38, 44, 44, 15, 18, false},  // 1
    {56, 180, 56, 66, 22, 38, 50, 10, false},  // 2
    {68, 118, 45, 46, 22, 44, 19, 12, true},   // 3: 16-bit raw data
    {64, 80, 36, 36, 32, 32, 15, 10, true},    // 4
    {96, 96, 40, 40, 40, 40, 16, 16, false},   // 5
    {42, 160, 56, 56, 22, 31, 50, 10, true},   // 6
};

constexpr int32_t kSixteenBitType = 3;
constexpr int32_t kReferenceArea = 112 * 88;
constexpr int32_t kWhiteLevel12Bit = 3018;

constexpr VersionCode kVersionCode = DeriveVersionCode(kAlgVersionString);

}  // namespace

// Values before the first Quorvane_Init: a 112 x 88, 12-bit configuration.
int32_t IMAGE_WIDTH_SRC = 112;
int32_t IMAGE_HEIGHT_SRC = 88;
int32_t IMAGE_WIDTH = 176;
int32_t IMAGE_HEIGHT = 152;
int32_t XCENTER = 56;
int32_t YCENTER = 44;
int32_t TOP_MIN_TRE = 38;
int32_t BOTTOM_MAX_TRE = 38;
int32_t LEFT_MIN_TRE = 44;
int32_t RIGHT_MAX_TRE = 44;
int32_t TB_MIN_TRE = 15;
int32_t LR_MIN_TRE = 18;
int32_t EATURE_RENEW_THRESHOLD = 50;
int32_t EATURE_RENEW_THRESHOLD2 = 30;
int32_t g_nKneeNumTre1 = 450;
int32_t g_nKneeNumTre2 = 360;
int32_t IMG_DATA_BITS0 = 12;
int32_t IMG_DATA_BITS = 12;
int32_t IMG_DATA_RANGE = 4096;
int32_t IMG_DATA_MAX = 4095;
int32_t IMG_DATA_WHITE = 3695;
int32_t IMG_DATA_WHITE2 = 1595;
int32_t DATA16_NORMAL_TO8_MAX = 4000;
int32_t DATA16_NORMAL_TO8_MIN = 50;
int32_t g_nCurPackage = 0;

int32_t QV_CURRENT_VER = 1;

// The version fields hold their values from the start, so a host that reads
// them before Init sees the same bytes; Init writes them again.
char g_cAlgVerNo[QV_VERSION_FIELD_SIZE] = "QVAlg_C_V01.05.17S10";
uint8_t g_cAlgVerNoKey[QV_VERSION_CODE_SIZE] = {kVersionCode.bytes[0], kVersionCode.bytes[1], kVersionCode.bytes[2],
                                                kVersionCode.bytes[3], kVersionCode.bytes[4]};

static_assert(sizeof(kAlgVersionString) <= QV_VERSION_FIELD_SIZE);

static void setVersionFields() {
    std::memset(g_cAlgVerNo, 0, sizeof g_cAlgVerNo);
    std::memcpy(g_cAlgVerNo, kAlgVersionString, sizeof kAlgVersionString - 1);
    const VersionCode code = DeriveVersionCode(g_cAlgVerNo);
    std::memcpy(g_cAlgVerNoKey, code.bytes, sizeof g_cAlgVerNoKey);
}

static void setBitDepth(int32_t sensorType) {
    const bool sixteenBit = sensorType == kSixteenBitType;
    IMG_DATA_BITS0 = sixteenBit ? 16 : 12;
    IMG_DATA_BITS = IMG_DATA_BITS0;
    IMG_DATA_RANGE = 1 << IMG_DATA_BITS;
    IMG_DATA_MAX = IMG_DATA_RANGE - 1;
    IMG_DATA_WHITE = sixteenBit ? IMG_DATA_RANGE - 3000 : kWhiteLevel12Bit;
    IMG_DATA_WHITE2 = sixteenBit ? IMG_DATA_RANGE - 18000 : IMG_DATA_RANGE - 2500;
    DATA16_NORMAL_TO8_MAX = sixteenBit ? 60000 : 4000;
    DATA16_NORMAL_TO8_MIN = sixteenBit ? 200 : 50;
}

static void setGeometry(const SensorType &t) {
    IMAGE_WIDTH_SRC = t.width;
    IMAGE_HEIGHT_SRC = t.height;
    IMAGE_WIDTH = t.width + 2 * kExpandBorder;
    IMAGE_HEIGHT = t.height + 2 * kExpandBorder;
    XCENTER = t.width >> 1;
    YCENTER = t.height >> 1;
    TOP_MIN_TRE = t.top;
    BOTTOM_MAX_TRE = t.bottom;
    LEFT_MIN_TRE = t.left;
    RIGHT_MAX_TRE = t.right;
    TB_MIN_TRE = t.topBottomSpan;
    LR_MIN_TRE = t.leftRightSpan;
    EATURE_RENEW_THRESHOLD = 70;
    EATURE_RENEW_THRESHOLD2 = 40;
    g_nKneeNumTre1 = t.kneeByArea ? t.width * t.height * 500 / kReferenceArea : 500;
    g_nKneeNumTre2 = g_nKneeNumTre1 * 4 / 5;
    g_nCurPackage = 0;
}

extern "C" int32_t Quorvane_Init(int32_t sensorType) {
    setVersionFields();
    setBitDepth(sensorType);
    if (sensorType >= 1 && sensorType <= 6) setGeometry(kSensorTypes[sensorType - 1]);
    return 0;
}
