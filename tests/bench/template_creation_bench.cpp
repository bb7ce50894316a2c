// Template creation per capture on generated fingers, for the three sensor
// geometries, through the same conversion of raw bytes the service uses.
//   build/tests/bench/bench_template_creation --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <vector>

#include "capture_format.h"
#include "capture_sets.h"
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

BENCHMARK(BM_CreateTemplate16_96x96)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateTemplate_112x88)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateTemplate_68x118)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
