// End-to-end checks of the frame encoder against the reference decoder:
// every rate and channel configuration decodes cleanly and resembles the
// input, switches change what they should, and both routes write the same
// bytes.

#include "ac3/frame_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <sstream>

#include "ac3/frame_window_sink.h"
#include "bitstream/rate_table.h"
#include "bitstream/verify.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

using test::error_of;
using test::TempDirectory;

// Noise, tones and percussive bursts at 48 kHz; for 6 channels the LFE
// (position 3) carries a 50 Hz tone instead, as real LFE content would.
PcmBuffer music_like_pcm(uint32_t channels, double seconds, double correlation = 0.6, bool transients = true) {
    tools::SignalShape shape;
    shape.channels = channels;
    shape.seconds = seconds;
    shape.correlation = correlation;
    shape.transients = transients;
    PcmBuffer pcm{48000, channels,
                  channels == 1   ? ChannelLayout::Mono
                  : channels == 2 ? ChannelLayout::Stereo
                                  : ChannelLayout::Surround51,
                  tools::make_test_signal(shape)};
    for (uint64_t i = 0; channels == 6 && i < pcm.frame_count(); ++i)
        pcm.samples[i * 6 + 3] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 50.0 * i / 48000.0));
    return pcm;
}

std::vector<uint8_t> encode_to_bytes(const PcmBuffer& pcm, const EncoderSettings& options, const TempDirectory& dir) {
    encode_pcm_file(pcm, dir.file("out.ac3"), options, {});
    return test::file_bytes(dir.file("out.ac3"));
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
    const PcmBuffer pcm = music_like_pcm(channels, 1.0);
    const uint64_t frames = ac3_frame_count(pcm.frame_count());
    TempDirectory dir;
    for (size_t i = 0; i < kAc3Bitrates.size(); ++i) {
        const uint32_t rate = kAc3Bitrates[i];
        SCOPED_TRACE(std::to_string(channels) + " ch at " + std::to_string(rate) + " kbit/s");
        EncoderSettings options;
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
    PcmBuffer pcm{48000, 6, ChannelLayout::Surround51, std::vector<float>(48000 * 6)};
    for (size_t i = 0; i < pcm.samples.size(); ++i)
        pcm.samples[i] = static_cast<float>(0.4 * std::sin(2.0 * std::numbers::pi * tones[i % 6] * (i / 6) / 48000.0));
    TempDirectory dir;
    encode_to_bytes(pcm, EncoderSettings{}, dir);
    const auto decoded = test::decode_ac3(dir.file("out.ac3"), 6);
    ASSERT_EQ(decoded.errors, "");
    for (uint32_t c = 0; c < 6; ++c) EXPECT_GT(test::channel_snr_db(pcm.samples, decoded.samples, 6, c, 256), 20.0) << c;
}

// cplinu of each frame of a stereo stream written by this encoder: block 0
// follows syncinfo (40 bits) and a BSI of fixed length (bsid 5, bsmod 3,
// acmod 3, dsurmod 2, lfeon 1, dialnorm 5, eight 1-bit flags); cplinu comes
// after blksw[2], dithflag[2], dynrnge and cplstre.
long coupled_frames(const std::vector<uint8_t>& stream, uint32_t frame_bytes) {
    constexpr uint32_t kCplinu = 40 + 5 + 3 + 3 + 2 + 1 + 5 + 8 + 2 + 2 + 1 + 1;
    long count = 0;
    for (size_t at = 0; at + frame_bytes <= stream.size(); at += frame_bytes)
        count += (stream[at + kCplinu / 8] >> (7 - kCplinu % 8)) & 1;
    return count;
}

TEST(FrameEncoder, CouplingIsUsedOnlyWhereTheRateAllowsIt) {
    const PcmBuffer pcm = music_like_pcm(2, 1.0, 0.97, false);
    const long frames = static_cast<long>(ac3_frame_count(pcm.frame_count()));
    TempDirectory dir;
    for (uint32_t rate : {112u, 192u, 320u}) {
        EncoderSettings options;
        options.bitrate_kbps = rate;
        const long coupled = coupled_frames(encode_to_bytes(pcm, options, dir), 4 * rate);
        if (rate == 192) {
            EXPECT_GT(coupled, frames / 2);
        } else {
            EXPECT_EQ(coupled, 0) << rate;
        }
        options.coupling = false;
        EXPECT_EQ(coupled_frames(encode_to_bytes(pcm, options, dir), 4 * rate), 0) << rate;
    }
}

// Every coding switch yields a valid, cleanly decodable stream that differs
// from the stream without the switch at the same rate.
TEST(FrameEncoder, CodingSwitchesProduceValidStreams) {
    const PcmBuffer pcm = music_like_pcm(2, 1.0, 0.95, true);
    TempDirectory dir;
    const struct {
        const char* name;
        uint32_t kbps;
        std::function<void(EncoderSettings&)> apply;
    } switches[] = {
        {"no coupling", 192, [](EncoderSettings& o) { o.coupling = false; }},
        {"no coordinate reuse", 192, [](EncoderSettings& o) { o.coupling_coordinate_reuse = false; }},
        {"no block switching", 192, [](EncoderSettings& o) { o.block_switching = false; }},
        {"legacy detector", 192, [](EncoderSettings& o) { o.hierarchical_transient_detector = false; }},
        {"no exponent adaptation", 448, [](EncoderSettings& o) { o.exponent_adaptation = false; }},
    };
    for (const auto& s : switches) {
        SCOPED_TRACE(s.name);
        EncoderSettings options;
        options.bitrate_kbps = s.kbps;
        const auto reference = encode_to_bytes(pcm, options, dir);
        s.apply(options);
        EXPECT_NE(encode_to_bytes(pcm, options, dir), reference);
        std::ostringstream report;
        EXPECT_EQ(verify_ac3_file(dir.file("out.ac3"), report), 0);
        EXPECT_EQ(test::decode_ac3(dir.file("out.ac3"), 2).errors, "");
    }
}

TEST(FrameEncoder, WholeFileAndFrameWindowSinkWriteIdenticalBytes) {
    for (uint32_t channels : {1u, 2u, 6u}) {
        // Not a whole number of frames, so the final partial chunk is covered.
        const PcmBuffer pcm = music_like_pcm(channels, 0.5);
        TempDirectory dir;
        EncoderSettings options;
        options.bitrate_kbps = channels == 2 ? 192 : 448;
        const auto whole = encode_to_bytes(pcm, options, dir);
        Ac3OutputFile streamed(dir.file("streamed.ac3"));
        FrameWindowSink sink(streamed, channels, pcm.layout, options);
        // Odd block sizes, as a resampler would deliver them.
        for (size_t at = 0; at < pcm.samples.size(); at += 1000 * channels) {
            sink.push(std::span<const float>(pcm.samples).subspan(at, std::min<size_t>(pcm.samples.size() - at, 1000 * channels)));
        }
        sink.finish();
        streamed.close();
        EXPECT_EQ(test::file_bytes(dir.file("streamed.ac3")), whole) << channels;
        EXPECT_EQ(sink.frames_written(), ac3_frame_count(pcm.frame_count()));
    }
}

TEST(FrameEncoder, FrameCountCoversThePaddedInput) {
    EXPECT_EQ(ac3_frame_count(0), 1u);
    EXPECT_EQ(ac3_frame_count(1536), 1u);
    EXPECT_EQ(ac3_frame_count(1537), 2u);
    TempDirectory dir;
    EXPECT_EQ(encode_to_bytes(PcmBuffer{48000, 2, ChannelLayout::Stereo, {}}, EncoderSettings{}, dir).size(), 1792u);
}

TEST(FrameEncoder, SilentInputRepeatsOneSilentFrameForAnyChannelCount) {
    TempDirectory dir;
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        const ChannelLayout layouts[] = {ChannelLayout::Mono,    ChannelLayout::Stereo,  ChannelLayout::Unknown,
                                         ChannelLayout::Unknown, ChannelLayout::Unknown, ChannelLayout::Surround51};
        PcmBuffer pcm{48000, channels, layouts[channels - 1], {}};
        pcm.samples.assign(4000 * channels, 1e-12f);  // within the silence threshold
        EncoderSettings options;
        options.bitrate_kbps = 96;
        const auto bytes = encode_to_bytes(pcm, options, dir);
        const std::vector<uint8_t> silent = make_silent_frame(channels, options);
        ASSERT_EQ(bytes.size(), 3u * 384);
        for (size_t f = 0; f < 3; ++f) EXPECT_TRUE(std::equal(silent.begin(), silent.end(), bytes.begin() + 384 * f)) << f;

        // One sample just above the threshold makes the input non-silent.
        pcm.samples[5] = 2e-12f;
        const std::string error = error_of([&] { encode_to_bytes(pcm, options, dir); });
        EXPECT_EQ(error, channels >= 3 && channels <= 5
                             ? "non-silent encode supports mono, stereo, and canonical 5.1 at this milestone"
                             : "");
    }
}

