// Template creation end to end on synthetic ridge images: failure codes, the
// info block, the coupling with the 16-to-8 enhancement, the dry/wet and
// quality measures, and that nothing is allocated.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "QVAlgDll.h"
#include "core/template_codec.h"
#include "extraction/template_pipeline.h"

// Counts heap allocations made while `g_countAllocations` is set.
namespace {
bool g_countAllocations = false;
int g_allocations = 0;
}  // namespace
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void *malloc(size_t n) {
    if (g_countAllocations) ++g_allocations;
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t size) {
    if (g_countAllocations) ++g_allocations;
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t n) {
    if (g_countAllocations) ++g_allocations;
    return __libc_realloc(p, n);
}

namespace {

// Whorl-like ridges of period about 9 pixels with a few phase jumps that
// create ridge endings, dark ridges on a light background.
std::vector<uint8_t> ridgeImage(int w, int h, double cx, double cy, int seed) {
    std::vector<uint8_t> image(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double dx = x - cx, dy = y - cy;
            double phase = std::sqrt(dx * dx + 0.6 * dy * dy) * 2 * M_PI / 9.0 + 0.3 * std::sin(0.05 * x + seed);
            if (x > w / 2 && y < h / 3) phase += M_PI;  // a dislocation: endings along its edges
            if (x < w / 3 && y > 2 * h / 3) phase += M_PI;
            const double v = 128 + 90 * std::cos(phase);
            image[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(v);
        }
    }
    return image;
}

// Raw 12-bit capture of the same pattern as the service hands it over: levels
// divided by 4, with a per-column offset of period 8.
std::vector<uint16_t> rawImage(int w, int h) {
    const auto gray = ridgeImage(w, h, w * 0.45, h * 0.55, 1);
    std::vector<uint16_t> raw(gray.size());
    for (size_t i = 0; i < gray.size(); ++i) {
        const int level12 = 200 + gray[i] * 10 + static_cast<int>(i % 8) * 7;
        raw[i] = static_cast<uint16_t>(level12 >> 2);
    }
    return raw;
}

struct Creation {
    int16_t result;
    int32_t info[QV_INFO_WORDS];
};

// The image is a copy: creation replaces it with the ridge-filtered image.
Creation create8(std::vector<uint8_t> &image, int w, int h, uint8_t *templ, int32_t flags = 0) {
    Creation c{};
    c.info[info_word::kFlags] = flags;
    c.result = Quorvane_CreateTemplate(image.data(), static_cast<int16_t>(w), static_cast<int16_t>(h), templ, c.info);
    return c;
}

class TemplateCreation : public ::testing::Test {
  protected:
    void SetUp() override {
        QV_CURRENT_VER = 1;
        g_bData16Bit = 0;
    }
    uint8_t templ[QV_TEMPLATE_SIZE];
};

TEST_F(TemplateCreation, EveryGeometryCreatesADecodableTemplateWithoutAllocating) {
    struct Geometry {
        int type, w, h;
    };
    for (const Geometry g : {Geometry{1, 112, 88}, Geometry{3, 68, 118}, Geometry{5, 96, 96}}) {
        Quorvane_Init(g.type);
        auto image = ridgeImage(g.w, g.h, g.w * 0.45, g.h * 0.55, g.type);
        g_allocations = 0;
        g_countAllocations = true;
        const Creation c = create8(image, g.w, g.h, templ);
        g_countAllocations = false;
        ASSERT_EQ(c.result, 1) << "type " << g.type;
        EXPECT_EQ(g_allocations, 0);
        EXPECT_GT(c.info[info_word::kPointCount], 0) << "type " << g.type;
        EXPECT_GT(c.info[info_word::kFingerArea], 0);
        EXPECT_GE(c.info[info_word::kQuality], 0);
        EXPECT_LE(c.info[info_word::kQuality], 100);
        EXPECT_GE(c.info[info_word::kKneeOrientation], 0);
        EXPECT_LE(c.info[info_word::kKneeOrientation], 3);

        // The template holds the points the pipeline left in its workspace,
        // moved into the working frame.
        const auto *set = reinterpret_cast<const FeatureSet *>(tempbuf + pipeline_layout::kFeatureSet);
        static FeatureSet decoded;
        static FeatureMask mask;
        const FeatureSlot slot{&decoded, &mask};
        ASSERT_EQ(DecodeTemplate(templ, QV_TEMPLATE_SIZE, &slot), static_cast<int32_t>(set->minutiaCount));
        ASSERT_EQ(FeaturePointCount(decoded), FeaturePointCount(*set));
        EXPECT_EQ(static_cast<int32_t>(FeaturePointCount(decoded)), c.info[info_word::kPointCount]);
        for (uint32_t i = 0; i < FeaturePointCount(*set); ++i) {
            EXPECT_EQ(decoded.points[i].x, set->points[i].x + 32) << i;
            EXPECT_EQ(decoded.points[i].y, set->points[i].y + 32) << i;
            EXPECT_EQ(decoded.points[i].angle, set->points[i].angle) << i;
        }
        EXPECT_EQ(mask.width, static_cast<uint32_t>(g.w / 4 + 16));
        EXPECT_EQ(mask.height, static_cast<uint32_t>(g.h / 4 + 16));
    }
}

TEST_F(TemplateCreation, RawCaptureGoesThroughTheSixteenBitPath) {
    Quorvane_Init(5);
    auto raw = rawImage(96, 96);
    uint8_t image[96 * 96];
    int32_t info[QV_INFO_WORDS] = {};
    g_allocations = 0;
    g_countAllocations = true;
    ASSERT_EQ(Quorvane_CreateTemplate16(raw.data(), image, 96, 96, templ, info), 1);
    g_countAllocations = false;
    EXPECT_EQ(g_allocations, 0);
    EXPECT_EQ(g_bData16Bit, 0);  // raw creation leaves the enhancement flag alone
    // The caller's 8-bit buffer holds the ridge-filtered image.
    for (uint8_t v : image) ASSERT_LE(v, 250);
}

TEST_F(TemplateCreation, WrongSizeIsRefusedBeforeTheTemplateIsWritten) {
    Quorvane_Init(5);
    auto narrow = ridgeImage(95, 96, 40, 50, 0);
    auto tall = ridgeImage(96, 97, 40, 50, 0);
    std::memset(templ, 0xAB, sizeof templ);
    EXPECT_EQ(create8(narrow, 95, 96, templ).result, kCreateWrongSize);
    EXPECT_EQ(create8(tall, 96, 97, templ).result, kCreateWrongSize);
    for (uint8_t b : templ) ASSERT_EQ(b, 0xAB);
}

TEST_F(TemplateCreation, UniformCaptureHasNoContrast) {
    Quorvane_Init(1);
    std::vector<uint8_t> flat(112 * 88, 140);
    EXPECT_EQ(create8(flat, 112, 88, templ).result, kCreateNoContrast);
}

TEST_F(TemplateCreation, SmallWorkspaceIsRefused) {
    Quorvane_Init(5);
    auto image = ridgeImage(96, 96, 40, 50, 0);
    int32_t info[QV_INFO_WORDS] = {};
    EXPECT_EQ(GetFeaFromImg(image.data(), 96, 96, templ, QV_TEMPLATE_SIZE, tempbuf, 239999, info, 0),
              kCreateWorkspaceTooSmall);
}

TEST_F(TemplateCreation, HigherThresholdsChangeNothingOnTheDefaultVariant) {
    Quorvane_Init(5);
    const auto image = ridgeImage(96, 96, 40, 50, 3);
    auto first = image, second = image;
    const Creation plain = create8(first, 96, 96, templ);
    const Creation strict = create8(second, 96, 96, templ, kFlagHighQualityThresholds);
    ASSERT_EQ(plain.result, 1);
    ASSERT_EQ(strict.result, 1);
    EXPECT_EQ(plain.info[info_word::kQuality], strict.info[info_word::kQuality]);
}

TEST_F(TemplateCreation, EnhancedImageKeepsItsMaskAndDropsTheStripeFlag) {
    Quorvane_Init(5);
    auto raw = rawImage(96, 96);
    std::vector<uint8_t> image(96 * 96);
    ASSERT_EQ(Quorvane_Enhance16to8(raw.data(), image.data(), 96, 96), 1);
    ASSERT_EQ(g_bData16Bit, 2);
    int32_t info[QV_INFO_WORDS] = {};
    info[info_word::kFlags] = kFlagRemoveHStripes | kFlagHighQualityThresholds;
    ASSERT_EQ(Quorvane_CreateTemplate(image.data(), 96, 96, templ, info), 1);
    EXPECT_EQ(info[info_word::kFlags], kFlagHighQualityThresholds);
    EXPECT_EQ(g_bData16Bit, 0);
}

TEST(QualityMeasures, KneeTypesWeighTheQuality) {
    static FeatureSet set;
    std::memset(&set, 0, sizeof set);
    set.minutiaCount = 5;
    set.kneeCount = 3;
    set.valleyKneeCount = 1;
    set.points[5].type = 150;  // +7
    set.points[6].type = 151;  // +6
    set.points[7].type = 160;  // +6
    set.points[8].type = 161;  // +4
    EXPECT_EQ(CalImgQuality(&set), (20 + 7 + 6 + 6 + 4) / 4);
    uint8_t mask[6] = {0, 255, 0, 1, 0, 255};
    EXPECT_EQ(CalFingerArea(mask, 3, 2), 3);
}

// 8 x 8 blocks of strong ridges, with chosen blocks of weak contrast.
std::vector<uint8_t> blockImage(std::initializer_list<int> weakBlocks) {
    std::vector<uint8_t> image(96 * 96);
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 96; ++x) {
            const int block = (y / 8) * 12 + x / 8;
            bool weak = false;
            for (int b : weakBlocks) weak = weak || b == block;
            const bool ridge = x % 2 == 0;
            image[y * 96 + x] = weak ? (ridge ? 120 : 130) : (ridge ? 50 : 200);
        }
    }
    return image;
}

