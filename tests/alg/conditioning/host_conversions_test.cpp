#include "conditioning/host_conversions.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

TEST(HostConversions, ShiftKeepsTheLowByte) {
    std::vector<uint16_t> raw = {0x0FFF, 0x1234, 16, 0xABCD};
    std::vector<uint8_t> out(4);
    EXPECT_EQ(Data16to8(raw.data(), out.data(), 4, 12), 1);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0x23, 1, 0xBC}));
    Data16to8(raw.data(), out.data(), 4, 16);
    EXPECT_EQ(out[3], 0xAB);
}

TEST(HostConversions, FixedRangeMapsBetweenTheClipLevels) {
    Quorvane_Init(1);  // clip levels 50 and 4000
    std::vector<uint16_t> raw = {10, 100, 2000, 3900, 4050};
    std::vector<uint8_t> out(5);
    EXPECT_EQ(Data16Normalto8(raw.data(), out.data(), 5, 0), 1);
    // lo = 100 (smallest above 50), hi = 3900 (largest below 4000).
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 1900 * 255 / 3800, 255, 255}));

    // Nothing between the clip levels: the range falls back to 4095.
    raw = {10, 4050};
    Data16Normalto8(raw.data(), out.data(), 2, 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
}

TEST(HostConversions, ThresholdScaleAndDegenerateBounds) {
    std::vector<uint16_t> raw = {50, 100, 612, 1124, 2000};
    std::vector<uint8_t> out(5);
    EXPECT_EQ(Threshold16to8(raw.data(), out.data(), 5, 100, 1124), 1);
    // S = (512 + 2550000) / 1024 = 2490; 612 gives (512 x 2490 + 50) / 10000.
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 127, 255, 255}));

    raw = {499, 500, 501};
    Threshold16to8(raw.data(), out.data(), 3, 500, 500);  // lo becomes 499
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 255);
    raw = {0, 1};
    Threshold16to8(raw.data(), out.data(), 2, 0, 0);  // hi becomes 1
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 255);
    // Extreme bounds a host might pass do not overflow: the span of 2^32 - 1
    // gives a scale of 0.
    raw = {0, 65535};
    out = {9, 9};
    Threshold16to8(raw.data(), out.data(), 2, INT32_MIN, INT32_MAX);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
}

TEST(HostConversions, HistogramAndMean) {
    std::vector<uint16_t> raw = {0, 1, 1, 3, 7};
    int32_t hist[4] = {9, 9, 9, 9};
    EXPECT_EQ(Histogram16(nullptr, 5, hist, 4), 0);
    EXPECT_EQ(Histogram16(raw.data(), 5, nullptr, 4), 0);
    EXPECT_EQ(Histogram16(raw.data(), 5, hist, 4), 1);
    EXPECT_EQ(hist[0], 1);
    EXPECT_EQ(hist[1], 2);
    EXPECT_EQ(hist[2], 0);
    EXPECT_EQ(hist[3], 1);  // 7 lies beyond the bins and is not counted

    double mean = -1;
    EXPECT_EQ(Avg16(nullptr, 5, &mean), 0);
    EXPECT_EQ(Avg16(raw.data(), 0, &mean), 0);
    EXPECT_EQ(mean, -1);
    EXPECT_EQ(Avg16(raw.data(), 5, &mean), 1);
    EXPECT_DOUBLE_EQ(mean, 12.0 / 5);
}

}  // namespace
