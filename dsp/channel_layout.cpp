#include "dsp/channel_layout.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "dsp/bass_management.h"
#include "dsp/sample_rate_conversion.h"

namespace oskavi {

ChannelLayout folded_layout(ChannelLayout source) {
    return source == ChannelLayout::Surround71 ? ChannelLayout::Surround51 : source;
}

uint32_t folded_channels(ChannelLayout source, uint32_t source_channels) {
    return source == ChannelLayout::Surround71 ? 6 : source_channels;
}

float rear_fold_gain(const PreprocessSettings& options) {
    return static_cast<float>(std::pow(10.0, options.surround_mix_gain_db / 20.0));
}

void check_unambiguous_layout(uint32_t channels, ChannelLayout layout) {
    if (layout == ChannelLayout::Unknown && channels >= 3)
        throw std::runtime_error("Ambiguous multichannel layout; refusing to guess channel positions");
}

PcmBuffer fold_71_to_51(const PcmBuffer& input, const PreprocessSettings& options) {
    if (input.channels != 8 || input.layout != ChannelLayout::Surround71)
        throw std::runtime_error("7.1 downmix requires an unambiguous 7.1 channel layout");
    const float gain = rear_fold_gain(options);
    const uint64_t frames = input.frame_count();
    PcmBuffer out{input.sample_rate, 6, ChannelLayout::Surround51, {}};
    out.samples.resize(frames * 6);
    float peak = 0.0f;
    for (uint64_t i = 0; i < frames; ++i) {
        const std::array<float, 6> y = fold_frame_71(std::span<const float, 8>(&input.samples[i * 8], 8), gain);
        std::copy(y.begin(), y.end(), &out.samples[i * 6]);
        peak = std::max({peak, std::fabs(y[4]), std::fabs(y[5])});
    }
    if (options.peak_guard && peak > 1.0f) {
        // Only the folded surrounds are scaled; fronts and LFE stay as they are.
        const float scale = 1.0f / peak;
        for (uint64_t i = 0; i < frames; ++i) {
            out.samples[i * 6 + 4] *= scale;
            out.samples[i * 6 + 5] *= scale;
        }
    }
    return out;
}

bool refuses_from_header(uint32_t sample_rate, uint32_t channels, ChannelLayout layout) {
    // A 7.1 layout is folded to 5.1 before the layout checks.
    const bool folds = layout == ChannelLayout::Surround71;
    const uint32_t checked_channels = folds ? 6 : channels;
    const ChannelLayout checked_layout = folds ? ChannelLayout::Surround51 : layout;
    return checked_channels > 6 || (checked_layout == ChannelLayout::Unknown && checked_channels >= 3) ||
           !is_supported_input_rate(sample_rate);
}

PcmBuffer preprocess_to_48k(PcmBuffer input, const PreprocessSettings& options) {
    PcmBuffer pcm = input.layout == ChannelLayout::Surround71 ? fold_71_to_51(input, options) : std::move(input);
    if (pcm.channels > 6)
        throw std::runtime_error("Input has more than 6 channels and cannot be safely mapped to AC-3");
    check_unambiguous_layout(pcm.channels, pcm.layout);
    pcm = resample_to_48k(std::move(pcm), options.threads);
    pcm = apply_bass_processing(std::move(pcm), options);
    lowpass_lfe_120hz(pcm);
    return pcm;
}

}  // namespace oskavi
