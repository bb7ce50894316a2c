// The committed seed templates of the decoder fuzz target are made here, from
// synthetic feature sets (no fingerprint data). Comparing them with what the
// encoder writes now pins the whole byte format on every architecture the
// tests run on. After a deliberate format or version change, rewrite them:
//   QV_WRITE_TEMPLATE_SEEDS=1 build/tests/alg_template_corpus_test
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "QVAlgDll.h"
#include "core/featureset.h"
#include "core/template_codec.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Seed {
    std::string name;
    Bytes bytes;
};

struct Shape {
    const char *name;
    uint32_t minutiae, knees, valleyKnees;
    int32_t width, height;  // mask cells
    int32_t coordRange;     // points lie in 0 .. coordRange - 1
};

// Sensor-sized captures (cells of the 112 x 88 and 68 x 118 sensors), merged
// canvases with many points and border coordinates, and the degenerate sizes.
constexpr Shape kShapes[] = {
    {"empty-16x16", 0, 0, 0, 16, 16, 1},
    {"empty-18x18-tail", 0, 0, 0, 18, 18, 1},
    {"empty-no-mask", 0, 0, 0, 0, 0, 1},
    {"capture-28x22", 24, 70, 0, 28, 22, 112},
    {"capture-17x29-valley", 18, 55, 40, 17, 29, 118},
    {"merged-41x35", 120, 300, 0, 41, 35, 1024},
    {"merged-full-800", 255, 445, 100, 47, 39, 1024},
    {"mask-at-capacity-208x208", 3, 2, 0, 208, 208, 832},
};

Seed makeSeed(const Shape &shape, uint32_t seed) {
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    auto set = std::make_unique<FeatureSet>();
    std::memset(set.get(), 0, sizeof *set);
    set->minutiaCount = shape.minutiae;
    set->kneeCount = shape.knees;
    set->valleyKneeCount = shape.valleyKnees;
    set->dryWet = next(101);
    const uint32_t total = shape.minutiae + shape.knees + shape.valleyKnees;
    for (uint32_t i = 0; i < total; ++i) {
        Minutia &p = set->points[i];
        p.x = next(static_cast<uint32_t>(shape.coordRange));
        p.y = next(static_cast<uint32_t>(shape.coordRange));
        p.angle = next(360);
        p.edgeFlag = static_cast<uint8_t>(next(2));
        p.hitCount = static_cast<uint8_t>(1 + next(7));
        p.mergeCount = static_cast<uint8_t>(next(8));
        p.weakFlag = next(10) == 0 ? 1 : 0;
        p.type = i < shape.minutiae ? 1 + next(2) : 140 + next(40);
        p.coverage = next(56);
        for (auto &d : p.descriptor) d = static_cast<int16_t>(static_cast<int32_t>(next(256)) - 128);
    }
    // A finger area: an ellipse of finger cells on background.
    const int32_t w = shape.width, h = shape.height;
    Bytes cells(static_cast<size_t>(w * h));
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) {
            const int32_t dx = 2 * c - w + 1, dy = 2 * r - h + 1;
            const bool finger = static_cast<int64_t>(dx) * dx * h * h + static_cast<int64_t>(dy) * dy * w * w <=
                                static_cast<int64_t>(w) * w * h * h * 4 / 5;
            cells[static_cast<size_t>(r * w + c)] = finger ? kMaskFinger : kMaskBackground;
        }
    Bytes out(QV_TEMPLATE_SIZE, 0);
    EXPECT_EQ(EncodeTemplate(set.get(), cells.data(), w, h, out.data(), QV_TEMPLATE_SIZE), kCodecOk) << shape.name;
    out.resize(static_cast<size_t>(TemplateLength(total, w, h)));
    return {std::string(shape.name) + ".tpl", out};
}

fs::path corpusDir() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "template_decode";
}

Bytes readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(TemplateSeeds, CommittedSeedsAreWhatTheEncoderWrites) {
    const fs::path dir = corpusDir();
    const bool write = std::getenv("QV_WRITE_TEMPLATE_SEEDS") != nullptr;
    if (write) fs::create_directories(dir);
    if (!fs::is_directory(dir)) GTEST_SKIP() << "no seed corpus at " << dir;

    auto set = std::make_unique<FeatureSet>();
    auto mask = std::make_unique<FeatureMask>();
    const FeatureSlot slot{set.get(), mask.get()};
    uint32_t seed = 1;
    for (const Shape &shape : kShapes) {
        const Seed s = makeSeed(shape, seed++);
        ASSERT_LE(s.bytes.size(), static_cast<size_t>(QV_TEMPLATE_SIZE));
        if (write) {
            std::ofstream(dir / s.name, std::ios::binary)
                .write(reinterpret_cast<const char *>(s.bytes.data()), static_cast<std::streamsize>(s.bytes.size()));
        }
        EXPECT_EQ(readFile(dir / s.name), s.bytes) << s.name << " differs from the encoder's output";
        EXPECT_EQ(DecodeTemplate(s.bytes.data(), static_cast<int32_t>(s.bytes.size()), &slot),
                  static_cast<int32_t>(shape.minutiae))
            << s.name;
    }
}

}  // namespace
