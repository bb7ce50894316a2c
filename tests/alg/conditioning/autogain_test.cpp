#include "conditioning/autogain.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"
#include "conditioning/gauss_smooth.h"

namespace {

// Gain word for g = (5, 3, 1, 0): total gain 8 x 6 x 2 x 1 = 96, later-stage
// gain 12.
constexpr int32_t kWord = 5 + 16 * 3 + 256 * 1;

TEST(AutoGainWords, PackAndUnpack) {
    int32_t g[4] = {9, 9, 9, 9};
    mapGainDataToGain_16(0, g);
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(g[3], 0);
    EXPECT_EQ(g_ZenYiValues[g[0]] * g_ZenYiValues[g[1]] * g_ZenYiValues2[g[2]] * g_ZenYiValues3[g[3]], 4);
    const int32_t packed[4] = {3, 5, 2, 7};
    EXPECT_EQ(mapGainToGainData_16(packed), 7763);
    EXPECT_EQ(mapGaintoGainData(packed), 7763);
    for (int32_t word = 0; word < 8192; ++word) {
        mapGainDataToGain(word, g);
        ASSERT_EQ(mapGaintoGainData(g), word);
    }
    // Bits above the gain fields are dropped, so the indices stay inside the tables.
    mapGainDataToGain(0xFFFFF, g);
    EXPECT_EQ(g[2], 3);
    EXPECT_EQ(g[3], 7);
}

TEST(AutoGainWords, TableSearchAndCumulativeHistogram) {
    EXPECT_EQ(findIndexByDayu(aGA_g_StaticRatios, 100, 0), 0);
    EXPECT_EQ(findIndexByDayu(aGA_g_StaticRatios, 100, 500), 36);  // 502
    EXPECT_EQ(findIndexByDayu_16(aGA_g_StaticRatios, 100, 1000), 99);
    const int16_t hist[4] = {1, 0, 2, 5};
    int16_t sum[4];
    getSumHist(hist, sum, 4);
    EXPECT_EQ(sum[3], 8);
    EXPECT_EQ(sum[1], 1);
}

TEST(AutoGainWords, SmoothingWeightsAndRim) {
    std::vector<uint8_t> img(9, 0), out(9);
    img[4] = 16;
    img[0] = 80;
    vwn_GaussSmooth(img.data(), out.data(), 3, 3);
    EXPECT_EQ(out[4], (4 * 16 + 80) / 16);
    EXPECT_EQ(out[0], 80);  // rim copied
    std::vector<uint16_t> img16(9, 1000), out16(9);
    vwn_GaussSmooth_16(img16.data(), out16.data(), 3, 3);
    EXPECT_EQ(out16[4], 1000);
}

// 96 x 96 image: top half at level a, bottom half at level b.
template <typename T>
std::vector<T> halves(T a, T b) {
    std::vector<T> img(96 * 96);
    for (int i = 0; i < 96 * 96; ++i) img[i] = i < 48 * 96 ? a : b;
    return img;
}

TEST(AutoGain, MeasuredRangeOnTargetKeepsTheSettings) {
    // Raw levels 1796 and 2300 become 449 and 575: the measured range
    // 448..576 is the target, so the offset and g0 stay.
    std::vector<uint16_t> raw = halves<uint16_t>(449 * 4, 575 * 4);
    int32_t in[3] = {kWord, 600, 0x5A5A}, out[3] = {0, 0, 0};
    EXPECT_EQ(Quorvane_AutoGain16(raw.data(), 96, 96, in, out), 1);
    EXPECT_EQ(out[0], kWord);
    EXPECT_EQ(out[1], 600);
    EXPECT_EQ(out[2], 0x5A5A);
    EXPECT_EQ(in[1], 600);
}

TEST(AutoGain, BlackClippingAndHistogramLimits) {
    // All black: the clipped share 1000 per mille caps the target low end at
    // 574, the offset rises by 1150000 / (12 x 500) = 191 to 791, and the
    // limits for a histogram piled at level 0 bring the desired gain from 96
    // to 76; g0 = 3 (gain 72) is closest, with offset 6 x 279 / 8 + 512.
    std::vector<uint16_t> raw(96 * 96, 0);
    int32_t in[3] = {kWord, 600, 7}, out[3];
    EXPECT_EQ(Quorvane_AutoGain16(raw.data(), 96, 96, in, out), 1);
    EXPECT_EQ(out[0], 3 + 16 * 3 + 256);
    EXPECT_EQ(out[1], 721);
    EXPECT_EQ(out[2], 7);
}

TEST(AutoGain, EightBitVariantUsesItsOwnTargetAndSearch) {
    // Levels 51 and 205 span 200..824 on the 10-bit scale, the 8-bit target.
    // The search keeps g0 = 5 with offset 8 x (88 - 560 / 96) / 8 + 512 = 595,
    // and the small lift (83 x 12 <= 2043) becomes 2044 / 12 + 522.
    std::vector<uint8_t> img = halves<uint8_t>(51, 205);
    int32_t in[3] = {kWord, 600, -3}, out[3];
    EXPECT_EQ(Quorvane_AutoGain(img.data(), 96, 96, in, out), 1);
    EXPECT_EQ(out[0], kWord);
    EXPECT_EQ(out[1], 692);
    EXPECT_EQ(out[2], -3);

    // All black: target 1016..1024, offset 600 + 340 = 940; the search picks
    // g0 = 5 at 935, then the saturated histogram backs g0 off to 10 / 3 = 3.
    std::vector<uint8_t> black(96 * 96, 0);
    EXPECT_EQ(Quorvane_AutoGain(black.data(), 96, 96, in, out), 1);
    EXPECT_EQ(out[0], 3 + 16 * 3 + 256);
    EXPECT_EQ(out[1], 935);
}

TEST(AutoGain, ImagesBeyondTheBuffersAreRefused) {
    std::vector<uint16_t> raw(200 * 200, 1000);
    std::vector<uint8_t> img(200 * 200, 100);
    int32_t in[3] = {kWord, 600, 1}, out[3] = {-1, -1, -1};
    EXPECT_EQ(Quorvane_AutoGain16(raw.data(), 200, 200, in, out), 0);
    EXPECT_EQ(Quorvane_AutoGain(img.data(), 200, 200, in, out), 0);
    EXPECT_EQ(Quorvane_AutoGain(img.data(), 4, 96, in, out), 0);  // no inner region
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(out[1], -1);
}

}  // namespace
