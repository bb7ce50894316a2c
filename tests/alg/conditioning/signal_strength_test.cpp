#include "conditioning/signal_strength.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

TEST(SignalStrength, FlatAndTinyImagesGiveOne) {
    std::vector<uint8_t> flat(40 * 40, 77);
    EXPECT_EQ(Quorvane_SignalStrength(flat.data(), 40, 40), 1);
    std::vector<uint16_t> flat16(40 * 40, 3000);
    EXPECT_EQ(Quorvane_SignalStrength16(flat16.data(), 40, 40), 1);
    // Fewer than 100 inner pixels: no unit to divide by.
    std::vector<uint8_t> ramp(9 * 9);
    for (int i = 0; i < 81; ++i) ramp[i] = static_cast<uint8_t>(i * 3);
    EXPECT_EQ(Quorvane_SignalStrength(ramp.data(), 9, 9), 1);
    EXPECT_EQ(Quorvane_SignalStrength(ramp.data(), 2, 40), 1);
    EXPECT_EQ(Quorvane_SignalStrength(ramp.data(), -12, -12), 1);
}

TEST(SignalStrength, GradientTakesTheVerticalDifferenceOneColumnLeft) {
    // I(r, c) = r x c on 12 x 12: dx = 2r, dy = 2(c - 1) (it would be 2c at
    // the pixel's own column). Sum of dx + dy + max over the 10 x 10 inner
    // pixels is 3340, one unit of 100 pixels.
    std::vector<uint8_t> img(144);
    std::vector<uint16_t> img16(144);
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 12; ++c) {
            img[r * 12 + c] = static_cast<uint8_t>(r * c);
            img16[r * 12 + c] = static_cast<uint16_t>(r * c);
        }
    EXPECT_EQ(Quorvane_SignalStrength(img.data(), 12, 12), 3340);
    // Raw images divide each row's sum by 4 before adding the rows.
    EXPECT_EQ(Quorvane_SignalStrength16(img16.data(), 12, 12), 832);
}

}  // namespace
