#include "extraction/contrast_normalisation.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

TEST(Normalize, GainIsTheIntegerQuotient) {
    std::vector<uint8_t> img(16 * 8, 0);
    for (size_t i = 0; i < img.size(); i += 2) img[i] = 255;
    std::vector<int16_t> out(img.size(), -1);
    ASSERT_EQ(Normalize(img.data(), out.data(), 16, 8), 1);
    EXPECT_EQ(out[0], 1020);  // 1023 / 255 = 4
    EXPECT_EQ(out[1], 0);

    // Range 100..110: gain 1023 / 10 = 102, so 110 maps to 1020.
    img.assign(img.size(), 100);
    img[5] = 110;
    img[6] = 105;
    ASSERT_EQ(Normalize(img.data(), out.data(), 16, 8), 1);
    EXPECT_EQ(out[5], 1020);
    EXPECT_EQ(out[6], 510);
}

TEST(Normalize, FlatImageClearsTheOutput) {
    std::vector<uint8_t> img(64, 77);
    std::vector<int16_t> out(64, 5);
    EXPECT_EQ(Normalize(img.data(), out.data(), 8, 8), 0);
    for (int16_t v : out) EXPECT_EQ(v, 0);
}

TEST(ContrastEnhance, RanksFingerPixelsAndBlanksBackground) {
    constexpr int w = 20, h = 20;
    std::vector<uint8_t> a(w * h), b(w * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) a[y * w + x] = static_cast<uint8_t>(10 * x);
    // Finger: left half of the half mask (columns 0..9 of the image).
    std::vector<uint8_t> half((w / 2) * (h / 2), 255);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 4; ++x) half[y * (w / 2) + x] = 0;
    ASSERT_EQ(ContrastEnhance(a.data(), b.data(), half.data(), w, h), 1);

    // B <= A everywhere, so N = 0 and b = a - b = a on the finger.
    EXPECT_EQ(b[5 * w + 3], 30);
    EXPECT_EQ(b[5 * w + 15], 255);
    EXPECT_EQ(a[5 * w + 15], 255);
    // Column 0: no finger neighbour is darker.
    EXPECT_EQ(a[10 * w + 0], 0);
    // Column 9, row 10: 9 x 5 finger neighbours, 9 x 4 darker.
    EXPECT_EQ(a[10 * w + 9], 36 * 255 / 45);
    // Column 4, row 10: 9 x 9 neighbours, 9 x 4 darker.
    EXPECT_EQ(a[10 * w + 4], 36 * 255 / 81);
}

TEST(ContrastEnhance, DifferenceIsScaledWhenBExceedsA) {
    constexpr int w = 4, h = 4;
    std::vector<uint8_t> a(w * h, 100), b(w * h, 100);
    b[0] = 150;  // N = 50
    a[1] = 120;  // P = 20
    std::vector<uint8_t> half(4, 0);
    ASSERT_EQ(ContrastEnhance(a.data(), b.data(), half.data(), w, h), 1);
    // (a + N - b) * 255 / (P + N): 0, 255 (clamped from 70 * 255 / 70), 182.
    // Ranked afterwards: b[0] is the only 0, so a[0] = 0; a[1] is the top.
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[1], 15 * 255 / 16);
    EXPECT_EQ(a[2], 1 * 255 / 16);
}

}  // namespace
