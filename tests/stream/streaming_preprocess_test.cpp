#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "ac3/frame_encoder.h"
#include "dsp/channel_layout.h"
#include "input/input_selection.h"
#include "stream/streaming_preprocess.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

using test::file_bytes;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFrameBytes448 = 1792;  // one AC-3 frame at 448 kbit/s, 48 kHz

std::vector<float> music(uint32_t rate, uint32_t channels, uint64_t frames, double correlation = 0.6) {
    tools::SignalShape shape;
    shape.sample_rate = rate;
    shape.channels = channels;
    shape.seconds = static_cast<double>(frames) / rate + 0.01;
    shape.correlation = correlation;
    std::vector<float> samples = tools::make_test_signal(shape);
    samples.resize(frames * channels);
    return samples;
}

void set_channel(std::vector<float>& samples, uint32_t channels, uint32_t channel, float value) {
    for (size_t i = channel; i < samples.size(); i += channels) samples[i] = value;
}

// Scales the given channels so that each peaks at 0.95.
void make_loud(std::vector<float>& samples, uint32_t channels, std::initializer_list<uint32_t> which) {
    for (uint32_t c : which) {
        float peak = 0.0f;
        for (size_t i = c; i < samples.size(); i += channels) peak = std::max(peak, std::fabs(samples[i]));
        for (size_t i = c; i < samples.size(); i += channels) samples[i] *= 0.95f / peak;
    }
}

// Adds a low sine to the given channels, keeping every sample within -1..1.
void add_bass(std::vector<float>& samples, uint32_t channels, uint32_t rate, std::initializer_list<uint32_t> which) {
    for (size_t i = 0; i < samples.size() / channels; ++i)
        for (uint32_t c : which) {
            float& s = samples[i * channels + c];
            s = std::clamp(0.5f * s + 0.45f * static_cast<float>(std::sin(6.283185307179586 * 60.0 * i / rate)),
                           -1.0f, 1.0f);
        }
}

// Every call of the progress callback, and the pass labels in order.
struct ProgressLog {
    struct Call {
        std::string label;
        uint64_t done;
        uint64_t total;
    };
    std::vector<Call> calls;

    StreamProgress callback() {
        return [this](const std::string& label, uint64_t done, uint64_t total) { calls.push_back({label, done, total}); };
    }
    std::vector<std::string> passes() const {
        std::vector<std::string> labels;
        for (const Call& call : calls)
            if (labels.empty() || labels.back() != call.label) labels.push_back(call.label);
        return labels;
    }
};

class StreamingPreprocess : public ::testing::Test {
protected:
    std::string write_input(const std::string& name, const std::vector<float>& samples, uint32_t rate,
                            uint32_t channels, uint32_t bits = 32) {
        const std::string path = dir_.file(name);
        tools::write_wav(path, samples, rate, channels, bits);
        return path;
    }

    // The whole-file route: read, preprocess to 48 kHz, encode.
    Bytes whole_file_ac3(const std::string& input, const PreprocessOptions& preprocess,
                         const EncoderOptions& encoder = {}) {
        const std::string output = dir_.file("whole.ac3");
        encode_pcm_file(preprocess_to_48k(read_input(input), preprocess), output, encoder, {});
        return file_bytes(output);
    }

    struct Streamed {
        StreamingSummary summary;
        Bytes bytes;
        std::vector<std::string> passes;
    };

    Streamed streaming_ac3(const std::string& input, const PreprocessOptions& preprocess,
                           const EncoderOptions& encoder = {}) {
        const std::string output = dir_.file("streamed.ac3");
        ProgressLog log;
        Streamed result;
        result.summary = encode_wav_streaming_preprocess(input, output, encoder, preprocess, log.callback());
        result.bytes = file_bytes(output);
        result.passes = log.passes();
        return result;
    }

    test::TempDirectory dir_;
};

using Passes = std::vector<std::string>;

