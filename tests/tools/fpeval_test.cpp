// The accuracy harness on a small generated data set: enrolment succeeds and
// genuine attempts score clearly above impostor attempts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "accuracy.h"
#include "capture_format.h"
#include "capture_sets.h"
#include "pgm.h"

namespace {

TEST(Fpeval, GeneratedFingersSeparateGenuineFromImpostorAttempts) {
    std::vector<fpeval::Finger> fingers;
    fpeval::addSyntheticFingers(capture::kProduct12Bit, 5, 1, 16, 6, fingers);
    const fpeval::Evaluation ev = fpeval::evaluate(fingers, fpeval::Options{});
    const fpeval::Summary s = fpeval::summarise(ev, {0, 1, 2, 3, 4});
    EXPECT_LE(s.enrolFailures, 1);
    ASSERT_GT(s.genuine, 0);
    ASSERT_GT(s.impostor, 0);
    EXPECT_EQ(s.falseMatches, 0);
    // The middle genuine score lies above every impostor score.
    EXPECT_GT(s.genuinePercentiles[3], s.impostorPercentiles[6]);
    EXPECT_LT(s.eer, 0.25);
}

TEST(Fpeval, SummaryCountsAtTheServiceThreshold) {
    fpeval::Evaluation ev;
    ev.fingers = {{true, 10}, {true, 12}, {false, 16}};
    ev.attempts = {{true, 0, 0, 0, 46},  {true, 0, 1, 0, 45}, {true, 1, 0, 1, 100},
                   {false, 0, 0, 1, 46}, {false, 1, 0, 0, 3}, {false, 1, 1, 0, 0}};
    const fpeval::Summary s = fpeval::summarise(ev, {0, 1, 2});
    EXPECT_EQ(s.enrolFailures, 1);
    EXPECT_DOUBLE_EQ(s.meanCapturesToEnrol, 11.0);
    EXPECT_EQ(s.falseNonMatches, 1);  // 45 is not above 45
    EXPECT_EQ(s.falseMatches, 1);
    EXPECT_EQ(s.zeroFmrThreshold, 46);
    EXPECT_NEAR(s.fnmrAtZeroFmr, 2.0 / 3, 1e-9);
}

// An impression fails the three-touch check only when none of its first
// three captures is accepted; the fourth and fifth do not rescue it, and an
// attempt outside the finger's captures is ignored rather than read past.
// The FNMR by impression groups the genuine attempts the same way.
TEST(Fpeval, ThreeTouchFailsAnImpressionOnlyWhenItsFirstThreeCapturesFail) {
    fpeval::Evaluation ev;
    ev.fingers = {{true, 10, 10}, {true, 10, 5}};
    ev.attempts = {{true, 0, 2, 0, 90},    // first impression: third touch accepted
                   {true, 0, 8, 0, 90},    // second impression: fourth touch only
                   {true, 1, 0, 1, 45},    // not above the threshold
                   {true, 1, 7, 1, 90},    // beyond the finger's five captures
                   {false, 1, 1, 0, 99}};  // impostor acceptances never count
    const fpeval::Summary s = fpeval::summarise(ev, {0, 1});
    EXPECT_EQ(s.threeTouchAttempts, 3);
    EXPECT_EQ(s.threeTouchFailures, 2);
    // By impression: one of the two first-impression attempts is rejected,
    // neither of the second's.
    EXPECT_EQ(s.fnmrByImpression, (std::vector<double>{0.5, 0.0}));
}

// A capture's simulated readout noise follows the capture, not the folder it
// was cut into: the same cut in two places gives the same raw bytes (figures
// measured in one folder reproduce in another), two captures differ, and
// another noise realisation gives the same capture other bytes.
TEST(Fpeval, ReadoutNoiseDependsOnTheCaptureNotOnWhereTheCutLies) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("fpeval_cut_" + std::to_string(getpid()));
    imageio::GrayImage image(96, 96);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) image.at(x, y) = static_cast<uint8_t>(100 + ((x + 2 * y) % 9) * 15);
    for (const char *cut : {"one", "elsewhere/two"}) {
        const fs::path finger = root / cut / "set_101";
        fs::create_directories(finger);
        ASSERT_TRUE(imageio::writePgm((finger / "e_00.pgm").string(), image));
        ASSERT_TRUE(imageio::writePgm((finger / "p_00.pgm").string(), image));
    }
    std::vector<fpeval::Finger> a, b, other;
    std::string error;
    ASSERT_TRUE(fpeval::loadCaptureFolder((root / "one").string(), a, error)) << error;
    ASSERT_TRUE(fpeval::loadCaptureFolder((root / "elsewhere/two").string(), b, error)) << error;
    ASSERT_TRUE(fpeval::loadCaptureFolder((root / "one").string(), other, error, 1)) << error;
    fs::remove_all(root);
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].probe[0].raw, b[0].probe[0].raw);
    EXPECT_EQ(a[0].enrol[0].raw, b[0].enrol[0].raw);
    EXPECT_NE(a[0].enrol[0].raw, a[0].probe[0].raw);
    EXPECT_NE(other[0].probe[0].raw, a[0].probe[0].raw);
}

}  // namespace
