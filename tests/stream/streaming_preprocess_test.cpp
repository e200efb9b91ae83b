// The streaming preprocess route against the whole-file route (read,
// preprocess_to_48k, encode_pcm_file): same bytes, its passes, silence,
// refusals before any output, and a workspace that does not grow.

#include "stream/streaming_preprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "ac3/frame_encoder.h"
#include "dsp/channel_layout.h"
#include "input/input_selection.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

using test::file_bytes;
using Bytes = std::vector<uint8_t>;
using Labels = std::vector<std::string>;

std::vector<float> music(uint32_t rate, uint32_t channels, uint64_t frames, double correlation = 0.6) {
    std::vector<float> samples =
        tools::make_test_signal({rate, channels, static_cast<double>(frames) / rate + 0.01, correlation, true, 1});
    samples.resize(frames * channels);
    return samples;
}

// Each channel in `which` rescaled to peak at `peak`.
void set_peak(std::vector<float>& samples, uint32_t channels, std::initializer_list<uint32_t> which, float peak) {
    for (uint32_t c : which) {
        float old = 0.0f;
        for (size_t i = c; i < samples.size(); i += channels) old = std::max(old, std::fabs(samples[i]));
        for (size_t i = c; i < samples.size(); i += channels) samples[i] *= old > 0.0f ? peak / old : 0.0f;
    }
}

class StreamingPreprocess : public ::testing::Test {
protected:
    std::string write_input(const std::string& name, const std::vector<float>& samples, uint32_t rate,
                            uint32_t channels, uint32_t bits = 32) {
        tools::write_wav(dir_.file(name), samples, rate, channels, bits);
        return dir_.file(name);
    }

    Bytes whole_file_ac3(const std::string& input, const PreprocessSettings& preprocess) {
        encode_pcm_file(preprocess_to_48k(read_input(input), preprocess), dir_.file("whole.ac3"), {}, {});
        return file_bytes(dir_.file("whole.ac3"));
    }

    // Runs the streaming route into streamed.ac3, keeping every progress call.
    StreamingSummary stream(const std::string& input, const PreprocessSettings& preprocess) {
        calls_.clear();
        return encode_wav_streaming_preprocess(input, dir_.file("streamed.ac3"), {}, preprocess,
                                               [this](const std::string& label, uint64_t done, uint64_t total) {
                                                   calls_.push_back({label, done, total});
                                               });
    }
    Bytes streamed() const { return file_bytes(dir_.file("streamed.ac3")); }
    Labels passes() const {
        Labels labels;
        for (const Call& call : calls_)
            if (labels.empty() || labels.back() != call.label) labels.push_back(call.label);
        return labels;
    }

    struct Call {
        std::string label;
        uint64_t done;
        uint64_t total;
    };
    std::vector<Call> calls_;
    test::TempDirectory dir_;
};

TEST_F(StreamingPreprocess, WritesTheSameBytesAsTheWholeFileRoute) {
    enum Material { Music, LoudSurrounds, BassWithSilentLfe };
    struct Case {
        uint32_t rate, channels, bits;
        Material material;
        BassMode mode;
        bool peak_guard;
        Labels passes;
    };
    const Labels plain = {"Preprocessing", "Encoding"};  // the 7.1 fold analysis has no label
    const Labels lfe = {"Bass analysis", "LFE analysis", "Encoding"};
    const Case cases[] = {
        {48000, 2, 16, Music, BassMode::None, true, plain},
        {44100, 2, 32, Music, BassMode::None, true, plain},
        {96000, 1, 24, Music, BassMode::None, true, plain},
        {192000, 6, 32, Music, BassMode::None, true, plain},
        {88200, 8, 32, LoudSurrounds, BassMode::None, true, plain},  // the surround guard engages...
        {88200, 8, 32, LoudSurrounds, BassMode::None, false, plain},
        {44100, 6, 32, BassWithSilentLfe, BassMode::BassManagement, true, {"Bass analysis", "Encoding"}},
        {44100, 6, 32, BassWithSilentLfe, BassMode::GenerateLfe, true, lfe},  // ...and so does the LFE guard
        {44100, 6, 32, BassWithSilentLfe, BassMode::GenerateLfe, false, lfe},
    };
    std::vector<Bytes> outputs;
    for (const Case& c : cases) {
        const uint64_t frames = c.rate / 3;
        // Correlated surrounds fold to well above 1.0; five mains of loud bass sum far above it.
        std::vector<float> samples = music(c.rate, c.channels, frames, c.material == LoudSurrounds ? 0.9 : 0.6);
        if (c.material == LoudSurrounds) set_peak(samples, 8, {4, 5, 6, 7}, 0.95f);
        for (size_t i = 0; c.material == BassWithSilentLfe && i < frames; ++i) {
            for (uint32_t ch : {0u, 1u, 2u, 4u, 5u}) {
                float& s = samples[i * 6 + ch];
                s = 0.5f * s + 0.45f * static_cast<float>(std::sin(6.283185307179586 * 60.0 * i / c.rate));
            }
            samples[i * 6 + 3] = 0.0f;
        }
        const std::string input = write_input("in.wav", samples, c.rate, c.channels, c.bits);
        PreprocessSettings options;
        options.bass_mode = c.mode;
        options.peak_guard = c.peak_guard;
        options.lfe_gain_db = 6.0;
        const StreamingSummary summary = stream(input, options);
        outputs.push_back(streamed());
        EXPECT_EQ(outputs.back(), whole_file_ac3(input, options)) << c.rate << " Hz, " << c.channels << " ch";
        EXPECT_EQ(passes(), c.passes) << c.rate << " Hz, " << c.channels << " ch";
        EXPECT_EQ(summary.input_frames, frames);
        EXPECT_EQ(summary.ac3_frames * 1792, outputs.back().size());
        EXPECT_EQ(summary.ac3_frames, ac3_frame_count(summary.delivered_frames));
    }
    EXPECT_NE(outputs[4], outputs[5]);
    EXPECT_NE(outputs[7], outputs[8]);
    EXPECT_EQ(test::decode_ac3(dir_.file("streamed.ac3"), 6).errors, "");
}

