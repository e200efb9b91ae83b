// Rate conversion, bass processing and matrix decoding on whole buffers,
// measured on tones.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/bass_management.h"
#include "platform/processor_features.h"
#include "dsp/matrix_decode.h"
#include "dsp/sample_rate_conversion.h"

namespace oskavi {
namespace {

PcmBuffer constant(uint32_t rate, uint32_t channels, ChannelLayout layout, size_t frames, float value) {
    return PcmBuffer{rate, channels, layout, std::vector<float>(frames * channels, value)};
}

// A 0.5 sine in `only` (every channel when only is 99).
PcmBuffer tone(uint32_t rate, uint32_t channels, ChannelLayout layout, size_t frames, double hz, uint32_t only = 99) {
    PcmBuffer pcm = constant(rate, channels, layout, frames, 0.0f);
    for (size_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < channels; ++c)
            if (only == 99 || c == only)
                pcm.samples[i * channels + c] = static_cast<float>(0.5 * std::sin(6.283185307179586 * hz * i / rate));
    return pcm;
}

double rms_of(const PcmBuffer& pcm, uint32_t channel, size_t from) {
    double sum = 0.0;
    for (size_t i = from; i < pcm.frame_count(); ++i) sum += std::pow(pcm.samples[i * pcm.channels + channel], 2);
    return std::sqrt(sum / static_cast<double>(pcm.frame_count() - from));
}

TEST(SampleRateConversion, FrameCountsAndUnityGainAtDcOnEveryRoute) {
    for (const auto& [rate, in, out] : {std::tuple{44100u, 147u, 160u}, std::tuple{88200u, 147u, 80u},
                                        std::tuple{96000u, 1001u, 500u}, std::tuple{192000u, 1001u, 250u},
                                        std::tuple{176400u, 4000u, 1088u}, std::tuple{44100u, 1u, 1u}}) {
        EXPECT_EQ(resample_to_48k(constant(rate, 1, ChannelLayout::Mono, in, 0.1f)).frame_count(), out) << rate;
        const PcmBuffer dc = resample_to_48k(constant(rate, 2, ChannelLayout::Stereo, 4000, 0.25f));
        EXPECT_EQ(dc.sample_rate, 48000u);
        for (size_t i = 40; i + 40 < dc.frame_count(); ++i) ASSERT_NEAR(dc.samples[i * 2 + 1], 0.25f, 1e-6) << rate;
        EXPECT_LT(dc.samples[0], 0.249f) << rate;  // the filter reaches past the start
    }
    const PcmBuffer same = tone(48000, 2, ChannelLayout::Stereo, 500, 1000.0);
    EXPECT_EQ(resample_to_48k(same).samples, same.samples);
}

TEST(SampleRateConversion, PassesAudioBandAndRejectsAliases) {
    // 1 kHz survives every route; 30 kHz at 96 kHz lies above the new Nyquist.
    for (uint32_t rate : {44100u, 96000u, 192000u}) {
        const PcmBuffer out = resample_to_48k(tone(rate, 1, ChannelLayout::Mono, rate / 4, 1000.0));
        EXPECT_NEAR(rms_of(out, 0, 100), 0.5 / std::sqrt(2.0), 0.01) << rate;
    }
    EXPECT_LT(rms_of(resample_to_48k(tone(96000, 1, ChannelLayout::Mono, 24000, 30000.0)), 0, 100), 0.01);
}

TEST(BassManagement, FiltersKeepBassWhereItBelongs) {
    PcmBuffer low = tone(48000, 6, ChannelLayout::Surround51, 48000, 40.0, 3);
    PcmBuffer high = tone(48000, 6, ChannelLayout::Surround51, 48000, 1000.0, 3);
    lowpass_lfe_120hz(low);
    lowpass_lfe_120hz(high);
    EXPECT_NEAR(rms_of(low, 3, 4800), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_LT(rms_of(high, 3, 4800), 1e-5);

    PreprocessSettings options;
    options.bass_mode = BassMode::BassManagement;
    const PcmBuffer managed = apply_bass_processing(tone(48000, 6, ChannelLayout::Surround51, 48000, 30.0, 0), options);
    EXPECT_LT(rms_of(managed, 0, 9600), 0.05);  // the mains lose their bass to the LFE
    EXPECT_GT(rms_of(managed, 3, 9600), 0.2);
}

// Both kernels, at every length around their start and end steps, and over
// two runs in a row (the state carries from one to the next).
TEST(BassManagement, LfeLowpassOverARunEqualsSampleBySample) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> level(-1.0f, 1.0f);
    using Kernel = void (LfeLowpass::*)(float*, uint64_t, std::size_t);
    for (const Kernel kernel : {&LfeLowpass::process_run, &LfeLowpass::process_run_plain,
                                &LfeLowpass::process_run_avx2}) {
        if (kernel == &LfeLowpass::process_run_avx2 && !processor_has_avx2()) continue;
        for (const uint64_t count : {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 1000}) {
            std::vector<float> interleaved(2 * count * 6);
            for (float& s : interleaved) s = level(rng);
            std::vector<float> expected = interleaved;
            LfeLowpass one_by_one;
            for (uint64_t i = 0; i < 2 * count; ++i) expected[i * 6 + 3] = one_by_one.process(expected[i * 6 + 3]);
            LfeLowpass run;
            (run.*kernel)(interleaved.data() + 3, count, 6);
            (run.*kernel)(interleaved.data() + 3 + count * 6, count, 6);
            // Bit for bit, and the other channels untouched.
            ASSERT_EQ(interleaved, expected) << count;
        }
    }
}

TEST(BassManagement, GeneratedLfeLeavesTheMainsAlone) {
    PreprocessSettings options;
    options.bass_mode = BassMode::GenerateLfe;
    PcmBuffer input = tone(48000, 6, ChannelLayout::Surround51, 9600, 50.0);
    for (size_t i = 0; i < input.frame_count(); ++i) input.samples[i * 6 + 3] = 0.0f;
    const PcmBuffer generated = apply_bass_processing(input, options);
    for (size_t i = 0; i < generated.frame_count(); ++i)
        for (uint32_t c : {0u, 1u, 2u, 4u, 5u}) ASSERT_EQ(generated.samples[i * 6 + c], input.samples[i * 6 + c]);
    EXPECT_NEAR(rms_of(generated, 3, 4800), 1.0 / std::sqrt(2.0), 0.05);  // five mains at 0.5, guarded to peak 1
}

TEST(MatrixDecode, InPhaseContentSteersToTheCentreAndOppositeToTheSurrounds) {
    for (const double right : {1.0, -1.0}) {
        PcmBuffer stereo = tone(48000, 2, ChannelLayout::Stereo, 48000, 440.0);
        for (size_t i = 1; i < stereo.samples.size(); i += 2) stereo.samples[i] *= static_cast<float>(right);
        MatrixDecodeStats stats;
        const PcmBuffer out = matrix_decode(stereo, 0.0, &stats);
        EXPECT_GT(right > 0 ? stats.max_centre_steer : stats.max_surround_steer, 0.99);
        EXPECT_EQ(right > 0 ? stats.max_surround_steer : stats.max_centre_steer, 0.0);
        const size_t last = out.frame_count() - 1;
        const double l = 0.5 * std::sin(6.283185307179586 * 440.0 * last / 48000.0);
        const float* frame = &out.samples[last * 6];  // L R C LFE Ls Rs
        EXPECT_NEAR(frame[0], 0.0, 0.01) << right;
        EXPECT_NEAR(frame[2], right > 0 ? std::sqrt(2.0) * l : 0.0, 0.01) << right;
        EXPECT_EQ(frame[3], 0.0f);
        EXPECT_NEAR(frame[4], right > 0 ? 0.0 : l, 0.01) << right;
        EXPECT_NEAR(frame[5], right > 0 ? 0.0 : l, 0.01) << right;
    }
}

}  // namespace
}  // namespace oskavi
