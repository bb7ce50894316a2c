// The extraction stages chained as template creation runs them, from an
// 8-bit capture to the repaired skeleton, on synthetic ridge patterns and,
// when the shared fingerprint folder is present, on crops of real prints.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QVAlgDll.h"
#include "conditioning/edge_ops.h"
#include "conditioning/histogram_stretch.h"
#include "core/fixedmath.h"
#include "extraction/binarisation.h"
#include "extraction/contrast_normalisation.h"
#include "extraction/orientation_field.h"
#include "extraction/ridge_filter.h"
#include "extraction/segmentation.h"
#include "extraction/skeleton_repair.h"
#include "extraction/skeleton_walk.h"
#include "extraction/smoothing.h"
#include "extraction/thinning.h"
#include "ridge_pattern.h"

namespace {

constexpr int kSrc = 96;  // sensor type 5
constexpr int kExp = kSrc + 64;
constexpr size_t kExpPixels = static_cast<size_t>(kExp * kExp);

struct Stages {
    std::vector<uint8_t> source, work, scratch, orient, mask, counts;
    std::vector<int32_t> words;
    bool ok = false;
};

Stages runStages(std::vector<uint8_t> capture) {
    Stages s;
    s.source = std::move(capture);
    s.work.assign(kExpPixels, 0);
    s.scratch.assign(kExpPixels, 0);
    s.orient.assign(kExpPixels, 0);
    s.mask.assign(kExpPixels, 0);
    s.counts.assign(kExpPixels, 0);
    s.words.assign(kExpPixels, 0);
    std::vector<int16_t> normal(kSrc * kSrc), smooth(kSrc * kSrc);
    std::vector<uint8_t> spots(kSrc * kSrc, 0);

    std::memcpy(s.work.data(), s.source.data(), s.source.size());
    if (!ExpandHistogram(s.work.data(), kSrc, kSrc)) return s;
    if (!Normalize(s.work.data(), normal.data(), kSrc, kSrc)) return s;
    GaussSmooth2(normal.data(), s.mask.data(), smooth.data(), kSrc, kSrc);
    vwn_GaussSmooth2(s.work.data(), spots.data(), s.mask.data(), s.scratch.data(), kSrc, kSrc);
    std::memcpy(s.work.data(), s.scratch.data(), static_cast<size_t>(kSrc * kSrc));
    int32_t w = kSrc, h = kSrc;
    vwn_ExpandEdge(s.work.data(), &w, &h, 32, 250);
    if (!vwn_getOrientMap22(s.source.data(), s.work.data(), s.scratch.data(), w, h, s.orient.data(), s.mask.data(),
                            s.words.data(), 8))
        return s;
    segment_clearEdge(s.mask.data(), s.orient.data(), s.work.data(), w, h);
    orientFilter(s.work.data(), s.orient.data(), s.scratch.data(), w, h);
    binary(s.work.data(), s.orient.data(), s.scratch.data(), w, h);
    s.work = s.scratch;
    binaryClear(s.work.data(), s.mask.data(), s.scratch.data(), w, h);
    imageThin(s.work.data(), s.scratch.data(), w, h);
    vwn_ImageDilate3(s.mask.data(), s.scratch.data(), w, h, 7, 30, h - 30, 30, w - 30);
    thinClear3(s.work.data(), s.mask.data(), w, h, 4, 5);
    vwn_ThinModify(s.work.data(), s.scratch.data(), s.counts.data(), w, h);
    s.ok = true;
    return s;
}

uint8_t px(const std::vector<uint8_t> &img, int y, int x) { return img[static_cast<size_t>(y * kExp + x)]; }

struct SkeletonStats {
    int black = 0;
    int blocks = 0;         // 2 x 2 all-black squares
    int linePixels = 0;     // exactly two black neighbours
    int outsideFinger = 0;  // black where the orientation map has none
};

SkeletonStats measure(const Stages &s) {
    SkeletonStats st;
    for (int y = 1; y < kExp - 1; ++y)
        for (int x = 1; x < kExp - 1; ++x) {
            if (px(s.work, y, x) != kBlack) continue;
            ++st.black;
            if (px(s.work, y, x + 1) == kBlack && px(s.work, y + 1, x) == kBlack && px(s.work, y + 1, x + 1) == kBlack)
                ++st.blocks;
            int n = 0;
            for (int k = 0; k < 8; ++k) n += px(s.work, y + kNeighbourDy[k], x + kNeighbourDx[k]) == kBlack;
            if (n == 2) ++st.linePixels;
            if (px(s.orient, y, x) == 255) ++st.outsideFinger;
        }
    return st;
}

class RidgeSkeleton : public ::testing::Test {
  protected:
    void SetUp() override {
        Quorvane_Init(5);
        ASSERT_EQ(IMAGE_WIDTH_SRC, kSrc);
        ASSERT_EQ(IMAGE_HEIGHT_SRC, kSrc);
    }
};

void expectCleanSkeleton(const Stages &s, const char *what) {
    ASSERT_TRUE(s.ok) << what;
    const SkeletonStats st = measure(s);
    EXPECT_GT(st.black, 300) << what;
    EXPECT_EQ(st.blocks, 0) << what;
    EXPECT_EQ(st.outsideFinger, 0) << what;
    EXPECT_GT(st.linePixels * 100, st.black * 85) << what;
}

TEST_F(RidgeSkeleton, StraightRidgesGiveParallelOnePixelLines) {
    ridge_pattern::Image img = ridge_pattern::straight(kSrc, kSrc, 90, 9, 128, 60);
    const Stages s = runStages(img.source);
    expectCleanSkeleton(s, "vertical");
    // Along a middle row the skeleton crosses each ridge once: 96 / 9 ridges,
    // the outermost ones possibly cut by the shrunken mask.
    int crossings = 0;
    for (int x = 32; x < 128; ++x) crossings += px(s.work, 80, x) == kBlack;
    EXPECT_GE(crossings, 8);
    EXPECT_LE(crossings, 11);
}

TEST_F(RidgeSkeleton, RingsGiveOnePixelCurves) {
    ridge_pattern::Image img = ridge_pattern::rings(kSrc, kSrc, 44, 52, 9, 128, 60);
    const Stages s = runStages(img.source);
    expectCleanSkeleton(s, "rings");
    // The skeleton runs along the rings: the orientation map at skeleton
    // pixels agrees with the ring tangent.
    int good = 0, n = 0;
    for (int y = 40; y < 120; ++y)
        for (int x = 40; x < 120; ++x) {
            if (px(s.work, y, x) != kBlack) continue;
            const double truth = ridge_pattern::ringOrientation(x - 32, y - 32, 44, 52);
            if (std::hypot(x - 32 - 44.0, y - 32 - 52.0) < 12) continue;  // the centre has no single direction
            ++n;
            if (ridge_pattern::orientationError(px(s.orient, y, x), truth) <= 12) ++good;
        }
    ASSERT_GT(n, 100);
    EXPECT_GT(good * 100, n * 90);
}

// Rings built with the library's integer geometry only, so the capture is the
// same byte for byte on every platform.
std::vector<uint8_t> integerRings() {
    std::vector<uint8_t> img(kSrc * kSrc);
    for (int y = 0; y < kSrc; ++y)
        for (int x = 0; x < kSrc; ++x) {
            const int dx = x - 41, dy = y - 57;
            const int r16 = getSqrtByInt(256 * (dx * dx + dy * dy));  // radius in 1/16 pixel
            const int phase = (r16 * 40 / 16) % 360;                  // period 9 pixels
            img[static_cast<size_t>(y * kSrc + x)] = static_cast<uint8_t>(128 + 60 * cos512(phase) / 512);
        }
    return img;
}

uint32_t fnv1a(const std::vector<uint8_t> &bytes) {
    uint32_t h = 2166136261u;
    for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
    return h;
}

TEST_F(RidgeSkeleton, ResultsAreTheSameOnEveryPlatform) {
    // Pinned from an x86-64 build; an aarch64 build must give the same bytes.
    const Stages s = runStages(integerRings());
    expectCleanSkeleton(s, "integer rings");
    EXPECT_EQ(fnv1a(s.orient), 1157946825u);
    EXPECT_EQ(fnv1a(s.mask), 3756599293u);
    EXPECT_EQ(fnv1a(s.work), 1126855418u);
}

// Real prints from the shared folder; the test skips when it is absent.
bool readPgm(const std::string &path, std::vector<uint8_t> *pixels, int *w, int *h) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    int maxval = 0;
    const bool header = std::fscanf(f, "P5 %d %d %d", w, h, &maxval) == 3 && maxval == 255 && std::fgetc(f) != EOF;
    bool ok = false;
    if (header && *w > 0 && *h > 0 && *w <= 4096 && *h <= 4096) {
        pixels->resize(static_cast<size_t>(*w) * static_cast<size_t>(*h));
        ok = std::fread(pixels->data(), 1, pixels->size(), f) == pixels->size();
    }
    std::fclose(f);
    return ok;
}

