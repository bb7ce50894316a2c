#include "core/disc.h"

#include <gtest/gtest.h>

#include "QVAlgDll.h"

namespace {

TEST(DiscTable, RadiusFiveHasTheExpectedShape) {
    ASSERT_TRUE(BuildDiscTable(5));
    int ones = 0;
    for (int i = 0; i < 121; ++i) ones += nImageFilter[i];
    EXPECT_EQ(ones, 81);                     // lattice points with dx^2 + dy^2 <= 25
    EXPECT_EQ(nImageFilter[0], 0);           // corner (-5, -5)
    EXPECT_EQ(nImageFilter[5], 1);           // (-5, 0)
    EXPECT_EQ(nImageFilter[60], 1);          // centre
    EXPECT_EQ(nImageFilter[1 * 11 + 1], 0);  // (dy -4, dx -4): 32 lies outside
    EXPECT_EQ(nImageFilter[1 * 11 + 2], 1);  // (dy -4, dx -3): 25 lies on the rim
    EXPECT_EQ(nImageFilter[1 * 11 + 3], 1);  // (dy -4, dx -2)
}

TEST(DiscTable, RefusesRadiiThatDoNotFit) {
    nImageFilter[0] = 77;
    EXPECT_FALSE(BuildDiscTable(9));
    EXPECT_FALSE(BuildDiscTable(-1));
    EXPECT_EQ(nImageFilter[0], 77);
    ASSERT_TRUE(BuildDiscTable(8));
    int ones = 0;
    for (int i = 0; i < 289; ++i) ones += nImageFilter[i];
    EXPECT_EQ(ones, 197);
}

}  // namespace
