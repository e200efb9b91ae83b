#include "stream/streaming_preprocess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <stdexcept>
#include <vector>

#include "ac3/frame_encoder.h"
#include "ac3/frame_window_sink.h"
#include "dsp/bass_management.h"
#include "dsp/channel_layout.h"
#include "dsp/sample_rate_conversion.h"
#include "dsp/streaming_resampler.h"
#include "input/streaming_wave_reader.h"

namespace oskavi {
namespace {

constexpr uint64_t kBlockFrames = 4096;

// Folds a block of 7.1 frames to 5.1 in place (the 6-float output of frame i
// never overlaps the 8-float input of a later frame), the folded surrounds
// then scaled by the surround scale.
void fold_block_in_place(std::vector<float>& block, float gain, float surround_scale) {
    const size_t frames = block.size() / 8;
    for (size_t i = 0; i < frames; ++i) {
        std::array<float, 6> y = fold_frame_71(std::span<const float, 8>(&block[i * 8], 8), gain);
        y[4] *= surround_scale;
        y[5] *= surround_scale;
        std::copy(y.begin(), y.end(), &block[i * 6]);
    }
    block.resize(frames * 6);
}

uint32_t output_channels(const StreamInput& input) {
    return folded_channels(input.layout, input.channels);
}

ChannelLayout output_layout(const StreamInput& input) {
    return folded_layout(input.layout);
}

void validate(const StreamInput& input, const PreprocessSettings& options) {
    if (!is_supported_input_rate(input.sample_rate))
        throw std::runtime_error("Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
    check_unambiguous_layout(input.channels, input.layout);
    if (input.channels > 8) throw std::runtime_error("Input has too many channels");
    check_thx_preset(options);
    if (options.bass_mode != BassMode::None) {
        check_bass_layout(output_channels(input), output_layout(input));
        check_bass_options(options);
    }
}

// run_preprocess_pass; with `settle` (no sink) the pass stops filtering once
// it has seen a non-silent sample (see PassPipeline::settle_once_non_silent).
StreamPassStats run_pass(const StreamInput& input, const PreprocessSettings& options, float surround_scale,
                         bool bass_processing, float lfe_scale, const std::string& label,
                         const StreamProgress& progress, FrameWindowSink* sink, bool settle) {
    StreamingWaveReader reader;
    reader.open(input.path);
    const bool folds = reader.layout() == ChannelLayout::Surround71;
    const uint32_t channels = folds ? 6 : reader.channels();
    const float gain = rear_fold_gain(options);
    const uint64_t total = reader.total_frames();

    PassPipeline pipeline(reader.sample_rate(), channels, options, bass_processing, lfe_scale, sink);
    if (settle) pipeline.settle_once_non_silent();

    std::vector<float> block;
    uint64_t read = 0;
    while (true) {
        // Once only counts matter, integer samples are not even read (float
        // ones are: the pass counts their NaNs).
        if (pipeline.counting_only() && reader.whole_number_samples()) {
            const uint64_t frames = reader.skip_frames(kBlockFrames);
            if (frames == 0) break;
            read += frames;
            if (progress) progress(label, read, total);
            pipeline.push_counted(frames, static_cast<size_t>(frames * reader.channels()));
            continue;
        }
        if (!reader.read_frames(kBlockFrames, block)) break;
        const size_t block_floats = block.size();
        read += block_floats / reader.channels();
        if (progress) progress(label, read, total);
        if (folds) fold_block_in_place(block, gain, surround_scale);
        pipeline.push(block, block_floats);
    }
    StreamPassStats stats = pipeline.finish();
    stats.nan_samples = reader.nan_samples();
    if (progress) progress(label, total, total);
    return stats;
}

struct AnalysisResult {
    StreamPassStats stats;  // of the "Preprocessing" or "Bass analysis" pass
    float lfe_scale = 1.0f;
};

AnalysisResult run_analysis_passes(const StreamInput& input, const PreprocessSettings& options, float surround_scale,
                                   const StreamProgress& progress) {
    AnalysisResult result;
    if (options.bass_mode == BassMode::None) {
        // Only the silence test, the frame count and the workspace are asked
        // of this pass.
        result.stats =
            run_pass(input, options, surround_scale, false, 1.0f, "Preprocessing", progress, nullptr, true);
        return result;
    }
    result.stats =
        run_preprocess_pass(input, options, surround_scale, true, 1.0f, "Bass analysis", progress, nullptr);
    if (options.bass_mode == BassMode::GenerateLfe) {
        // The source LFE as it reaches the bass step: after fold and rate stage.
        const StreamPassStats source =
            run_preprocess_pass(input, options, surround_scale, false, 1.0f, "LFE analysis", progress, nullptr);
        if (source.lfe_level().active(source.frames) && !options.force_generate_lfe)
            throw std::runtime_error(
                "source LFE is active; --generate-lfe is blocked unless --force-generate-lfe is supplied");
    }
    if (options.peak_guard && result.stats.lfe_peak > 1.0f) result.lfe_scale = 1.0f / result.stats.lfe_peak;
    return result;
}

}  // namespace

StreamInput read_stream_header(const std::string& path) {
    StreamingWaveReader reader;
    reader.open(path);
    return {path, reader.sample_rate(), reader.channels(), reader.layout(), reader.total_frames()};
}

float analyse_rear_fold(const StreamInput& input, const PreprocessSettings& options) {
    StreamingWaveReader reader;
    reader.open(input.path);
    const float gain = rear_fold_gain(options);
    // Four running peaks over interleaved frames, so that the comparisons do
    // not wait on one another (max is exact in any order; a NaN never wins).
    std::array<float, 4> peaks{};
    const auto fold_peak = [gain](float peak, const float* frame) {
        const std::array<float, 6> y = fold_frame_71(std::span<const float, 8>(frame, 8), gain);
        return std::max({peak, std::fabs(y[4]), std::fabs(y[5])});
    };
    std::vector<float> block;
    while (reader.read_frames(kBlockFrames, block)) {
        size_t i = 0;
        for (; i + 32 <= block.size(); i += 32) {
            for (size_t k = 0; k < 4; ++k) peaks[k] = fold_peak(peaks[k], &block[i + 8 * k]);
        }
        for (; i + 8 <= block.size(); i += 8) peaks[0] = fold_peak(peaks[0], &block[i]);
    }
    const float peak = std::max({peaks[0], peaks[1], peaks[2], peaks[3]});
    return peak > 1.0f ? 1.0f / peak : 1.0f;
}

StreamPassStats run_preprocess_pass(const StreamInput& input, const PreprocessSettings& options, float surround_scale,
                                    bool bass_processing, float lfe_scale, const std::string& label,
                                    const StreamProgress& progress, FrameWindowSink* sink) {
    return run_pass(input, options, surround_scale, bass_processing, lfe_scale, label, progress, sink, false);
}

StreamingSummary encode_wav_streaming_preprocess(const std::string& input_path, const std::string& output_path,
                                                 const EncoderSettings& encoder, const PreprocessSettings& options,
                                                 const StreamProgress& progress) {
    const StreamInput input = read_stream_header(input_path);
    validate(input, options);
    const float surround_scale = options.peak_guard && input.layout == ChannelLayout::Surround71
                                     ? analyse_rear_fold(input, options)
                                     : 1.0f;
    const AnalysisResult analysis = run_analysis_passes(input, options, surround_scale, progress);

    Ac3OutputFile out(output_path);

    StreamingSummary summary;
    summary.input_frames = input.total_frames;
    summary.nan_samples = analysis.stats.nan_samples;
    if (!analysis.stats.non_silent) {
        summary.ac3_frames = write_silent_stream(out, output_channels(input), analysis.stats.frames, encoder);
        out.close();
        summary.delivered_frames = analysis.stats.frames;
        summary.peak_workspace_bytes = analysis.stats.buffer_bytes;
        return summary;
    }

    FrameWindowSink sink(out, output_channels(input), output_layout(input), encoder);
    const StreamPassStats encoding = run_preprocess_pass(input, options, surround_scale,
                                                         options.bass_mode != BassMode::None, analysis.lfe_scale,
                                                         "Encoding", progress, &sink);
    sink.finish();
    out.close();
    summary.ac3_frames = sink.frames_written();
    summary.delivered_frames = encoding.frames;
    summary.peak_workspace_bytes =
        std::max({analysis.stats.buffer_bytes, encoding.buffer_bytes, sink.workspace_bytes()});
    return summary;
}

}  // namespace oskavi
