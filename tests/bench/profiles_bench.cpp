// The three recognition profiles side by side on generated 96 x 96 fingers:
// template creation per capture, and one verification match of a capture
// against an enrolled template (profile 1: ten touches merged into one
// template; profile 2: a gallery of sixteen touches; profile 3: the same
// gallery with a phase record per touch), for the owner's capture and another
// finger's.
//   build/tests/bench/bench_profiles --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <vector>

#include "QVAlgDll.h"
#include "capture_format.h"
#include "capture_sets.h"
#include "library_flow.h"

namespace {

struct Fingers {
    std::vector<fpeval::Finger> fingers;
    Fingers() { fpeval::addSyntheticFingers(capture::kProduct12Bit, 2, 21, 16, 8, fingers); }
};
const Fingers &data() {
    static const Fingers f;
    return f;
}

void createTemplates(benchmark::State &state, int profile) {
    const auto &probes = data().fingers[0].probe;
    Quorvane_SetRecognitionProfile(profile);
    fpeval::Template templ;
    size_t i = 0;
    int failures = 0;
    for (auto _ : state) {
        failures += fpeval::createTemplate(probes[i++ % probes.size()], templ, false) != 1;
        benchmark::DoNotOptimize(templ.data());
    }
    state.counters["failures"] = failures;
    Quorvane_SetRecognitionProfile(1);
}

void match(benchmark::State &state, int profile, bool owner) {
    const auto &f = data().fingers;
    const fpeval::EnrolmentResult enrolled = fpeval::enrol(f[0].enrol, profile);
    if (!enrolled.enrolled) {
        state.SkipWithError("enrolment failed");
        return;
    }
    std::vector<fpeval::Template> probes;
    for (const auto &c : f[owner ? 0 : 1].probe) {
        probes.emplace_back();
        fpeval::createTemplate(c, probes.back(), true);
    }
    size_t i = 0;
    int accepted = 0;
    for (auto _ : state) accepted += fpeval::matchScore(enrolled.merged, probes[i++ % probes.size()]) > 45;
    state.counters["accepted"] = benchmark::Counter(accepted, benchmark::Counter::kAvgIterations);
    Quorvane_SetRecognitionProfile(1);
}

void BM_CreateTemplate16_Profile1(benchmark::State &state) { createTemplates(state, 1); }
void BM_CreateTemplate16_Profile2(benchmark::State &state) { createTemplates(state, 2); }
void BM_Match_Profile1_Owner(benchmark::State &state) { match(state, 1, true); }
void BM_Match_Profile1_OtherFinger(benchmark::State &state) { match(state, 1, false); }
void BM_Match_Profile2_Owner(benchmark::State &state) { match(state, 2, true); }
void BM_Match_Profile2_OtherFinger(benchmark::State &state) { match(state, 2, false); }
void BM_CreateTemplate16_Profile3(benchmark::State &state) { createTemplates(state, 3); }
void BM_Match_Profile3_Owner(benchmark::State &state) { match(state, 3, true); }
void BM_Match_Profile3_OtherFinger(benchmark::State &state) { match(state, 3, false); }

BENCHMARK(BM_CreateTemplate16_Profile1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CreateTemplate16_Profile2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Match_Profile1_Owner)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Match_Profile1_OtherFinger)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Match_Profile2_Owner)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Match_Profile2_OtherFinger)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateTemplate16_Profile3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Match_Profile3_Owner)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Match_Profile3_OtherFinger)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
