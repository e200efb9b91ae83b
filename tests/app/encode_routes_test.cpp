// The built binary's two routes on inputs the golden set does not hold: the
// streaming route writes the bytes of the whole-file route, and silent inputs
// become repeats of the one silent frame on every route.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "ac3/frame_encoder.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

using Args = std::vector<std::string>;
using Samples = std::vector<float>;

// Every channel in `which` rescaled to peak at `peak`.
void set_peak(Samples& samples, uint32_t channels, std::initializer_list<uint32_t> which, float peak) {
    for (uint32_t c : which) {
        float old = 0.0f;
        for (size_t i = c; i < samples.size(); i += channels) old = std::max(old, std::fabs(samples[i]));
        for (size_t i = c; i < samples.size(); i += channels) samples[i] *= peak / old;
    }
}

// Loud 60 Hz bass in the five mains and a silent LFE: generated LFE sums far above 1.0.
void bass_with_silent_lfe(Samples& samples, uint32_t rate) {
    for (size_t i = 0; i < samples.size() / 6; ++i) {
        for (uint32_t ch : {0u, 1u, 2u, 4u, 5u})
            samples[i * 6 + ch] = 0.5f * samples[i * 6 + ch] + 0.45f * static_cast<float>(std::sin(6.283185307179586 * 60.0 * i / rate));
        samples[i * 6 + 3] = 0.0f;
    }
}

// Identical channels near full scale (the decoded centre exceeds 1.0, so the
// matrix scale engages), R inverted in the second half so the surround steers.
void steered(Samples& samples, uint32_t) {
    set_peak(samples, 2, {0, 1}, 0.95f);
    for (size_t i = samples.size() / 2 + 1; i < samples.size(); i += 2) samples[i] = -samples[i];
}

TEST(EncodeRoutes, StreamingWritesTheBytesOfTheWholeFileRoute) {
    const std::function<void(Samples&, uint32_t)> plain = [](Samples&, uint32_t) {};
    const std::function<void(Samples&, uint32_t)> loud_surrounds = [](Samples& s, uint32_t) { set_peak(s, 8, {4, 5, 6, 7}, 0.95f); };
    struct Case {
        uint32_t channels, rate, bits;
        double correlation;
        std::function<void(Samples&, uint32_t)> shape;
        Args options;
        int differs_from;  // index of a case that must give other bytes, or -1
    };
    const Case cases[] = {
        {1, 96000, 24, 0.6, plain, {}, -1},
        {8, 88200, 32, 0.9, loud_surrounds, {}, -1},  // the surround peak guard engages...
        {8, 88200, 32, 0.9, loud_surrounds, {"--no-peak-guard"}, 1},
        {6, 44100, 32, 0.6, bass_with_silent_lfe, {"--generate-lfe"}, -1},  // ...and so does the LFE guard
        {6, 44100, 32, 0.6, bass_with_silent_lfe, {"--generate-lfe", "--no-peak-guard"}, 3},
        {6, 44100, 32, 0.6, bass_with_silent_lfe, {"--bass-management", "--lfe-gain", "6"}, -1},
        {2, 96000, 32, 1.0, steered, {"--matrix-decode", "--rear-delay", "0"}, -1},
        {2, 96000, 32, 1.0, steered, {"--matrix-decode", "--thx"}, -1},
    };
    TempDirectory dir;
    std::vector<std::vector<uint8_t>> outputs;
    for (const Case& c : cases) {
        const std::string name = std::to_string(outputs.size());
        Samples samples = tools::make_test_signal({c.rate, c.channels, 0.4, c.correlation, c.channels != 2, 7});
        c.shape(samples, c.rate);
        const std::string input = dir.file(name + ".wav");
        tools::write_wav(input, samples, c.rate, c.channels, c.bits);
        Args streaming = {input, dir.file(name + "s.ac3")};
        streaming.insert(streaming.end(), c.options.begin(), c.options.end());
        Args whole = streaming;
        whole[1] = dir.file(name + "w.ac3");
        whole.push_back("--no-streaming");
        const ProcessResult s = run_oskavi(streaming);
        const ProcessResult w = run_oskavi(whole);
        ASSERT_EQ(s.exit_code + w.exit_code, 0) << name << s.err << w.err;
        EXPECT_NE(s.out.find("Processing: stateful streaming"), std::string::npos) << name;
        EXPECT_EQ(w.out.find("stateful streaming"), std::string::npos) << name;
        EXPECT_NE(s.out.find("\rEncoding        ["), std::string::npos) << "progress meter";
        outputs.push_back(file_bytes(dir.file(name + "s.ac3")));
        EXPECT_EQ(outputs.back(), file_bytes(dir.file(name + "w.ac3"))) << name;
        if (c.differs_from >= 0) {
            EXPECT_NE(outputs.back(), outputs[c.differs_from]) << name;
        }
    }
    EXPECT_EQ(decode_ac3(dir.file("7s.ac3"), 6).errors, "");  // matrix with a bass-managed LFE
}

