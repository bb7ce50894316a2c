// Descriptor sampling, coverage and the integer normalisation and projection.
#include "extraction/descriptors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/fixedmath.h"

namespace {

constexpr int kW = 96;
constexpr int kH = 96;

// A smooth image whose value tells where it was sampled: 4 * x + 3 * y.
std::vector<int16_t> rampImage() {
    std::vector<int16_t> image(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) image[y * kW + x] = static_cast<int16_t>(4 * x + 3 * y);
    return image;
}

Minutia pointAt(uint32_t x, uint32_t y, uint32_t angle) {
    Minutia m{};
    m.x = x;
    m.y = y;
    m.angle = angle;
    return m;
}

TEST(DescriptorWindow, UnrotatedSamplingFollowsTheImageAxes) {
    const auto image = rampImage();
    int16_t window[kWindowSamples];
    Minutia m = pointAt(40, 50, 270);  // rotation (630 - 270) mod 360 = 0
    MakeImgWindowInterpol(image.data(), kW, kH, &m, 0, window, 21, 21);
    for (int r = 0; r < 21; ++r)
        for (int c = 0; c < 21; ++c)
            ASSERT_EQ(window[r * 21 + c], image[(50 - 10 + r) * kW + (40 - 10 + c)]) << r << "," << c;
    EXPECT_EQ(m.coverage, 55u);
}

TEST(DescriptorWindow, MinutiaWindowTurnsWithItsDirection) {
    const auto image = rampImage();
    int16_t window[kWindowSamples];
    // A minutia pointing along +x: columns run along +y (angle + 90), rows along -x (angle + 180).
    Minutia m = pointAt(40, 50, 0);
    MakeImgWindowInterpol(image.data(), kW, kH, &m, (630 - 0) % 360, window, 21, 21);
    for (int r = 0; r < 21; ++r)
        for (int c = 0; c < 21; ++c)
            ASSERT_EQ(window[r * 21 + c], image[(50 - 10 + c) * kW + (40 + 10 - r)]) << r << "," << c;
    EXPECT_EQ(window[10 * 21 + 10], image[50 * kW + 40]);  // the centre sample lies on the point
}

TEST(DescriptorWindow, CoverageCountsClampedSamples) {
    const auto image = rampImage();
    int16_t window[kWindowSamples];
    Minutia corner = pointAt(0, 0, 270);
    MakeImgWindowInterpol(image.data(), kW, kH, &corner, 0, window, 21, 21);
    EXPECT_EQ(corner.coverage, 15u);  // 121 unclamped samples
    // Samples beyond the edge repeat the edge pixel.
    EXPECT_EQ(window[0], image[0]);
    EXPECT_EQ(window[20], image[10]);

    Minutia farCorner = pointAt(kW - 1, kH - 1, 270);
    MakeImgWindowInterpol(image.data(), kW, kH, &farCorner, 0, window, 21, 21);
    EXPECT_EQ(farCorner.coverage, (441u - 441u + 100u) >> 3);  // columns and rows 85..94 only
    EXPECT_EQ(window[20 * 21 + 20], image[kW * kH - 1]);

    Minutia inside = pointAt(10, 10, 270);  // samples 0..20 in both axes, all inside 0..W-2
    MakeImgWindowInterpol(image.data(), kW, kH, &inside, 0, window, 21, 21);
    EXPECT_EQ(inside.coverage, 55u);
}

TEST(DescriptorWindow, FractionalPositionsInterpolate) {
    const auto image = rampImage();
    int16_t window[kWindowSamples];
    Minutia m = pointAt(48, 48, 270);
    // 45 degrees: samples fall between pixels; a linear ramp is reproduced within
    // the truncation of the fixed-point arithmetic.
    MakeImgWindowInterpol(image.data(), kW, kH, &m, 45, window, 21, 21);
    const int c = 362, s = 362;
    for (int r = 0; r < 21; ++r) {
        for (int k = 0; k < 21; ++k) {
            const double u = 48 + ((-10 * c - 10 * s) + k * c + r * s) / 512.0;
            const double v = 48 + ((10 * s - 10 * c) - k * s + r * c) / 512.0;
            EXPECT_NEAR(window[r * 21 + k], 4 * u + 3 * v, 1.01) << r << "," << k;
        }
    }
}

TEST(GradientNormalisation, ScalesClipsAndRescales) {
    int16_t v[kGradientLength] = {};
    v[0] = 300;
    v[1] = 400;  // length 500
    ThreshNormGradientVector(v, kGradientLength);
    // 300 * 512 / 500 = 307 clips to 102, 409 clips to 102; then rescaled to length ~512.
    EXPECT_EQ(v[0], 102 * 5120 / SqrtByNewton(2 * 102 * 102 * 100));
    EXPECT_EQ(v[1], v[0]);
    for (int k = 2; k < kGradientLength; ++k) ASSERT_EQ(v[k], 0);

    // A spread-out vector is only scaled.
    int16_t spread[kGradientLength];
    for (int k = 0; k < kGradientLength; ++k) spread[k] = static_cast<int16_t>(k % 2 ? 10 : -10);
    ThreshNormGradientVector(spread, kGradientLength);
    const int q = SqrtByNewton(kGradientLength * 10 * 10);  // the sum of squares
    EXPECT_EQ(spread[0], -10 * 512 / q);
    EXPECT_EQ(spread[1], 10 * 512 / q);

    int16_t zero[kGradientLength] = {};
    ThreshNormGradientVector(zero, kGradientLength);
    for (int k = 0; k < kGradientLength; ++k) ASSERT_EQ(zero[k], 0);
}

TEST(Projection, ShiftsEachProductAndClampsTheResult) {
    int16_t matrix[2 * 4] = {8192, 0, 0, 0, 100, -100, 63, 65};
    int16_t vector[4] = {100, 7, 7, 1};
    int16_t out[2];
    MatMul(matrix, vector, out, 4, 2);
    EXPECT_EQ(out[0], (8192 * 100 >> 6) >> 11);  // 6
    // (700 >> 6) + (-700 >> 6) + (441 >> 6) + (65 >> 6) = 10 - 11 + 6 + 1 = 6, >> 11 = 0
    EXPECT_EQ(out[1], 0);
    int16_t big[4] = {30000, 30000, 30000, 30000};
    int16_t ones[4] = {8000, 8000, 8000, 8000};
    MatMul(ones, big, out, 4, 1);
    EXPECT_EQ(out[0], 127);
    int16_t negative[4] = {-8000, -8000, -8000, -8000};
    MatMul(negative, big, out, 4, 1);
    EXPECT_EQ(out[0], -128);
}

TEST(CreateDescriptors, FlatImageGivesTheProjectionOfMinusTheMean) {
    std::vector<int16_t> flat(kW * kH, 500);
    static FeatureSet set;
    std::memset(&set, 0, sizeof set);
    set.minutiaCount = 1;
    set.kneeCount = 1;
    set.points[0] = pointAt(30, 30, 45);
    set.points[1] = pointAt(60, 60, 200);
    set.points[2] = pointAt(1, 1, 0);  // past the counts: left alone
    set.points[2].descriptor[0] = 99;
    int16_t window[kWindowSamples];
    int16_t gradient[kGradientLength];
    CreateDescriptors(&set, flat.data(), kW, kH, window, gradient);

    int16_t minusMean[kGradientLength];
    for (int k = 0; k < kGradientLength; ++k) minusMean[k] = static_cast<int16_t>(-g_meanvec[k]);
    int16_t expected[kDescriptorLength];
    MatMul(g_eigspace, minusMean, expected, kGradientLength, kDescriptorLength);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(std::memcmp(set.points[i].descriptor, expected, sizeof expected), 0) << i;
        EXPECT_EQ(set.points[i].coverage, 55u);
    }
    EXPECT_EQ(set.points[2].descriptor[0], 99);
}

TEST(CreateDescriptors, ValuesStayInRangeOnAnyImage) {
    std::vector<int16_t> noisy(kW * kH);
    uint32_t state = 12345;
    for (auto &p : noisy) {
        state = state * 1103515245u + 12345u;
        p = static_cast<int16_t>((state >> 16) % 1024);
    }
    static FeatureSet set;
    std::memset(&set, 0, sizeof set);
    set.minutiaCount = 30;
    for (int i = 0; i < 30; ++i) set.points[i] = pointAt(static_cast<uint32_t>(i * 3), 95u - i * 3, i * 12u);
    int16_t window[kWindowSamples];
    int16_t gradient[kGradientLength];
    CreateDescriptors(&set, noisy.data(), kW, kH, window, gradient);
    for (int i = 0; i < 30; ++i) {
        EXPECT_LE(set.points[i].coverage, 55u);
        for (int d = 0; d < kDescriptorLength; ++d) {
            EXPECT_GE(set.points[i].descriptor[d], -128);
            EXPECT_LE(set.points[i].descriptor[d], 127);
        }
    }
}

}  // namespace
