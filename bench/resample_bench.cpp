// Cost of the rate stage on ten seconds of stereo noise: the 44.1 kHz
// polyphase bank and the 96 kHz half-band, on one thread.

#include <benchmark/benchmark.h>

#include <random>

#include "dsp/sample_rate_conversion.h"
#include "input/pcm_buffer.h"

namespace {

oskavi::PcmBuffer stereo_noise(uint32_t rate) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    oskavi::PcmBuffer pcm{rate, 2, oskavi::ChannelLayout::Stereo, std::vector<float>(size_t{rate} * 10 * 2)};
    for (float& v : pcm.samples) v = dist(rng);
    return pcm;
}

void BM_Resample(benchmark::State& state) {
    const oskavi::PcmBuffer input = stereo_noise(static_cast<uint32_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(oskavi::resample_to_48k(input, 1));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 480000 * 2);
}
BENCHMARK(BM_Resample)->Arg(44100)->Arg(96000)->Unit(benchmark::kMillisecond);

}  // namespace
