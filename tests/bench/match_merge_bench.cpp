// Timing of the exported match and merge on an enrolment-sized template: ten
// synthetic 96 x 96 captures cut from one larger print, merged in the order
// the enrolment worker uses, and a further capture of the same finger.
//
//   bench_match_merge [--benchmark_repetitions=N ...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../alg/feature_fixtures.h"
#include "QVAlgDll.h"

namespace {

using fixtures::Bytes;
using fixtures::Print;

constexpr int32_t kCaptureCells = 24;  // 96 x 96 pixels
constexpr int32_t kCapturePixels = kCaptureCells * 4;

// The points of finger that a 96 x 96 window at (ox, oy), turned by degrees,
// would see, in the window's own coordinates.
Print capture(const Print &finger, int32_t ox, int32_t oy, int32_t degrees) {
    const Print turned = fixtures::moved(finger, degrees, -ox, -oy);
    Print c;
    std::memset(c.set.get(), 0, sizeof(FeatureSet));
    c.maskWidth = c.maskHeight = kCaptureCells;
    c.cells.assign(kCaptureCells * kCaptureCells, kMaskFinger);
    uint32_t n[2] = {0, 0};
    Minutia kept[2][kMaxFeaturePoints];
    for (uint32_t i = 0; i < FeaturePointCount(*turned.set); ++i) {
        const Minutia &m = turned.set->points[i];
        const int32_t x = static_cast<int32_t>(m.x);
        const int32_t y = static_cast<int32_t>(m.y);
        if (x < 4 || y < 4 || x >= kCapturePixels - 4 || y >= kCapturePixels - 4) continue;
        const int32_t g = i < turned.set->minutiaCount ? 0 : 1;
        kept[g][n[g]++] = m;
    }
    c.set->minutiaCount = n[0];
    c.set->kneeCount = n[1];
    std::memcpy(c.set->points, kept[0], n[0] * sizeof(Minutia));
    std::memcpy(c.set->points + n[0], kept[1], n[1] * sizeof(Minutia));
    return c;
}

struct Enrolment {
    Bytes merged = Bytes(QV_TEMPLATE_SIZE, 0);
    Bytes beforeLast = Bytes(QV_TEMPLATE_SIZE, 0);
    Bytes lastCapture;
    Bytes probe;
};

const Enrolment &enrolment() {
    static Enrolment e = [] {
        Enrolment r;
        // A 256 x 256 pixel finger with 150 minutiae and 170 knee points.
        const Print finger = fixtures::makePrint(150, 170, 64, 64, 7, false, 8, 9);
        const int32_t offsets[10][3] = {{80, 80, 0}, {60, 80, 3},   {100, 80, -4}, {80, 60, 2},  {80, 100, -2},
                                        {60, 60, 5}, {100, 100, 0}, {60, 100, -5}, {100, 60, 4}, {90, 70, 1}};
        Bytes current = fixtures::encode(capture(finger, offsets[0][0], offsets[0][1], offsets[0][2]));
        Bytes next(QV_TEMPLATE_SIZE, 0);
        uint16_t overlap = 0, w = 0, h = 0;
        int32_t merges = 0;
        for (int32_t k = 1; k < 10; ++k) {
            const Bytes c = fixtures::encode(capture(finger, offsets[k][0], offsets[k][1], offsets[k][2]));
            if (k == 9) {
                r.beforeLast = current;
                r.lastCapture = c;
            }
            if (Quorvane_MergeFeature(current.data(), c.data(), next.data(), &overlap, &w, &h) == 0) {
                current = next;
                ++merges;
            }
        }
        r.merged = current;
        r.probe = fixtures::encode(capture(finger, 75, 85, 6));
        const int16_t score = Quorvane_MatchScore(r.merged.data(), r.probe.data());
        std::fprintf(stderr, "enrolment: %d of 9 merges, merged template %ux%u pixels, probe score %d\n", merges, w, h,
                     score);
        if (merges < 9 || score <= 45) std::abort();
        return r;
    }();
    return e;
}

void BM_MatchScore(benchmark::State &state) {
    const Enrolment &e = enrolment();
    for (auto _ : state) benchmark::DoNotOptimize(Quorvane_MatchScore(e.merged.data(), e.probe.data()));
}
BENCHMARK(BM_MatchScore)->Unit(benchmark::kMicrosecond);

void BM_MatchScoreImpostor(benchmark::State &state) {
    const Enrolment &e = enrolment();
    static const Bytes other =
        fixtures::encode(capture(fixtures::makePrint(150, 170, 64, 64, 8, false, 8, 9), 80, 80, 0));
    for (auto _ : state) benchmark::DoNotOptimize(Quorvane_MatchScore(e.merged.data(), other.data()));
}
BENCHMARK(BM_MatchScoreImpostor)->Unit(benchmark::kMicrosecond);

void BM_MergeFeature(benchmark::State &state) {
    const Enrolment &e = enrolment();
    Bytes out(QV_TEMPLATE_SIZE, 0);
    uint16_t overlap = 0, w = 0, h = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            Quorvane_MergeFeature(e.beforeLast.data(), e.lastCapture.data(), out.data(), &overlap, &w, &h));
}
BENCHMARK(BM_MergeFeature)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
