// The learnt descriptor basis has the form the descriptor stage relies on:
// 24 orthonormal rows at scale 8192 and a mean within the ranges of known
// good bases, so that projections stay well inside -128..127.
#include <gtest/gtest.h>

#include <cstdint>

#include "QVAlgDll.h"

namespace {

constexpr int kLength = 722;
constexpr int kRows = 24;

int64_t dot(const int16_t *a, const int16_t *b) {
    int64_t sum = 0;
    for (int k = 0; k < kLength; ++k) sum += int64_t{a[k]} * b[k];
    return sum;
}

TEST(DescriptorBasis, RowsAreOrthonormalAtScale8192) {
    const int64_t unit = int64_t{8192} * 8192;
    for (int d = 0; d < kRows; ++d) {
        const int16_t *row = g_eigspace + d * kLength;
        const int64_t norm = dot(row, row);
        EXPECT_NEAR(static_cast<double>(norm), static_cast<double>(unit), unit * 0.01) << "row " << d;
        for (int e = d + 1; e < kRows; ++e) {
            const int64_t cross = dot(row, g_eigspace + e * kLength);
            EXPECT_LT(std::abs(static_cast<double>(cross)), unit * 0.01) << d << " x " << e;
        }
        for (int k = 0; k < kLength; ++k) {
            EXPECT_GE(row[k], -1300) << d << "," << k;
            EXPECT_LE(row[k], 1300) << d << "," << k;
        }
    }
}

TEST(DescriptorBasis, MeanVectorLiesInTheRangeOfNormalisedGradients) {
    int64_t squares = 0;
    for (int k = 0; k < kLength; ++k) {
        EXPECT_GE(g_meanvec[k], -192);
        EXPECT_LE(g_meanvec[k], 296);
        squares += int64_t{g_meanvec[k]} * g_meanvec[k];
    }
    // A mean of vectors of length about 512 is no longer than 512.
    EXPECT_LE(squares, 512 * 512);
    EXPECT_GT(squares, 0);
}

}  // namespace