TEST(EncodeRoutes, SilentInputsRepeatTheSilentFrameOnEveryRoute) {
    struct Case {
        uint32_t channels, rate, bits, frames;
        float level;  // every sample; 1e-12 is within the silence threshold
        Args options;
        uint32_t ac3_channels, ac3_frames;
    };
    const Case cases[] = {
        {2, 48000, 16, 4000, 0.0f, {}, 2, 3},
        {2, 48000, 16, 4000, 0.0f, {"--no-streaming", "--bitrate", "96"}, 2, 3},
        {1, 48000, 32, 4000, 1e-12f, {"--no-streaming"}, 1, 3},
        {2, 48000, 32, 1536, 1e-12f, {}, 2, 1},
        {8, 44100, 16, 10000, 0.0f, {}, 6, 8},  // 10884 frames at 48 kHz
        {8, 44100, 16, 10000, 0.0f, {"--no-streaming"}, 6, 8},
        {2, 44100, 16, 22050, 0.0f, {"--matrix-decode"}, 6, 17},  // 20 ms of rear delay: 24960 frames
        {2, 44100, 16, 22050, 0.0f, {"--matrix-decode", "--no-streaming"}, 6, 17},
        {2, 48000, 16, 0, 0.0f, {}, 2, 1},  // an empty data chunk, which only the streaming reader takes
    };
    TempDirectory dir;
    for (const Case& c : cases) {
        const std::string input = dir.file("silent.wav");
        tools::write_wav(input, Samples(size_t{c.channels} * c.frames, c.level), c.rate, c.channels, c.bits);
        Args args = {input, dir.file("silent.ac3"), "--quiet"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ProcessResult r = run_oskavi(args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EncoderSettings settings;
        if (c.options.size() == 3) settings.bitrate_kbps = 96;
        const std::vector<uint8_t> frame = make_silent_frame(c.ac3_channels, settings);
        std::vector<uint8_t> expected;
        for (uint32_t f = 0; f < c.ac3_frames; ++f) expected.insert(expected.end(), frame.begin(), frame.end());
        EXPECT_EQ(file_bytes(dir.file("silent.ac3")), expected) << &c - cases;
    }
    // Twice the threshold is sound, and is encoded as such.
    const std::string input = dir.file("faint.wav");
    tools::write_wav(input, Samples(4000, 2e-12f), 48000, 1, 32);
    ASSERT_EQ(run_oskavi({input, dir.file("faint.ac3"), "--quiet"}).exit_code, 0);
    const std::vector<uint8_t> faint = file_bytes(dir.file("faint.ac3"));
    const std::vector<uint8_t> silent = make_silent_frame(1, EncoderSettings{});
    ASSERT_EQ(faint.size(), 3 * silent.size());
    EXPECT_FALSE(std::equal(silent.begin(), silent.end(), faint.begin()));
}

}  // namespace
}  // namespace oskavi::test
