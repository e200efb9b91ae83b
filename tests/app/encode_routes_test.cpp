// The built binary's two routes on inputs the golden set does not hold: the
// streaming route writes the bytes of the whole-file route, a FLAC input
// resampled as it is decoded gives what the same samples read whole give, and
// silent inputs become repeats of the one silent frame on every route (plain
// 48 kHz silence on both routes is in the golden set).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>

#include "ac3/frame_encoder.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

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
        const ProcessResult s = run_oskavi(joined({input, dir.file(name + "s.ac3")}, c.options));
        const ProcessResult w = run_oskavi(joined({input, dir.file(name + "w.ac3"), "--no-streaming"}, c.options));
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
    EXPECT_EQ(decode_ac3(dir.file("7s.ac3")).errors, "");  // matrix with a bass-managed LFE
}

TEST(EncodeRoutes, FlacResampledWhileDecodedGivesTheBytesAndLinesOfTheWholeInput) {
    struct Case {
        uint32_t channels, rate;
        Args options;
    };
    // Every rate the rate stage converts; a 7.1 input and a matrix decode are
    // read whole whatever the container.
    const Case cases[] = {
        {2, 44100, {}},
        {6, 88200, {"--bass-management"}},
        {1, 96000, {}},
        {2, 176400, {"--bitrate", "192"}},
        {6, 192000, {"--generate-lfe", "--force-generate-lfe"}},
        {8, 96000, {}},
        {2, 44100, {"--matrix-decode"}},
    };
    TempDirectory dir;
    for (const Case& c : cases) {
        const std::string name = std::to_string(&c - cases);
        // Longer than one batch of the rate stage, and not a whole number of FLAC blocks.
        const Samples samples = tools::make_test_signal({c.rate, c.channels, 0.73, 0.6, c.channels != 2, 3});
        const std::string wav = dir.file(name + ".wav");
        const std::string flac = dir.file(name + ".flac");
        tools::write_wav(wav, samples, c.rate, c.channels, 24);
        ASSERT_EQ(run_process({"flac", "-s", "-f", "--channel-map=none", "-o", flac, wav}).exit_code, 0);
        const ProcessResult w = run_oskavi(joined({wav, dir.file(name + "w.ac3"), "--no-streaming"}, c.options));
        ASSERT_EQ(w.exit_code, 0) << name << w.err;
        // One thread filters as it decodes; more hand the blocks to a thread of the rate stage.
        for (const char* threads : {"1", "3"}) {
            const ProcessResult f = run_oskavi(joined({flac, dir.file(name + "f.ac3")}, c.options), {{"OSKAVI_THREADS", threads}});
            ASSERT_EQ(f.exit_code, 0) << name << f.err;
            std::string flac_lines = f.out;  // the input line names the container
            ASSERT_NE(flac_lines.find(", FLAC)"), std::string::npos) << f.out;
            flac_lines.replace(flac_lines.find(", FLAC)"), 7, ", WAVE)");
            EXPECT_EQ(flac_lines, w.out) << name << " on " << threads;
            EXPECT_EQ(file_bytes(dir.file(name + "f.ac3")), file_bytes(dir.file(name + "w.ac3"))) << name << " on " << threads;
        }
    }
    // A stream that breaks off after blocks have gone to the rate stage: the
    // decoder's refusal, and no output, whichever thread was filtering.
    std::vector<uint8_t> broken = file_bytes(dir.file("0.flac"));
    std::fill(broken.begin() + static_cast<std::ptrdiff_t>(broken.size() / 2), broken.end(), uint8_t{0});
    write_file_bytes(dir.file("broken.flac"), broken);
    for (const char* threads : {"1", "3"}) {
        const ProcessResult r = run_oskavi({dir.file("broken.flac"), dir.file("broken.ac3")}, {{"OSKAVI_THREADS", threads}});
        EXPECT_EQ(r.exit_code, 2) << threads;
        EXPECT_EQ(r.err, "Error: libFLAC decode error: lost sync\n") << threads;
        EXPECT_FALSE(std::filesystem::exists(dir.file("broken.ac3"))) << threads;
    }
}

TEST(EncodeRoutes, SilentInputsRepeatTheSilentFrameOnEveryRoute) {
    struct Case {
        uint32_t channels, rate, bits, frames;
        float level;  // every sample; 1e-12 is within the silence threshold, twice that is sound
        Args options;
        uint32_t ac3_channels, ac3_frames;
    };
    const Case cases[] = {
        {1, 48000, 32, 4000, 1e-12f, {"--no-streaming"}, 1, 3},
        {2, 48000, 32, 1536, 1e-12f, {}, 2, 1},
        {8, 44100, 16, 10000, 0.0f, {}, 6, 8},  // 10884 frames at 48 kHz
        {8, 44100, 16, 10000, 0.0f, {"--no-streaming"}, 6, 8},
        {2, 44100, 16, 22050, 0.0f, {"--matrix-decode"}, 6, 17},  // 20 ms of rear delay: 24960 frames
        {2, 44100, 16, 22050, 0.0f, {"--matrix-decode", "--no-streaming"}, 6, 17},
        {2, 48000, 16, 0, 0.0f, {}, 2, 1},  // an empty data chunk, which only the streaming reader takes
        {1, 48000, 32, 4000, 2e-12f, {}, 1, 3},
    };
    TempDirectory dir;
    for (const Case& c : cases) {
        const std::string input = dir.file("silent.wav");
        tools::write_wav(input, Samples(size_t{c.channels} * c.frames, c.level), c.rate, c.channels, c.bits);
        const ProcessResult r = run_oskavi(joined({input, dir.file("silent.ac3"), "--quiet"}, c.options));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::vector<uint8_t> frame = make_silent_frame(c.ac3_channels, EncoderSettings{});
        std::vector<uint8_t> expected;
        for (uint32_t f = 0; f < c.ac3_frames; ++f) expected.insert(expected.end(), frame.begin(), frame.end());
        const std::vector<uint8_t> written = file_bytes(dir.file("silent.ac3"));
        ASSERT_EQ(written.size(), expected.size()) << &c - cases;
        EXPECT_EQ(written == expected, c.level < 2e-12f) << &c - cases;
    }
}

}  // namespace
}  // namespace oskavi::test
