// End-to-end checks of the frame encoder against the reference decoder:
// every rate and channel configuration decodes cleanly and resembles the
// input, switches change what they should, and both routes write the same
// bytes.

#include "ac3/frame_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ac3/frame_window_sink.h"
#include "bitstream/rate_table.h"
#include "bitstream/verify.h"
#include "tests/ac3/encoder_fixtures.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/temp_dir.h"

namespace oskavi {
namespace {

using test::TempDirectory;

std::string error_of(auto&& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// Lowest acceptable SNR in dB per rate (index as kAc3Bitrates) for the
// music-like test material, a few dB under what the encoder reaches. A
// broken allocation, channel order or coupling drops far below these.
constexpr double kMonoFloor[19] = {7, 9, 12, 13, 14, 14, 15, 15, 16, 19, 20, 21, 22, 22, 22, 22, 22, 22, 22};
constexpr double kStereoFloor[19] = {3, 4, 5, 7, 8, 11, 12, 13, 13, 14, 15, 15, 17, 19, 19, 20, 20, 21, 21};
constexpr double kSurroundFloor[19] = {0, 0, 0, -2, -1, 3, 4, 5, 7, 8, 9, 11, 12, 13, 14, 14, 14, 14, 15};

struct LayoutCase {
    uint32_t channels;
    const double* floors;
};

class EveryRate : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(EveryRate, DecodesCleanlyAtTheExpectedSizeAndResemblesTheInput) {
    const auto [channels, floors] = GetParam();
    const PcmBuffer pcm = test::music_like_pcm(channels, 1.0);
    const uint64_t frames = ac3_frame_count(pcm.frame_count());
    TempDirectory dir;
    for (size_t i = 0; i < kAc3Bitrates.size(); ++i) {
        const uint32_t rate = kAc3Bitrates[i];
        SCOPED_TRACE(std::to_string(channels) + " ch at " + std::to_string(rate) + " kbit/s");
        EncoderOptions options;
        options.bitrate_kbps = rate;
        const std::string path = dir.file("out" + std::to_string(rate) + ".ac3");
        const std::string error = error_of([&] { encode_pcm_file(pcm, path, options, {}); });
        if (channels == 6 && rate <= 48) {
            // Five channels of side information alone overflow these frames.
            EXPECT_EQ(error, "unable to fit AC-3 frame even at zero SNR allocation");
            continue;
        }
        ASSERT_EQ(error, "");
        EXPECT_EQ(test::file_bytes(path).size(), frames * 4 * rate);
        std::ostringstream report;
        EXPECT_EQ(verify_ac3_file(path, report), 0);
        const test::DecodedAc3 decoded = test::decode_ac3(path, channels);
        EXPECT_EQ(decoded.errors, "");
        EXPECT_EQ(decoded.samples.size(), frames * 1536 * channels);
        for (uint32_t c = 0; c < channels; ++c) {
            EXPECT_GE(test::channel_snr_db(pcm.samples, decoded.samples, channels, c, 256), floors[i])
                << "channel " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, EveryRate,
                         ::testing::Values(LayoutCase{1, kMonoFloor}, LayoutCase{2, kStereoFloor},
                                           LayoutCase{6, kSurroundFloor}),
                         [](const auto& info) { return std::to_string(info.param.channels) + "ch"; });

// Each input channel carries its own tone; the decoder must return every
// tone on the channel it came from (input order L, R, C, LFE, Ls, Rs).
TEST(FrameEncoder, SurroundChannelsComeBackInTheirOwnPositions) {
    const double tones[6] = {300, 500, 700, 60, 1100, 1300};
    PcmBuffer pcm{48000, 6, ChannelLayout::Surround51, {}};
    const size_t frames = 48000;
    pcm.samples.resize(frames * 6);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 6; ++c)
            pcm.samples[i * 6 + c] = static_cast<float>(0.4 * std::sin(6.283185307179586 * tones[c] * i / 48000.0));
    TempDirectory dir;
    EncoderOptions options;
    encode_pcm_file(pcm, dir.file("tones.ac3"), options, {});
    const auto decoded = test::decode_ac3(dir.file("tones.ac3"), 6);
    ASSERT_EQ(decoded.errors, "");
    for (uint32_t c = 0; c < 6; ++c) EXPECT_GT(test::channel_snr_db(pcm.samples, decoded.samples, 6, c, 256), 20.0) << c;
}

std::vector<uint8_t> encode_to_bytes(const PcmBuffer& pcm, const EncoderOptions& options, const TempDirectory& dir) {
    const std::string path = dir.file("switch.ac3");
    encode_pcm_file(pcm, path, options, {});
    return test::file_bytes(path);
}

TEST(FrameEncoder, CouplingIsUsedOnlyWhereTheRateAllowsIt) {
    const PcmBuffer pcm = test::music_like_pcm(2, 1.0, 0.97, false);
    TempDirectory dir;
    for (uint32_t rate : {112u, 192u, 320u}) {
        EncoderOptions options;
        options.bitrate_kbps = rate;
        const auto flags = test::stereo_cplinu_flags(encode_to_bytes(pcm, options, dir), 4 * rate);
        const auto coupled = std::count(flags.begin(), flags.end(), 1);
        if (rate == 192)
            EXPECT_GT(coupled, static_cast<long>(flags.size() / 2)) << rate;
        else
            EXPECT_EQ(coupled, 0) << rate;
        options.coupling = false;
        const auto off = test::stereo_cplinu_flags(encode_to_bytes(pcm, options, dir), 4 * rate);
        EXPECT_EQ(std::count(off.begin(), off.end(), 1), 0) << rate;
    }
}

// Every coding switch yields a valid, cleanly decodable stream; the switches
// that can matter for this input change the bytes.
TEST(FrameEncoder, CodingSwitchesProduceValidStreams) {
    const PcmBuffer pcm = test::music_like_pcm(2, 1.0, 0.95, true);
    TempDirectory dir;
    EncoderOptions base;
    base.bitrate_kbps = 192;
    const auto reference = encode_to_bytes(pcm, base, dir);
    struct Switch {
        const char* name;
        void (*apply)(EncoderOptions&);
        bool changes_bytes;
    };
    const Switch switches[] = {
        {"no coupling", [](EncoderOptions& o) { o.coupling = false; }, true},
        {"no coordinate reuse", [](EncoderOptions& o) { o.coupling_coordinate_reuse = false; }, true},
        {"no block switching", [](EncoderOptions& o) { o.block_switching = false; }, true},
        {"legacy detector", [](EncoderOptions& o) { o.hierarchical_transient_detector = false; }, true},
        {"no exponent adaptation at 448", [](EncoderOptions& o) { o.exponent_adaptation = false; o.bitrate_kbps = 448; }, true},
    };
    for (const Switch& s : switches) {
        SCOPED_TRACE(s.name);
        EncoderOptions options = base;
        s.apply(options);
        const auto bytes = encode_to_bytes(pcm, options, dir);
        std::ostringstream report;
        EXPECT_EQ(verify_ac3_file(dir.file("switch.ac3"), report), 0);
        EXPECT_EQ(test::decode_ac3(dir.file("switch.ac3"), 2).errors, "");
        if (options.bitrate_kbps == base.bitrate_kbps) EXPECT_EQ(bytes != reference, s.changes_bytes);
    }
    EncoderOptions adaptive = base;
    adaptive.bitrate_kbps = 448;
    EncoderOptions fixed = adaptive;
    fixed.exponent_adaptation = false;
    EXPECT_NE(encode_to_bytes(pcm, adaptive, dir), encode_to_bytes(pcm, fixed, dir));
}

TEST(FrameEncoder, WholeFileAndFrameWindowSinkWriteIdenticalBytes) {
    for (uint32_t channels : {1u, 2u, 6u}) {
        // Not a whole number of frames, so the final partial chunk is covered.
        const PcmBuffer pcm = test::music_like_pcm(channels, 0.5);
        TempDirectory dir;
        EncoderOptions options;
        options.bitrate_kbps = channels == 2 ? 192 : 448;
        encode_pcm_file(pcm, dir.file("whole.ac3"), options, {});
        std::ostringstream streamed;
        FrameWindowSink sink(streamed, channels, pcm.layout, options);
        // Odd block sizes, as a resampler would deliver them.
        for (size_t at = 0; at < pcm.samples.size();) {
            const size_t take = std::min<size_t>(pcm.samples.size() - at, 1000 * channels);
            sink.push(std::span<const float>(pcm.samples).subspan(at, take));
            at += take;
        }
        sink.finish();
        const auto whole = test::file_bytes(dir.file("whole.ac3"));
        const std::string bytes = streamed.str();
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), whole) << channels;
        EXPECT_EQ(sink.frames_written(), ac3_frame_count(pcm.frame_count()));
    }
}

TEST(FrameEncoder, FrameCountCoversThePaddedInput) {
    EXPECT_EQ(ac3_frame_count(0), 1u);
    EXPECT_EQ(ac3_frame_count(1536), 1u);
    EXPECT_EQ(ac3_frame_count(1537), 2u);
    TempDirectory dir;
    PcmBuffer empty{48000, 2, ChannelLayout::Stereo, {}};
    encode_pcm_file(empty, dir.file("empty.ac3"), EncoderOptions{}, {});
    EXPECT_EQ(test::file_bytes(dir.file("empty.ac3")).size(), 1792u);
}

TEST(FrameEncoder, SilentInputRepeatsOneSilentFrameForAnyChannelCount) {
    TempDirectory dir;
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        PcmBuffer pcm{48000, channels, channels == 6 ? ChannelLayout::Surround51 : ChannelLayout::Unknown, {}};
        pcm.samples.assign(4000 * channels, 1e-12f);  // within the silence threshold
        EncoderOptions options;
        options.bitrate_kbps = 96;
        const std::string path = dir.file("silent.ac3");
        encode_pcm_file(pcm, path, options, {});
        const auto bytes = test::file_bytes(path);
        ASSERT_EQ(bytes.size(), 3u * 384);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 384, bytes.begin() + 384));
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 384, bytes.begin() + 768));
        EXPECT_EQ(make_silent_frame(channels, options), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 384));

        // One sample just above the threshold makes the input non-silent.
        pcm.samples[5] = 2e-12f;
        const std::string error = error_of([&] { encode_pcm_file(pcm, path, options, {}); });
        if (channels >= 3 && channels <= 5)
            EXPECT_EQ(error, "non-silent encode supports mono, stereo, and canonical 5.1 at this milestone");
        else if (channels == 6)
            EXPECT_EQ(error, "");
    }
}