TEST_F(StreamingPreprocess, WritesTheSameBytesAsTheWholeFileRoute) {
    struct Case {
        const char* name;
        uint32_t rate;
        uint32_t channels;
        uint64_t frames;
        uint32_t bits;
    };
    const PreprocessOptions defaults;
    for (const Case& c : {Case{"48k_stereo.wav", 48000, 2, 12000, 16}, Case{"44k_stereo.wav", 44100, 2, 15000, 32},
                          Case{"96k_mono.wav", 96000, 1, 20000, 24}, Case{"192k_51.wav", 192000, 6, 40000, 32}}) {
        const std::string input = write_input(c.name, music(c.rate, c.channels, c.frames), c.rate, c.channels, c.bits);
        const Streamed streamed = streaming_ac3(input, defaults);
        const Bytes whole = whole_file_ac3(input, defaults);
        EXPECT_EQ(streamed.bytes, whole) << c.name;
        EXPECT_EQ(streamed.passes, (Passes{"Preprocessing", "Encoding"})) << c.name;
        EXPECT_EQ(streamed.summary.input_frames, c.frames);
        EXPECT_EQ(streamed.summary.ac3_frames * kFrameBytes448, streamed.bytes.size());
        EXPECT_EQ(streamed.summary.ac3_frames, ac3_frame_count(streamed.summary.delivered_frames));
    }
}

TEST_F(StreamingPreprocess, FoldsSevenOneWithAndWithoutThePeakGuard) {
    // Correlated back and side channels fold to surrounds well above 1.0.
    const uint64_t frames = 20000;
    std::vector<float> samples = music(88200, 8, frames, 0.9);
    make_loud(samples, 8, {4, 5, 6, 7});
    const std::string input = write_input("88k_71.wav", samples, 88200, 8);
    PreprocessOptions guarded;
    const StreamInput header = read_stream_header(input);
    EXPECT_EQ(header.layout, ChannelLayout::Surround71);
    EXPECT_LT(analyse_rear_fold(header, guarded), 1.0f);

    const Streamed with_guard = streaming_ac3(input, guarded);
    EXPECT_EQ(with_guard.bytes, whole_file_ac3(input, guarded));
    // The fold analysis reads the file without a progress label.
    EXPECT_EQ(with_guard.passes, (Passes{"Preprocessing", "Encoding"}));
    EXPECT_EQ(with_guard.summary.delivered_frames, frames * 80 / 147);

    PreprocessOptions unguarded;
    unguarded.peak_guard = false;
    const Streamed without_guard = streaming_ac3(input, unguarded);
    EXPECT_EQ(without_guard.bytes, whole_file_ac3(input, unguarded));
    EXPECT_EQ(without_guard.passes, (Passes{"Preprocessing", "Encoding"}));
    EXPECT_NE(without_guard.bytes, with_guard.bytes);

    // The reference decoder accepts the 5.1 stream.
    const test::DecodedAc3 decoded = test::decode_ac3(dir_.file("streamed.ac3"), 6);
    EXPECT_EQ(decoded.errors, "");
    EXPECT_EQ(decoded.samples.size(), without_guard.summary.ac3_frames * kSamplesPerFrame * 6);
}

TEST_F(StreamingPreprocess, BassManagementAndGeneratedLfeMatchTheWholeFileRoute) {
    const uint64_t frames = 16000;
    std::vector<float> samples = music(44100, 6, frames);
    add_bass(samples, 6, 44100, {0, 1, 2, 4, 5});
    set_channel(samples, 6, 3, 0.0f);  // silent source LFE
    const std::string input = write_input("44k_51.wav", samples, 44100, 6);

    PreprocessOptions managed;
    managed.bass_mode = BassMode::BassManagement;
    managed.crossover_hz = 100.0;
    const Streamed bass = streaming_ac3(input, managed);
    EXPECT_EQ(bass.bytes, whole_file_ac3(input, managed));
    EXPECT_EQ(bass.passes, (Passes{"Bass analysis", "Encoding"}));

    PreprocessOptions generated;
    generated.bass_mode = BassMode::GenerateLfe;
    generated.lfe_gain_db = 6.0;
    // Five mains of loud bass sum far above 1.0: the LFE peak guard engages.
    const StreamPassStats analysis =
        run_preprocess_pass(read_stream_header(input), generated, 1.0f, true, 1.0f, "Bass analysis", {}, nullptr);
    EXPECT_GT(analysis.lfe_peak, 1.0f);
    const Streamed lfe = streaming_ac3(input, generated);
    EXPECT_EQ(lfe.bytes, whole_file_ac3(input, generated));
    EXPECT_EQ(lfe.passes, (Passes{"Bass analysis", "LFE analysis", "Encoding"}));

    generated.peak_guard = false;
    EXPECT_EQ(streaming_ac3(input, generated).bytes, whole_file_ac3(input, generated));
}

