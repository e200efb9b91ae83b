#include "stream/streaming_matrix.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "ac3/frame_encoder.h"
#include "ac3/frame_window_sink.h"
#include "dsp/bass_management.h"
#include "dsp/streaming_resampler.h"
#include "input/streaming_wave_reader.h"

namespace oskavi {
namespace {

constexpr uint64_t kBlockFrames = 4096;
constexpr uint32_t kBedChannels = 6;

// Guards every pass against a call on an input the route does not take.
void require_canonical_stereo(const StreamingWaveReader& reader) {
    if (reader.channels() != 2 || reader.layout() != ChannelLayout::Stereo)
        throw std::runtime_error("streaming matrix path requires canonical stereo WAV/RF64");
}

// The checks that need no file: the delay range and LFE generation.
void check_matrix_settings(const PreprocessSettings& options, double rear_delay_ms) {
    check_matrix_rear_delay(rear_delay_ms);
    check_matrix_bass_mode(options);
}

// Then the input's shape and the bass settings.
void check_matrix_input(const StreamInput& input, const PreprocessSettings& options) {
    check_matrix_source(input.channels, input.layout);
    check_thx_preset(options);
    if (options.bass_mode == BassMode::BassManagement) check_bass_options(options);
}

// The surround's delay line: D floats, zero at the start of every pass. Each
// new value goes in as the value written D frames earlier comes out; with
// D = 0 a value passes straight through.
class SurroundDelay {
public:
    explicit SurroundDelay(uint64_t frames) : ring_(frames, 0.0f) {}

