// Cost of the rate stage on ten seconds of noise, on one thread: the 44.1 kHz
// polyphase bank (stereo and 5.1) and the 96 kHz half-band (stereo).

#include <benchmark/benchmark.h>

#include <random>

#include "dsp/sample_rate_conversion.h"
#include "input/pcm_buffer.h"

namespace {

oskavi::PcmBuffer noise(uint32_t rate, uint32_t channels) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    const auto layout = channels == 6 ? oskavi::ChannelLayout::Surround51 : oskavi::ChannelLayout::Stereo;
    oskavi::PcmBuffer pcm{rate, channels, layout, std::vector<float>(size_t{rate} * 10 * channels)};
    for (float& v : pcm.samples) v = dist(rng);
    return pcm;
}

void BM_Resample(benchmark::State& state) {
    const auto channels = static_cast<uint32_t>(state.range(1));
    const oskavi::PcmBuffer input = noise(static_cast<uint32_t>(state.range(0)), channels);
    for (auto _ : state) benchmark::DoNotOptimize(oskavi::resample_to_48k(input, 1));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 480000 * channels);
}
BENCHMARK(BM_Resample)->Args({44100, 2})->Args({44100, 6})->Args({96000, 2})->Unit(benchmark::kMillisecond);

}  // namespace