TEST(FrameEncoder, RejectsContractViolationsWithTheirMessages) {
    TempDirectory dir;
    const std::string path = dir.file("x.ac3");
    PcmBuffer pcm = test::music_like_pcm(2, 0.05);
    EncoderOptions options;
    pcm.sample_rate = 44100;
    EXPECT_EQ(error_of([&] { encode_pcm_file(pcm, path, options, {}); }), "AC-3 core contract requires 48 kHz PCM");
    pcm.sample_rate = 48000;
    options.dialnorm_db = 0;
    EXPECT_EQ(error_of([&] { encode_pcm_file(pcm, path, options, {}); }), "dialnorm must be -31..-1 dB");
    EXPECT_EQ(error_of([&] { make_silent_frame(2, options); }), "dialnorm must be -31..-1 dB");
    options.dialnorm_db = -31;
    pcm.layout = ChannelLayout::Unknown;
    EXPECT_EQ(error_of([&] { encode_pcm_file(pcm, path, options, {}); }),
              "non-silent AC-3 requires mono, stereo, or canonical 5.1 input");
    PcmBuffer six = test::music_like_pcm(6, 0.05);
    six.layout = ChannelLayout::Unknown;
    EXPECT_EQ(error_of([&] { encode_pcm_file(six, path, options, {}); }),
              "6-channel non-silent input requires canonical 5.1 layout");
    EXPECT_EQ(error_of([&] { encode_pcm_file(test::music_like_pcm(2, 0.05), "/nonexistent-dir/x.ac3", options, {}); }),
              "Cannot create output: /nonexistent-dir/x.ac3");
}