TEST(FrameEncoder, RejectsContractViolationsWithTheirMessages) {
    TempDirectory dir;
    PcmBuffer pcm = music_like_pcm(2, 0.05);
    EncoderSettings options;
    const auto encode = [&](const std::string& path = "x.ac3") {
        return error_of([&] { encode_pcm_file(pcm, path[0] == '/' ? path : dir.file(path), options, {}); });
    };
    EXPECT_EQ(encode("/nonexistent-dir/x.ac3"), "Cannot create output: /nonexistent-dir/x.ac3");
    pcm.sample_rate = 44100;
    EXPECT_EQ(encode(), "AC-3 core contract requires 48 kHz PCM");
    pcm.sample_rate = 48000;
    options.dialnorm_db = 0;
    EXPECT_EQ(encode(), "dialnorm must be -31..-1 dB");
    EXPECT_EQ(error_of([&] { make_silent_frame(2, options); }), "dialnorm must be -31..-1 dB");
    options.dialnorm_db = -31;
    pcm.layout = ChannelLayout::Unknown;
    EXPECT_EQ(encode(), "non-silent AC-3 requires mono, stereo, or canonical 5.1 input");
    pcm = music_like_pcm(6, 0.05);
    pcm.layout = ChannelLayout::Unknown;
    EXPECT_EQ(encode(), "6-channel non-silent input requires canonical 5.1 layout");
}

