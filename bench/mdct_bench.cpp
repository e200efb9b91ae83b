// Cost of the per-block transforms and of the transient decision: the
// encoder runs one of each per channel and audio block.

#include <benchmark/benchmark.h>

#include <array>
#include <random>

#include "ac3/mdct.h"
#include "ac3/transient_detector.h"

namespace {

std::array<double, 512> noise_block() {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::array<double, 512> x{};
    for (double& v : x) v = dist(rng);
    return x;
}

template <oskavi::MdctOutput (*Transform)(oskavi::MdctInput)>
void BM_Transform(benchmark::State& state) {
    const auto x = noise_block();
    Transform(x);  // tables built outside the timed loop
    for (auto _ : state) benchmark::DoNotOptimize(Transform(x));
}

BENCHMARK_TEMPLATE(BM_Transform, oskavi::mdct_long_fast)->Name("BM_MdctLongFast");
BENCHMARK_TEMPLATE(BM_Transform, oskavi::mdct_long_dense)->Name("BM_MdctLongDense");
BENCHMARK_TEMPLATE(BM_Transform, oskavi::mdct_short_pair_fast)->Name("BM_MdctShortPairFast");
BENCHMARK_TEMPLATE(BM_Transform, oskavi::mdct_short_pair_dense)->Name("BM_MdctShortPairDense");

void BM_DetectTransient(benchmark::State& state) {
    const auto x = noise_block();
    for (auto _ : state) benchmark::DoNotOptimize(oskavi::detect_transient(x));
}
BENCHMARK(BM_DetectTransient);

void BM_DetectTransientLegacy(benchmark::State& state) {
    const auto x = noise_block();
    for (auto _ : state) benchmark::DoNotOptimize(oskavi::detect_transient_legacy(x));
}
BENCHMARK(BM_DetectTransientLegacy);

}  // namespace