    float exchange(float surround) {
        if (ring_.empty()) return surround;
        const float delayed = ring_[index_];
        ring_[index_] = surround;
        index_ = (index_ + 1) % ring_.size();
        return delayed;
    }
    size_t frames() const { return ring_.size(); }

private:
    std::vector<float> ring_;
    size_t index_ = 0;
};

void append_bed_frame(std::vector<float>& bed, float left, float right, float centre, float surround, float scale) {
    bed.insert(bed.end(), {left * scale, right * scale, centre * scale, 0.0f, surround * scale, surround * scale});
}

// Decodes one stereo block into 6-channel bed frames L, R, C, LFE, Ls, Rs.
// L', R', C' and S' are rounded to float before the matrix scale, exactly as
// the whole-file decode stores them before normalising.
void decode_block(std::span<const float> stereo, MatrixSteeringState& steering, SurroundDelay& delay, float scale,
                  std::vector<float>& bed) {
    bed.clear();
    for (size_t i = 0; i + 2 <= stereo.size(); i += 2) {
        const SteeredSample v = steer_sample(steering, stereo[i], stereo[i + 1]);
        const float surround = delay.exchange(static_cast<float>(v.surround));
        append_bed_frame(bed, static_cast<float>(v.left), static_cast<float>(v.right), static_cast<float>(v.centre),
                         surround, scale);
    }
}

// After the last input frame the ring still holds D surround values; they
// leave in order over D frames whose other channels are silent.
void push_surround_tail(SurroundDelay& delay, float scale, PassPipeline& pipeline, std::vector<float>& bed) {
    for (uint64_t left = delay.frames(); left > 0;) {
        const uint64_t count = std::min(left, kBlockFrames);
        bed.clear();
        for (uint64_t i = 0; i < count; ++i) append_bed_frame(bed, 0.0f, 0.0f, 0.0f, delay.exchange(0.0f), scale);
        pipeline.push_tail(bed);
        left -= count;
    }
}

}  // namespace

MatrixAnalysis analyse_matrix(const std::string& input_path, const StreamProgress& progress) {
    StreamingWaveReader reader;
    reader.open(input_path);
    require_canonical_stereo(reader);
    const std::string label = "Matrix analysis";
    const uint64_t total = reader.total_frames();
    MatrixSteeringState steering = init_matrix_steering(reader.sample_rate());
    MatrixAnalysis analysis;
    float peak = 0.0f;
    std::vector<float> block;
    uint64_t read = 0;
    while (reader.read_frames(kBlockFrames, block)) {
        read += block.size() / 2;
        if (progress) progress(label, read, total);
        for (size_t i = 0; i + 2 <= block.size(); i += 2) {
            const float l = block[i], r = block[i + 1];
            if (std::fabs(l) > 1e-12f || std::fabs(r) > 1e-12f) analysis.non_silent = true;
            const SteeredSample v = steer_sample(steering, l, r);
            peak = std::max({peak, std::fabs(static_cast<float>(v.left)), std::fabs(static_cast<float>(v.right)),
                             std::fabs(static_cast<float>(v.centre)), std::fabs(static_cast<float>(v.surround))});
        }
    }
    if (progress) progress(label, total, total);
    analysis.matrix_scale = peak > 1.0f ? 1.0f / peak : 1.0f;
    analysis.max_centre_steer = steering.stats.max_centre_steer;
    analysis.max_surround_steer = steering.stats.max_surround_steer;
    analysis.nan_samples = reader.nan_samples();
    return analysis;
}

uint64_t matrix_output_frames(uint32_t sample_rate, uint64_t input_frames, double rear_delay_ms) {
    const uint64_t n = input_frames + matrix_rear_delay_frames(sample_rate, rear_delay_ms);
    switch (sample_rate) {
        case 48000: return n;
        case 96000: return n / 2;
        case 192000: return n / 4;
        case 44100:
        case 88200:
        case 176400: {
            // The polyphase stage's up/down ratio: both rates over their gcd.
            const uint64_t g = std::gcd(sample_rate, 48000u);
            return n * (48000 / g) / (sample_rate / g);
        }
        default: throw std::runtime_error("Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
    }
}

StreamPassStats run_matrix_pass(const std::string& input_path, const PreprocessSettings& options, float matrix_scale,
                                double rear_delay_ms, bool bass_processing, float lfe_scale,
                                const std::string& label, const StreamProgress& progress, FrameWindowSink* sink) {
    StreamingWaveReader reader;
    reader.open(input_path);
    require_canonical_stereo(reader);
    const uint64_t total = reader.total_frames();
    MatrixSteeringState steering = init_matrix_steering(reader.sample_rate());
    SurroundDelay delay(matrix_rear_delay_frames(reader.sample_rate(), rear_delay_ms));
    PassPipeline pipeline(reader.sample_rate(), kBedChannels, options, bass_processing, lfe_scale, sink);

    std::vector<float> block;
    std::vector<float> bed;
    uint64_t read = 0;
    while (reader.read_frames(kBlockFrames, block)) {
        read += block.size() / 2;
        if (progress) progress(label, read, total);
        decode_block(block, steering, delay, matrix_scale, bed);
        // Accounted as in every streaming pass: the block as read, not the bed.
        pipeline.push(bed, block.size());
    }
    push_surround_tail(delay, matrix_scale, pipeline, bed);
    const StreamPassStats stats = pipeline.finish();
    if (progress) progress(label, total, total);
    return stats;
}

StreamingSummary encode_wav_streaming_matrix(const std::string& input_path, const std::string& output_path,
                                             const EncoderSettings& encoder, const PreprocessSettings& options,
                                             double rear_delay_ms, MatrixDecodeStats* stats,
                                             const StreamProgress& progress) {
    check_matrix_settings(options, rear_delay_ms);
    const StreamInput input = read_stream_header(input_path);
    check_matrix_input(input, options);

    const MatrixAnalysis analysis = analyse_matrix(input_path, progress);
    if (stats != nullptr) {
        stats->max_centre_steer = analysis.max_centre_steer;
        stats->max_surround_steer = analysis.max_surround_steer;
        stats->rear_delay_ms = rear_delay_ms;
    }

    StreamingSummary summary;
    summary.input_frames = input.total_frames;
    summary.nan_samples = analysis.nan_samples;
    const uint64_t frames48k = matrix_output_frames(input.sample_rate, input.total_frames, rear_delay_ms);
    if (!analysis.non_silent) {
        Ac3OutputFile out(output_path);
        summary.ac3_frames = write_silent_stream(out, kBedChannels, frames48k, encoder);
        out.close();
        summary.delivered_frames = frames48k;
        return summary;
    }

    const bool bass_processing = options.bass_mode == BassMode::BassManagement;
    float lfe_scale = 1.0f;
    uint32_t bass_bytes = 0;
    if (bass_processing) {
        const StreamPassStats bass = run_matrix_pass(input_path, options, analysis.matrix_scale, rear_delay_ms, true,
                                                     1.0f, "Bass analysis", progress, nullptr);
        if (options.peak_guard && bass.lfe_peak > 1.0f) lfe_scale = 1.0f / bass.lfe_peak;
        bass_bytes = bass.buffer_bytes;
    }

    Ac3OutputFile out(output_path);
    FrameWindowSink sink(out, kBedChannels, ChannelLayout::Surround51, encoder);
    const StreamPassStats encoding = run_matrix_pass(input_path, options, analysis.matrix_scale, rear_delay_ms,
                                                     bass_processing, lfe_scale, "Encoding", progress, &sink);
    sink.finish();
    out.close();
    summary.ac3_frames = sink.frames_written();
    summary.delivered_frames = encoding.frames;
    summary.peak_workspace_bytes = sink.workspace_bytes() + std::max(encoding.buffer_bytes, bass_bytes);
    return summary;
}

}  // namespace oskavi