TEST_F(StreamingPreprocess, SilentSevenOneWritesIdenticalSilentFrames) {
    const uint64_t frames = 10000;
    const std::string input = write_input("silent_71.wav", std::vector<float>(frames * 8, 0.0f), 44100, 8, 16);
    const PreprocessOptions options;
    const Streamed streamed = streaming_ac3(input, options);
    const uint64_t frames48k = frames * 160 / 147;
    const uint64_t expected_frames = (frames48k + 1535) / 1536;
    EXPECT_EQ(streamed.summary.delivered_frames, frames48k);
    EXPECT_EQ(streamed.summary.ac3_frames, expected_frames);
    EXPECT_EQ(streamed.passes, (Passes{"Preprocessing"}));  // no encoding pass
    const Bytes silent = make_silent_frame(6, EncoderOptions{});
    ASSERT_EQ(streamed.bytes.size(), expected_frames * silent.size());
    for (uint64_t f = 0; f < expected_frames; ++f)
        EXPECT_TRUE(std::equal(silent.begin(), silent.end(), streamed.bytes.begin() + f * silent.size())) << f;
    EXPECT_EQ(streamed.bytes, whole_file_ac3(input, options));

    // An empty data chunk (which the whole-file reader refuses) still yields
    // one silent frame.
    const std::string empty = write_input("empty.wav", {}, 48000, 2);
    const Streamed nothing = streaming_ac3(empty, options);
    EXPECT_EQ(nothing.summary.ac3_frames, 1u);
    EXPECT_EQ(nothing.summary.delivered_frames, 0u);
    EXPECT_EQ(nothing.bytes, make_silent_frame(2, EncoderOptions{}));
}

TEST_F(StreamingPreprocess, NineThousandFramesAt96kHzGiveThreeFrames) {
    const std::string input = write_input("96k_9000.wav", music(96000, 2, 9000), 96000, 2);
    ProgressLog log;
    const std::string output = dir_.file("out.ac3");
    const StreamingSummary summary = encode_wav_streaming_preprocess(input, output, {}, {}, log.callback());
    EXPECT_EQ(summary.input_frames, 9000u);
    EXPECT_EQ(summary.delivered_frames, 4500u);
    EXPECT_EQ(summary.ac3_frames, 3u);
    EXPECT_EQ(file_bytes(output).size(), 3u * kFrameBytes448);
    // Each pass reports 4096, 8192, 9000, then completes with (total, total).
    std::vector<uint64_t> encoding_progress;
    for (const ProgressLog::Call& call : log.calls) {
        EXPECT_EQ(call.total, 9000u);
        if (call.label == "Encoding") encoding_progress.push_back(call.done);
    }
    EXPECT_EQ(encoding_progress, (std::vector<uint64_t>{4096, 8192, 9000, 9000}));
    EXPECT_EQ(test::decode_ac3(output, 2).errors, "");
}