TEST(DryWetStrength, CountsBlocksThatSurviveTheNeighbourVote) {
    QV_CURRENT_VER = 1;
    std::vector<uint8_t> mask(96 * 96, 0), map(96 * 96), block(64);
    // One flagged block is below 1 percent of the 144 blocks; two make 1.
    EXPECT_EQ(DryWetStrengthNew(blockImage({0}).data(), block.data(), mask.data(), map.data(), 96, 96), 0);
    EXPECT_EQ(map[0], 255);
    EXPECT_EQ(map[7 * 96 + 7], 255);
    EXPECT_EQ(map[8], 0);
    EXPECT_EQ(DryWetStrengthNew(blockImage({0, 1}).data(), block.data(), mask.data(), map.data(), 96, 96), 1);
    // An isolated weak block inside the image is voted away by its eight neighbours.
    EXPECT_EQ(DryWetStrengthNew(blockImage({50}).data(), block.data(), mask.data(), map.data(), 96, 96), 0);
    EXPECT_EQ(map[(50 / 12) * 8 * 96 + (50 % 12) * 8], 0);
    // A weak patch of 3 x 3 blocks stays: 9 of 144 blocks.
    EXPECT_EQ(DryWetStrengthNew(blockImage({49, 50, 51, 61, 62, 63, 73, 74, 75}).data(), block.data(), mask.data(),
                                map.data(), 96, 96),
              9 * 100 / 144);
    // No finger at all: nothing to measure.
    std::vector<uint8_t> background(96 * 96, 255);
    EXPECT_EQ(DryWetStrengthNew(blockImage({0}).data(), block.data(), background.data(), map.data(), 96, 96), 0);
}

