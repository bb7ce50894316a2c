// Templates of realistic captures: generated fingers and windows cut from real
// prints, for the three sensor geometries, through the raw formats and the
// conversion the service uses. Every capture gives a template with a plausible
// number of points, and the template decodes back to the extracted points.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "QVAlgDll.h"
#include "capture_format.h"
#include "capture_sets.h"
#include "core/template_codec.h"
#include "crop_window.h"
#include "extraction/template_pipeline.h"
#include "library_flow.h"
#include "pgm.h"

namespace {

constexpr uint16_t kProducts[] = {capture::kProduct12Bit, capture::kProductSplitRows, capture::kProductPlain};

// Creates the template and checks it against the feature set the pipeline
// left in the workspace (points shifted into the working frame).
void expectDecodableTemplate(const fpeval::Capture &capture, int &minutiae, int &points) {
    fpeval::Template templ;
    ASSERT_EQ(fpeval::createTemplate(capture, templ, true), 1) << capture.name;
    const auto *set = reinterpret_cast<const FeatureSet *>(tempbuf + pipeline_layout::kFeatureSet);
    static FeatureSet decoded;
    static FeatureMask mask;
    const FeatureSlot slot{&decoded, &mask};
    ASSERT_EQ(DecodeTemplate(templ.data(), QV_TEMPLATE_SIZE, &slot), static_cast<int32_t>(set->minutiaCount));
    ASSERT_EQ(FeaturePointCount(decoded), FeaturePointCount(*set));
    for (uint32_t i = 0; i < FeaturePointCount(*set); ++i) {
        ASSERT_EQ(decoded.points[i].x, set->points[i].x + 32);
        ASSERT_EQ(decoded.points[i].y, set->points[i].y + 32);
        ASSERT_EQ(decoded.points[i].angle, set->points[i].angle);
    }
    minutiae += static_cast<int>(set->minutiaCount);
    points += static_cast<int>(FeaturePointCount(*set));
}

TEST(CaptureTemplates, GeneratedFingersOfEveryModel) {
    for (uint16_t product : kProducts) {
        std::vector<fpeval::Finger> fingers;
        fpeval::addSyntheticFingers(product, 3, 11, 0, 4, fingers);
        int minutiae = 0, points = 0, captures = 0;
        for (const auto &f : fingers)
            for (const auto &c : f.probe) {
                expectDecodableTemplate(c, minutiae, points);
                ++captures;
            }
        // A sensor window of a generated print holds a few minutiae and tens of knee points.
        EXPECT_GE(minutiae, captures) << std::hex << product;
        EXPECT_LE(minutiae, 30 * captures);
        EXPECT_GE(points, 10 * captures);
        EXPECT_LE(points, 180 * captures);
    }
}

TEST(CaptureTemplates, WindowsOfRealPrints) {
    const std::filesystem::path root(QV_SHARED_FINGERPRINTS);
    if (!std::filesystem::exists(root / "fvc2002_db1_b")) GTEST_SKIP() << "no shared fingerprint sets at " << root;
    for (const char *set : {"fvc2000_db1_b", "fvc2002_db1_b", "fvc2004_db1_b"}) {
        imageio::GrayImage print;
        ASSERT_TRUE(imageio::readPgm((root / set / "103_2.pgm").string(), print));
        for (uint16_t product : kProducts) {
            const capture::SensorFormat *f = capture::findSensorFormat(product);
            int minutiae = 0, points = 0, captures = 0;
            for (const auto &pose : fpcrop::randomWindows(print, f->width, f->height, 3, 5)) {
                const imageio::GrayImage crop = fpcrop::cropWindow(print, pose);
                fpeval::Capture c{set, product, fpeval::rawFromGray(product, crop.pixels, crop.width, crop.height, 9)};
                expectDecodableTemplate(c, minutiae, points);
                ++captures;
            }
            EXPECT_GE(points, 10 * captures) << set << " " << std::hex << product;
            EXPECT_LE(minutiae, 30 * captures);
        }
    }
}

}  // namespace
