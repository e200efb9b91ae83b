// Rate conversion, the 7.1 fold and bass processing on whole buffers. The
// messages the streaming route and the binary also produce are tested there.

#include <gtest/gtest.h>

#include <cmath>

#include "dsp/bass_management.h"
#include "dsp/channel_layout.h"
#include "dsp/sample_rate_conversion.h"
#include "tests/support/error_of.h"

namespace oskavi {
namespace {

using test::error_of;

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
    EXPECT_EQ(error_of([] { design_lowpass_fir(62, 0.25); }), "FIR tap count must be odd");
}

TEST(ChannelLayoutChain, RearFoldWithAndWithoutPeakGuard) {
    PreprocessSettings options;
    const PcmBuffer input = constant(48000, 8, ChannelLayout::Surround71, 10, 0.9f);
    const PcmBuffer guarded = fold_71_to_51(input, options);
    ASSERT_EQ(guarded.channels, 6u);
    EXPECT_EQ(guarded.layout, ChannelLayout::Surround51);
    EXPECT_FLOAT_EQ(guarded.samples[0], 0.9f);
    EXPECT_FLOAT_EQ(guarded.samples[3], 0.9f);
    EXPECT_NEAR(guarded.samples[4], 1.0f, 1e-6);
    options.peak_guard = false;
    EXPECT_NEAR(fold_71_to_51(input, options).samples[5], 0.9f * 0.70710677f + 0.9f, 1e-6);
    options.surround_mix_gain_db = 0.0;
    EXPECT_NEAR(fold_71_to_51(input, options).samples[4], 1.8f, 1e-6);
    EXPECT_EQ(error_of([&] { fold_71_to_51(constant(48000, 6, ChannelLayout::Surround51, 2, 0.0f), options); }),
              "7.1 downmix requires an unambiguous 7.1 channel layout");
    EXPECT_EQ(error_of([&] { preprocess_to_48k(constant(48000, 8, ChannelLayout::Unknown, 4, 0.0f), options); }),
              "Input has more than 6 channels and cannot be safely mapped to AC-3");
    EXPECT_EQ(preprocess_to_48k(constant(48000, 2, ChannelLayout::Unknown, 4, 0.0f), options).channels, 2u);
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

TEST(BassManagement, SettingChecks) {
    const PcmBuffer surround = constant(48000, 6, ChannelLayout::Surround51, 10, 0.0f);
    const auto error_with = [&](auto change, const PcmBuffer& pcm) {
        PreprocessSettings options;
        options.bass_mode = BassMode::BassManagement;
        change(options);
        return error_of([&] { apply_bass_processing(pcm, options); });
    };
    const auto nothing = [](PreprocessSettings&) {};
    EXPECT_EQ(error_with(nothing, constant(44100, 6, ChannelLayout::Surround51, 10, 0.0f)),
              "bass processing contract requires 48 kHz PCM");
    EXPECT_EQ(error_with([](auto& o) { o.crossover_hz = 39.9; }, surround), "crossover must be within 40..120 Hz");
    EXPECT_EQ(error_with([](auto& o) { o.lfe_gain_db = 6.5; }, surround), "lfe gain must be within -12..+6 dB");
    EXPECT_EQ(error_with([](auto& o) { o.thx = o.crossover_given = true, o.crossover_hz = 90.0; }, surround),
              "THX mode fixes crossover at 80 Hz; remove the crossover override");
    EXPECT_EQ(error_with([](auto& o) { o.thx = o.crossover_given = true, o.crossover_hz = 80.0; }, surround), "");
    EXPECT_EQ(error_with([](auto& o) { o.crossover_hz = 120.0, o.lfe_gain_db = -12.0; }, surround), "");
}

}  // namespace
}  // namespace oskavi