// The stage observer sees every stage once, in order, at the source or the
// expanded size, and watching changes nothing: the template and the filtered
// image are those of an extraction without an observer.
TEST(ExtractionStages, AnObserverSeesEveryStageInOrderAndChangesNothing) {
    struct Seen {
        std::vector<ExtractionStage> stages;
        std::vector<std::pair<int32_t, int32_t>> sizes;
        bool mapped = true;  // orientation and mask present from the orientation stage on
    };
    const auto record = [](void *context, const StageView &v) {
        auto *seen = static_cast<Seen *>(context);
        seen->stages.push_back(v.stage);
        seen->sizes.emplace_back(v.w, v.h);
        const bool after = v.stage >= ExtractionStage::kOrientation;
        seen->mapped = seen->mapped && (v.orientation != nullptr) == after && (v.mask != nullptr) == after &&
                       (v.stage == ExtractionStage::kNormalised ? v.normalised != nullptr : v.image != nullptr);
    };
    static uint8_t workspace[QV_WORKSPACE_SIZE];
    for (const int32_t variant : {1, 3}) {
        QV_CURRENT_VER = variant;
        Quorvane_Init(1);
        const auto source = ridgeImage(112, 88, 112 * 0.45, 88 * 0.55, 1);
        auto plain = source, watched = source;
        std::vector<uint8_t> plainTempl(QV_TEMPLATE_SIZE), watchedTempl(QV_TEMPLATE_SIZE);
        int32_t plainInfo[QV_INFO_WORDS] = {}, watchedInfo[QV_INFO_WORDS] = {};
        ASSERT_EQ(GetFeaFromImg(plain.data(), 112, 88, plainTempl.data(), QV_TEMPLATE_SIZE, workspace,
                                QV_WORKSPACE_SIZE, plainInfo, 0),
                  0);
        Seen seen;
        const StageObserver observer{record, &seen};
        ASSERT_EQ(GetFeaFromImg(watched.data(), 112, 88, watchedTempl.data(), QV_TEMPLATE_SIZE, workspace,
                                QV_WORKSPACE_SIZE, watchedInfo, 0, &observer),
                  0);
        EXPECT_EQ(watchedTempl, plainTempl) << variant;
        EXPECT_EQ(watched, plain) << variant;
        EXPECT_EQ(std::memcmp(watchedInfo, plainInfo, sizeof plainInfo), 0) << variant;

        const int last = static_cast<int>(variant > 2 ? ExtractionStage::kValleySkeleton : ExtractionStage::kSkeleton);
        ASSERT_EQ(seen.stages.size(), static_cast<size_t>(last + 1)) << variant;
        for (int i = 0; i <= last; ++i) {
            EXPECT_EQ(static_cast<int>(seen.stages[static_cast<size_t>(i)]), i) << variant;
            const bool sourceSize = i <= static_cast<int>(ExtractionStage::kNormalised);
            EXPECT_EQ(seen.sizes[static_cast<size_t>(i)],
                      sourceSize ? std::make_pair(112, 88) : std::make_pair(112 + 64, 88 + 64))
                << variant << " stage " << i;
        }
        EXPECT_TRUE(seen.mapped) << variant;
    }
    QV_CURRENT_VER = 1;
}

}  // namespace
