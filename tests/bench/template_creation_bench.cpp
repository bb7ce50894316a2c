// Template creation per capture on generated fingers, for the three sensor
// geometries, through the same conversion of raw bytes the service uses; and
// the extraction alone without and with a stage observer that does nothing,
// to compare in one run (the observer's hooks must cost nothing measurable).
//   build/tests/bench/bench_template_creation --benchmark_repetitions=12
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <vector>

#include "capture_format.h"
#include "capture_sets.h"
#include "extraction/template_pipeline.h"
#include "library_flow.h"

namespace {

std::vector<fpeval::Capture> captures(uint16_t product) {
    std::vector<fpeval::Finger> fingers;
    fpeval::addSyntheticFingers(product, 4, 101, 0, 8, fingers);
    std::vector<fpeval::Capture> out;
    for (auto &f : fingers)
        for (auto &c : f.probe) out.push_back(c);
    return out;
}

void createTemplates(benchmark::State &state, uint16_t product) {
    const auto set = captures(product);
    fpeval::Template templ;
    size_t i = 0;
    int failures = 0;
    for (auto _ : state) {
        failures += fpeval::createTemplate(set[i++ % set.size()], templ, false) != 1;
        benchmark::DoNotOptimize(templ.data());
    }
    state.counters["failures"] = failures;
}

void BM_CreateTemplate16_96x96(benchmark::State &state) { createTemplates(state, capture::kProduct12Bit); }
void BM_CreateTemplate_112x88(benchmark::State &state) { createTemplates(state, capture::kProductPlain); }
void BM_CreateTemplate_68x118(benchmark::State &state) { createTemplates(state, capture::kProductSplitRows); }

// The 8-bit captures of the plain sensor, decoded once.
std::vector<std::vector<uint8_t>> plainImages() {
    std::vector<std::vector<uint8_t>> images;
    static capture::DecodedCapture decoded;
    for (const auto &c : captures(capture::kProductPlain)) {
        if (!capture::decodeCapture(c.productId, c.raw.data(), c.raw.size(), &decoded)) continue;
        images.emplace_back(decoded.pixels8, decoded.pixels8 + decoded.width * decoded.height);
    }
    return images;
}

void extract(benchmark::State &state, const StageObserver *observer) {
    const auto images = plainImages();
    Quorvane_Init(capture::findSensorFormat(capture::kProductPlain)->librarySensorType);
    static uint8_t workspace[QV_WORKSPACE_SIZE];
    std::vector<uint8_t> image, templ(QV_TEMPLATE_SIZE);
    int32_t info[QV_INFO_WORDS];
    size_t i = 0;
    int failures = 0;
    for (auto _ : state) {
        image = images[i++ % images.size()];
        failures += GetFeaFromImg(image.data(), IMAGE_WIDTH_SRC, IMAGE_HEIGHT_SRC, templ.data(), QV_TEMPLATE_SIZE,
                                  workspace, QV_WORKSPACE_SIZE, info, 0, observer) != 0;
        benchmark::DoNotOptimize(templ.data());
    }
    state.counters["failures"] = failures;
}

void ignoreStage(void *, const StageView &view) { benchmark::DoNotOptimize(view.image); }

void BM_Extraction_112x88(benchmark::State &state) { extract(state, nullptr); }
void BM_Extraction_112x88_Observed(benchmark::State &state) {
    const StageObserver observer{ignoreStage, nullptr};
    extract(state, &observer);
}

BENCHMARK(BM_CreateTemplate16_96x96)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateTemplate_112x88)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateTemplate_68x118)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Extraction_112x88)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Extraction_112x88_Observed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