TEST_F(StreamingPreprocess, ActiveSourceLfeBlocksGenerationBeforeTheOutputExists) {
    const std::string input = write_input("active_lfe.wav", music(48000, 6, 8000), 48000, 6);
    PreprocessOptions options;
    options.bass_mode = BassMode::GenerateLfe;
    const std::string output = dir_.file("never.ac3");
    ProgressLog log;
    try {
        encode_wav_streaming_preprocess(input, output, {}, options, log.callback());
        ADD_FAILURE() << "active LFE accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "source LFE is active; --generate-lfe is blocked unless --force-generate-lfe is supplied");
    }
    EXPECT_EQ(log.passes(), (Passes{"Bass analysis", "LFE analysis"}));
    EXPECT_FALSE(std::filesystem::exists(output));

    options.force_generate_lfe = true;
    const Streamed forced = streaming_ac3(input, options);
    EXPECT_EQ(forced.bytes, whole_file_ac3(input, options));
}

TEST_F(StreamingPreprocess, SettingsAndLayoutsAreRefusedBeforeAnyPass) {
    struct Case {
        uint32_t rate;
        uint32_t channels;
        BassMode mode;
        double crossover;
        bool thx;
        const char* message;
    };
    const Case cases[] = {
        {48000, 2, BassMode::BassManagement, 80.0, false, "bass processing currently requires canonical 5.1 output layout"},
        {44100, 1, BassMode::GenerateLfe, 80.0, false, "bass processing currently requires canonical 5.1 output layout"},
        {32000, 2, BassMode::None, 80.0, false, "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz"},
        {48000, 3, BassMode::None, 80.0, false, "Ambiguous multichannel layout; refusing to guess channel positions"},
        {48000, 6, BassMode::BassManagement, 130.0, false, "crossover must be within 40..120 Hz"},
        {48000, 6, BassMode::None, 80.0, true, "internal THX preset requires bass-management mode"},
    };
    for (const Case& c : cases) {
        const std::string input = write_input("refused.wav", music(c.rate, c.channels, 3000), c.rate, c.channels);
        PreprocessOptions options;
        options.bass_mode = c.mode;
        options.crossover_hz = c.crossover;
        options.thx = c.thx;
        const std::string output = dir_.file("refused.ac3");
        ProgressLog log;
        try {
            encode_wav_streaming_preprocess(input, output, {}, options, log.callback());
            ADD_FAILURE() << c.message << ": accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_TRUE(log.calls.empty()) << c.message;
        EXPECT_FALSE(std::filesystem::exists(output)) << c.message;
    }
}

TEST_F(StreamingPreprocess, WorkspaceDoesNotGrowWithTheInput) {
    // One 4096-frame block, the rate stage's window and its 160 x 47 taps,
    // whether the input lasts 2 or 20 seconds.
    const uint32_t rate = 44100;
    const PreprocessOptions options;
    uint32_t bytes[2] = {};
    for (int i = 0; i < 2; ++i) {
        const uint64_t frames = (i == 0 ? 2 : 20) * uint64_t{rate};
        const std::string input = write_input("long.wav", music(rate, 2, frames), rate, 2, 16);
        const StreamPassStats stats =
            run_preprocess_pass(read_stream_header(input), options, 1.0f, false, 1.0f, "Preprocessing", {}, nullptr);
        EXPECT_EQ(stats.frames, frames * 160 / 147);
        bytes[i] = stats.buffer_bytes;
    }
    EXPECT_EQ(bytes[0], bytes[1]);
    const uint32_t fixed = 4 * 4096 * 2 + 8 * 160 * 47;
    EXPECT_GE(bytes[0], fixed);
    EXPECT_LE(bytes[0], fixed + 4 * 2 * 70);

    // The route's peak is the largest of its passes and the 1792-frame sink.
    const std::string input = write_input("short.wav", music(rate, 2, 20000), rate, 2);
    EXPECT_EQ(streaming_ac3(input, options).summary.peak_workspace_bytes,
              run_preprocess_pass(read_stream_header(input), options, 1.0f, false, 1.0f, "", {}, nullptr).buffer_bytes);
    const std::string mono = write_input("mono48.wav", music(48000, 1, 20000), 48000, 1);
    EXPECT_EQ(streaming_ac3(mono, options).summary.peak_workspace_bytes, 4u * 4096);  // block beats 4 x 3584 of sink
}

}  // namespace
}  // namespace oskavi