TEST(FrameEncoder, FrameWindowContract) {
    EncoderOptions options;
    FrameWindow window{48000, 2, ChannelLayout::Stereo, std::vector<float>(1792 * 2, 0.0f)};
    EXPECT_EQ(encode_frame_window(window, options).size(), 1792u);
    auto with = [&](auto change) {
        FrameWindow w = window;
        change(w);
        return error_of([&] { encode_frame_window(w, options); });
    };
    EXPECT_EQ(with([](FrameWindow& w) { w.sample_rate = 44100; }), "AC-3 frame-window contract requires 48 kHz PCM");
    EXPECT_EQ(with([](FrameWindow& w) { w.samples.resize(1791 * 2); }),
              "AC-3 frame-window contract requires exactly 1792 PCM frames");
    EXPECT_EQ(with([](FrameWindow& w) { w.samples.resize(1793 * 2); }),
              "AC-3 frame-window contract requires exactly 1792 PCM frames");
    EXPECT_EQ(with([](FrameWindow& w) { w.channels = 0; }), "AC-3 frame-window contract requires exactly 1792 PCM frames");
    EXPECT_EQ(with([](FrameWindow& w) { w.channels = 4; w.samples.resize(1792 * 4); }),
              "AC-3 frame-window supports mono/stereo/canonical 5.1");
    EXPECT_EQ(with([](FrameWindow& w) { w.channels = 6; w.samples.resize(1792 * 6); }),
              "6-channel frame-window requires canonical 5.1 layout");
}

}  // namespace
}  // namespace oskavi