TEST(FrameEncoder, FrameWindowContract) {
    const FrameWindow window{48000, 2, ChannelLayout::Stereo, std::vector<float>(1792 * 2, 0.0f)};
    EXPECT_EQ(encode_frame_window(window, EncoderSettings{}).size(), 1792u);
    const struct {
        std::function<void(FrameWindow&)> change;
        const char* message;
    } cases[] = {
        {[](FrameWindow& w) { w.sample_rate = 44100; }, "AC-3 frame-window contract requires 48 kHz PCM"},
        {[](FrameWindow& w) { w.samples.resize(1791 * 2); }, "AC-3 frame-window contract requires exactly 1792 PCM frames"},
        {[](FrameWindow& w) { w.samples.resize(1793 * 2); }, "AC-3 frame-window contract requires exactly 1792 PCM frames"},
        {[](FrameWindow& w) { w.channels = 0; }, "AC-3 frame-window contract requires exactly 1792 PCM frames"},
        {[](FrameWindow& w) { w.channels = 4; w.samples.resize(1792 * 4); }, "AC-3 frame-window supports mono/stereo/canonical 5.1"},
        {[](FrameWindow& w) { w.channels = 6; w.samples.resize(1792 * 6); }, "6-channel frame-window requires canonical 5.1 layout"},
    };
    for (const auto& c : cases) {
        FrameWindow w = window;
        c.change(w);
        EXPECT_EQ(error_of([&] { encode_frame_window(w, EncoderSettings{}); }), c.message);
    }
}

}  // namespace
}  // namespace oskavi