TEST_F(StreamingPreprocess, SilentInputWritesSilentFramesWithoutEncoding) {
    const std::string input = write_input("silent_71.wav", std::vector<float>(10000 * 8, 0.0f), 44100, 8, 16);
    const StreamingSummary summary = stream(input, {});
    EXPECT_EQ(summary.delivered_frames, 10000u * 160 / 147);
    EXPECT_EQ(passes(), (Labels{"Preprocessing"}));  // no encoding pass
    const Bytes silent = make_silent_frame(6, EncoderSettings{});
    Bytes expected;
    for (uint64_t f = 0; f < (10000u * 160 / 147 + 1535) / 1536; ++f) expected.insert(expected.end(), silent.begin(), silent.end());
    EXPECT_EQ(streamed(), expected);
    EXPECT_EQ(whole_file_ac3(input, {}), expected);

    // An empty data chunk (which the whole-file reader refuses) still yields one silent frame.
    const StreamingSummary empty = stream(write_input("empty.wav", {}, 48000, 2), {});
    EXPECT_EQ(empty.delivered_frames, 0u);
    EXPECT_EQ(streamed(), make_silent_frame(2, EncoderSettings{}));
}

TEST_F(StreamingPreprocess, NineThousandFramesAt96kHzGiveThreeFrames) {
    const StreamingSummary summary = stream(write_input("96k.wav", music(96000, 2, 9000), 96000, 2), {});
    EXPECT_EQ(summary.input_frames, 9000u);
    EXPECT_EQ(summary.delivered_frames, 4500u);
    EXPECT_EQ(summary.ac3_frames, 3u);
    EXPECT_EQ(streamed().size(), 3u * 1792);
    // Each pass reports 4096, 8192, 9000, then completes with (total, total).
    std::vector<uint64_t> encoding_progress;
    for (const Call& call : calls_) {
        EXPECT_EQ(call.total, 9000u);
        if (call.label == "Encoding") encoding_progress.push_back(call.done);
    }
    EXPECT_EQ(encoding_progress, (std::vector<uint64_t>{4096, 8192, 9000, 9000}));
    EXPECT_EQ(test::decode_ac3(dir_.file("streamed.ac3"), 2).errors, "");
}

TEST_F(StreamingPreprocess, RefusalsComeBeforeTheOutputExists) {
    struct Case {
        uint32_t rate, channels;
        BassMode mode;
        bool thx;
        Labels passes;  // run before the refusal
        std::string message;
    };
    const Case cases[] = {
        {48000, 6, BassMode::GenerateLfe, false, {"Bass analysis", "LFE analysis"},
         "source LFE is active; --generate-lfe is blocked unless --force-generate-lfe is supplied"},
        {48000, 2, BassMode::BassManagement, false, {}, "bass processing currently requires canonical 5.1 output layout"},
        {48000, 6, BassMode::None, true, {}, "internal THX preset requires bass-management mode"},
    };
    for (const Case& c : cases) {
        const std::string input = write_input("refused.wav", music(c.rate, c.channels, 8000), c.rate, c.channels);
        PreprocessSettings options;
        options.bass_mode = c.mode;
        options.thx = c.thx;
        std::filesystem::remove(dir_.file("streamed.ac3"));
        EXPECT_EQ(test::error_of([&] { stream(input, options); }), c.message);
        EXPECT_EQ(passes(), c.passes) << c.message;
        EXPECT_FALSE(std::filesystem::exists(dir_.file("streamed.ac3"))) << c.message;
    }
    // Forced generation goes ahead over the active source LFE.
    const std::string input = write_input("active_lfe.wav", music(48000, 6, 8000), 48000, 6);
    PreprocessSettings forced;
    forced.bass_mode = BassMode::GenerateLfe;
    forced.force_generate_lfe = true;
    stream(input, forced);
    EXPECT_EQ(streamed(), whole_file_ac3(input, forced));
}

TEST_F(StreamingPreprocess, WorkspaceDoesNotGrowWithTheInput) {
    // One 4096-frame block, the rate stage's window and its 160 x 47 taps,
    // whether the input lasts 2 or 20 seconds.
    uint32_t bytes[2] = {};
    for (const uint64_t seconds : {20u, 2u}) {
        const std::string input = write_input("long.wav", music(44100, 2, seconds * 44100), 44100, 2, 16);
        const StreamPassStats stats = run_preprocess_pass(read_stream_header(input), {}, 1.0f, false, 1.0f, "", {}, nullptr);
        EXPECT_EQ(stats.frames, seconds * 44100 * 160 / 147);
        bytes[seconds == 20] = stats.buffer_bytes;
    }
    EXPECT_EQ(bytes[0], bytes[1]);
    const uint32_t fixed = 4 * 4096 * 2 + 8 * 160 * 47;
    EXPECT_GE(bytes[0], fixed);
    EXPECT_LE(bytes[0], fixed + 4 * 2 * 70);

    // The route's peak is the largest of its passes and the 1792-frame sink.
    EXPECT_EQ(stream(dir_.file("long.wav"), {}).peak_workspace_bytes, bytes[0]);
    const std::string mono = write_input("mono48.wav", music(48000, 1, 20000), 48000, 1);
    EXPECT_EQ(stream(mono, {}).peak_workspace_bytes, 4u * 4096);  // the block beats 4 x 3584 of sink
}

}  // namespace
}  // namespace oskavi
