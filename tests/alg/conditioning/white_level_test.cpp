#include "conditioning/white_level.h"

#include <gtest/gtest.h>

#include <vector>

#include "QVAlgDll.h"

namespace {

class WhiteLevel : public ::testing::Test {
  protected:
    void SetUp() override { Quorvane_Init(5); }
    void TearDown() override { Quorvane_Init(5); }
};

TEST_F(WhiteLevel, UniformFrames) {
    std::vector<uint16_t> frame(20 * 16, 3000);
    // Mean 3000 lowered to 2700; the smallest value above it is 3000.
    EXPECT_EQ(Quorvane_GetMaskThresholdByBack16(frame.data(), 20, 16), 2880);
    EXPECT_EQ(IMG_DATA_WHITE, 2880);
    // No value above 2048: the mean is 0 and the smallest value above it is 1000.
    std::fill(frame.begin(), frame.end(), 1000);
    EXPECT_EQ(Quorvane_GetMaskThresholdByBack16(frame.data(), 20, 16), 880);
    EXPECT_EQ(IMG_DATA_WHITE, 880);
}

TEST_F(WhiteLevel, MedianOfTheSevenBySevenWindow) {
    // 49 distinct values: the median is place 24 of the descending order.
    std::vector<uint16_t> frame(49), out(49, 1);
    for (int i = 0; i < 49; ++i) frame[i] = static_cast<uint16_t>(10 * ((i * 17) % 49));
    MedianFilter16(frame.data(), out.data(), 7, 7);
    EXPECT_EQ(out[3 * 7 + 3], 240);
    EXPECT_EQ(out[0], frame[0]);  // outside the inner area: copied
    EXPECT_EQ(out[48], frame[48]);
}

TEST_F(WhiteLevel, IsolatedSpikesDoNotMoveTheLevel) {
    std::vector<uint16_t> frame(24 * 24, 3000);
    frame[10 * 24 + 10] = 4000;
    frame[12 * 24 + 15] = 2200;  // a dark spot alone would become the smallest value above 2700... if not filtered
    frame[5 * 24 + 5] = 2800;
    EXPECT_EQ(Quorvane_GetMaskThresholdByBack16(frame.data(), 24, 24), 2880);

    // Only the inner area counts: a dim rim is ignored.
    for (int x = 0; x < 24; ++x) frame[x] = 2750;
    EXPECT_EQ(Quorvane_GetMaskThresholdByBack16(frame.data(), 24, 24), 2880);
}

TEST_F(WhiteLevel, FramesBeyondTheWorkspaceKeepTheLevel) {
    std::vector<uint16_t> frame(600 * 500, 3000);
    EXPECT_EQ(Quorvane_GetMaskThresholdByBack16(frame.data(), 600, 500), 3018);
    EXPECT_EQ(IMG_DATA_WHITE, 3018);
    EXPECT_EQ(Quorvane_GetMaskThresholdByBack16(nullptr, 20, 20), 3018);
}

}  // namespace