// The shared data folder sits beside the checkout: three levels above this file.
std::string sharedPrintsDir() {
    std::string path = __FILE__;
    for (int up = 0; up < 3; ++up) {
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return "";
        path.resize(slash);
    }
    return path + "/../shared/data/fingerprints/fvc2002_db1_b/";
}

TEST_F(RidgeSkeleton, RealPrintCropsGiveOnePixelSkeletons) {
    const std::string dir = sharedPrintsDir();
    int done = 0;
    for (const char *name : {"101_1.pgm", "102_2.pgm", "105_3.pgm", "108_1.pgm"}) {
        std::vector<uint8_t> full;
        int w = 0, h = 0;
        if (!readPgm(dir + name, &full, &w, &h)) continue;
        std::vector<uint8_t> crop(kSrc * kSrc);
        const int x0 = w / 2 - kSrc / 2, y0 = h / 2 - kSrc / 2;
        for (int y = 0; y < kSrc; ++y)
            for (int x = 0; x < kSrc; ++x) crop[y * kSrc + x] = full[static_cast<size_t>((y0 + y) * w + x0 + x)];
        const Stages s = runStages(crop);
        if (!s.ok) continue;  // a crop may hold too little print
        const SkeletonStats st = measure(s);
        EXPECT_EQ(st.blocks, 0) << name;
        EXPECT_EQ(st.outsideFinger, 0) << name;
        EXPECT_GT(st.linePixels * 100, st.black * 75) << name;
        ++done;
    }
    if (done == 0) GTEST_SKIP() << "no real prints under " << dir;
}

}  // namespace
