#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "dsp/bass_management.h"
#include "dsp/channel_layout.h"
#include "dsp/sample_rate_conversion.h"

namespace oskavi {
namespace {

std::string error_of(auto&& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

PcmBuffer constant(uint32_t rate, uint32_t channels, ChannelLayout layout, size_t frames, float value) {
    return PcmBuffer{rate, channels, layout, std::vector<float>(frames * channels, value)};
}

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
    const size_t frames = pcm.frame_count();
    for (size_t i = from; i < frames; ++i) sum += static_cast<double>(pcm.samples[i * pcm.channels + channel]) * pcm.samples[i * pcm.channels + channel];
    return std::sqrt(sum / static_cast<double>(frames - from));
}

TEST(SampleRateConversion, FrameCountsFollowTheRoute) {
    EXPECT_EQ(resample_to_48k(constant(96000, 2, ChannelLayout::Stereo, 1001, 0.1f)).frame_count(), 500u);
    EXPECT_EQ(resample_to_48k(constant(192000, 2, ChannelLayout::Stereo, 1001, 0.1f)).frame_count(), 250u);
    EXPECT_EQ(resample_to_48k(constant(44100, 1, ChannelLayout::Mono, 147, 0.1f)).frame_count(), 160u);
    EXPECT_EQ(resample_to_48k(constant(44100, 1, ChannelLayout::Mono, 1, 0.1f)).frame_count(), 1u);
    EXPECT_EQ(resample_to_48k(constant(88200, 1, ChannelLayout::Mono, 147, 0.1f)).frame_count(), 80u);
    const PcmBuffer same = tone(48000, 2, ChannelLayout::Stereo, 500, 1000.0);
    EXPECT_EQ(resample_to_48k(same).samples, same.samples);
}

TEST(SampleRateConversion, UnityGainAtDcInTheInteriorOfEveryRoute) {
    for (uint32_t rate : {44100u, 88200u, 96000u, 176400u, 192000u}) {
        const PcmBuffer out = resample_to_48k(constant(rate, 2, ChannelLayout::Stereo, 4000, 0.25f));
        EXPECT_EQ(out.sample_rate, 48000u);
        const size_t frames = out.frame_count();
        for (size_t i = 40; i + 40 < frames; ++i) ASSERT_NEAR(out.samples[i * 2 + 1], 0.25f, 1e-6) << rate << " " << i;
        EXPECT_LT(out.samples[0], 0.249f) << rate;  // the filter reaches past the start
    }
}

TEST(SampleRateConversion, PassesAudioBandAndRejectsAliases) {
    // 1 kHz survives every route; 30 kHz at 96 kHz lies above the new Nyquist.
    for (uint32_t rate : {44100u, 96000u, 192000u}) {
        const PcmBuffer out = resample_to_48k(tone(rate, 1, ChannelLayout::Mono, rate / 4, 1000.0));
        EXPECT_NEAR(rms_of(out, 0, 100), 0.5 / std::sqrt(2.0), 0.01) << rate;
    }
    const PcmBuffer alias = resample_to_48k(tone(96000, 1, ChannelLayout::Mono, 24000, 30000.0));
    EXPECT_LT(rms_of(alias, 0, 100), 0.01);
}

TEST(SampleRateConversion, Errors) {
    EXPECT_EQ(error_of([] { resample_to_48k(constant(32000, 1, ChannelLayout::Mono, 10, 0.0f)); }),
              "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
    EXPECT_EQ(error_of([] { design_lowpass_fir(62, 0.25); }), "FIR tap count must be odd");
    const auto taps = design_lowpass_fir(63, 0.25);
    double sum = 0.0;
    for (double t : taps) sum += t;
    EXPECT_NEAR(sum, 1.0, 1e-15);
    EXPECT_NEAR(taps[31 + 2], 0.0, 1e-16);  // half-band: even offsets from the centre vanish
}

TEST(ChannelLayoutChain, RearFoldWithAndWithoutPeakGuard) {
    PreprocessOptions options;
    const PcmBuffer input = constant(48000, 8, ChannelLayout::Surround71, 10, 0.9f);
    const PcmBuffer guarded = fold_71_to_51(input, options);
    ASSERT_EQ(guarded.channels, 6u);
    EXPECT_EQ(guarded.layout, ChannelLayout::Surround51);
    EXPECT_FLOAT_EQ(guarded.samples[0], 0.9f);
    EXPECT_FLOAT_EQ(guarded.samples[3], 0.9f);
    EXPECT_NEAR(guarded.samples[4], 1.0f, 1e-6);
    options.peak_guard = false;
    const PcmBuffer loud = fold_71_to_51(input, options);
    EXPECT_NEAR(loud.samples[5], 0.9f * 0.70710677f + 0.9f, 1e-6);
    options.surround_mix_gain_db = 0.0;
    EXPECT_NEAR(fold_71_to_51(input, options).samples[4], 1.8f, 1e-6);
    EXPECT_EQ(error_of([&] { fold_71_to_51(constant(48000, 6, ChannelLayout::Surround51, 2, 0.0f), options); }),
              "7.1 downmix requires an unambiguous 7.1 channel layout");
}

TEST(ChannelLayoutChain, RefusesLayoutsItCannotMap) {
    PreprocessOptions options;
    EXPECT_EQ(error_of([&] { preprocess_to_48k(constant(48000, 8, ChannelLayout::Unknown, 4, 0.0f), options); }),
              "Input has more than 6 channels and cannot be safely mapped to AC-3");
    for (uint32_t channels : {3u, 4u, 5u, 6u})
        EXPECT_EQ(error_of([&] { preprocess_to_48k(constant(48000, channels, ChannelLayout::Unknown, 4, 0.0f), options); }),
                  "Ambiguous multichannel layout; refusing to guess channel positions");
    EXPECT_EQ(preprocess_to_48k(constant(48000, 2, ChannelLayout::Unknown, 4, 0.0f), options).channels, 2u);
}

TEST(BassManagement, LfeLowpassKeepsBassAndRemovesTreble) {
    PcmBuffer low = tone(48000, 6, ChannelLayout::Surround51, 48000, 40.0, 3);
    PcmBuffer high = tone(48000, 6, ChannelLayout::Surround51, 48000, 1000.0, 3);
    lowpass_lfe_120hz(low);
    lowpass_lfe_120hz(high);
    EXPECT_NEAR(rms_of(low, 3, 4800), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_LT(rms_of(high, 3, 4800), 1e-5);
}

TEST(BassManagement, GeneratedLfeLeavesMainsAndRespectsActiveSource) {
    PreprocessOptions options;
    options.bass_mode = BassMode::GenerateLfe;
    const PcmBuffer input = tone(48000, 6, ChannelLayout::Surround51, 9600, 50.0);
    PcmBuffer silent_lfe = input;
    for (size_t i = 0; i < silent_lfe.frame_count(); ++i) silent_lfe.samples[i * 6 + 3] = 0.0f;
    const PcmBuffer generated = apply_bass_processing(silent_lfe, options);
    for (size_t i = 0; i < generated.frame_count(); ++i)
        for (uint32_t c : {0u, 1u, 2u, 4u, 5u}) ASSERT_EQ(generated.samples[i * 6 + c], silent_lfe.samples[i * 6 + c]);
    EXPECT_NEAR(rms_of(generated, 3, 4800), 1.0 / std::sqrt(2.0), 0.05);  // five mains at 0.5, guarded to peak 1

    EXPECT_EQ(error_of([&] { apply_bass_processing(input, options); }),
              "source LFE is active; --generate-lfe is blocked unless --force-generate-lfe is supplied");
    options.force_generate_lfe = true;
    EXPECT_EQ(error_of([&] { apply_bass_processing(input, options); }), "");
}

TEST(BassManagement, SettingChecks) {
    PreprocessOptions options;
    options.bass_mode = BassMode::BassManagement;
    const PcmBuffer surround = constant(48000, 6, ChannelLayout::Surround51, 10, 0.0f);
    EXPECT_EQ(error_of([&] { apply_bass_processing(constant(48000, 2, ChannelLayout::Stereo, 10, 0.0f), options); }),
              "bass processing currently requires canonical 5.1 output layout");
    EXPECT_EQ(error_of([&] { apply_bass_processing(constant(44100, 6, ChannelLayout::Surround51, 10, 0.0f), options); }),
              "bass processing contract requires 48 kHz PCM");
    for (double hz : {39.9, 120.1}) {
        options.crossover_hz = hz;
        EXPECT_EQ(error_of([&] { apply_bass_processing(surround, options); }), "crossover must be within 40..120 Hz");
    }
    options.crossover_hz = 120.0;
    options.lfe_gain_db = 6.5;
    EXPECT_EQ(error_of([&] { apply_bass_processing(surround, options); }), "lfe gain must be within -12..+6 dB");
    options.lfe_gain_db = -12.0;
    options.thx = true;
    options.crossover_given = true;
    options.crossover_hz = 90.0;
    EXPECT_EQ(error_of([&] { apply_bass_processing(surround, options); }),
              "THX mode fixes crossover at 80 Hz; remove the crossover override");
    options.crossover_hz = 80.0;
    EXPECT_EQ(error_of([&] { apply_bass_processing(surround, options); }), "");
    options.bass_mode = BassMode::None;
    EXPECT_EQ(error_of([&] { apply_bass_processing(surround, options); }), "internal THX preset requires bass-management mode");
}

TEST(BassManagement, ManagedMainsLoseTheirBass) {
    PreprocessOptions options;
    options.bass_mode = BassMode::BassManagement;
    const PcmBuffer managed = apply_bass_processing(tone(48000, 6, ChannelLayout::Surround51, 48000, 30.0, 0), options);
    EXPECT_LT(rms_of(managed, 0, 9600), 0.05);
    EXPECT_GT(rms_of(managed, 3, 9600), 0.2);
}

}  // namespace
}  // namespace oskavi
