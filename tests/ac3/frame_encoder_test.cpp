// End-to-end checks of the frame encoder against two independent decoders:
// every rate and channel configuration decodes cleanly and resembles the
// input (each channel in its own place); coupling is used where it pays, its
// coordinates resent only when they change.

#include "ac3/frame_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>

#include "ac3/coupling.h"
#include "bitstream/rate_table.h"
#include "bitstream/verify.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/bsi_reader.h"
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
    PcmBuffer pcm{48000, channels,
                  channels == 1   ? ChannelLayout::Mono
                  : channels == 2 ? ChannelLayout::Stereo
                                  : ChannelLayout::Surround51,
                  tools::make_test_signal({48000, channels, seconds, correlation, transients})};
    for (uint64_t i = 0; channels == 6 && i < pcm.frame_count(); ++i)
        pcm.samples[i * 6 + 3] = static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 50.0 * i / 48000.0));
    return pcm;
}

// Lowest acceptable SNR in dB per rate (index as kAc3Bitrates) for the
// music-like test material, a few dB under what the encoder reaches. A
// broken allocation, channel order or coupling drops far below these (the
// channels share only part of their content, the LFE carries its own tone).
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
        const test::DecodedAc3 decoded = test::decode_ac3(path);
        EXPECT_EQ(decoded.errors, "");
        EXPECT_EQ(decoded.samples.size(), frames * 1536 * channels);
        for (uint32_t c = 0; c < channels; ++c)
            EXPECT_GE(test::channel_snr_db(pcm.samples, decoded.samples, channels, c, 256), floors[i])
                << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, EveryRate,
                         ::testing::Values(LayoutCase{1, kMonoFloor}, LayoutCase{2, kStereoFloor},
                                           LayoutCase{6, kSurroundFloor}),
                         [](const auto& info) { return std::to_string(info.param.channels) + "ch"; });

// FFmpeg's and liba52's decoders give the same samples for the same stream,
// apart from dither: where the stream asks for it, each decoder fills the
// mantissas given no bits with its own random noise. So the channels are
// independent (no rematrixed difference channel near silence, which goes
// largely without bits). liba52 writes mono at -3 dB on both sides, and 5.1
// as its stereo downmix with the mix levels the encoder writes (cmixlev
// -4.5 dB, surmixlev -3 dB), which liba52 takes as 2^(-3/4) and 2^(-1/2).
TEST(FrameEncoder, TwoIndependentDecodersAgree) {
    const double clev = std::pow(2.0, -0.75), slev = std::sqrt(0.5);
    const struct {
        uint32_t channels, kbps;
    } cases[] = {{1, 192}, {2, 192}, {2, 448}, {6, 448}};
    TempDirectory dir;
    for (const auto& c : cases) {
        EncoderSettings options;
        options.bitrate_kbps = c.kbps;
        encode_pcm_file(music_like_pcm(c.channels, 1.0, 0.0), dir.file("out.ac3"), options, {});
        const test::DecodedAc3 ffmpeg = test::decode_ac3(dir.file("out.ac3"));
        const test::DecodedAc3 liba52 = test::decode_ac3_liba52(dir.file("out.ac3"));
        ASSERT_EQ(ffmpeg.errors + liba52.errors, "");
        ASSERT_EQ(liba52.samples.size(), ffmpeg.samples.size() / c.channels * 2) << c.channels;
        double signal = 0.0, difference = 0.0;
        for (size_t i = 0; i < liba52.samples.size(); ++i) {
            const float* f = &ffmpeg.samples[i / 2 * c.channels];
            const size_t side = c.channels == 1 ? 0 : i % 2;
            const double want = c.channels == 6   ? f[side] + clev * f[2] + slev * f[4 + side]
                                : c.channels == 1 ? slev * f[0]
                                                  : f[side];
            signal += want * want;
            difference += (liba52.samples[i] - want) * (liba52.samples[i] - want);
        }
        const double db = 10.0 * std::log10(difference / signal);
        EXPECT_LT(db, -70.0) << c.channels << " ch at " << c.kbps;  // -99 to -109 dB when written
    }
}

// Frames whose block 0 uses coupling.
long coupled_frames(const PcmBuffer& pcm, const EncoderSettings& options, const TempDirectory& dir) {
    encode_pcm_file(pcm, dir.file("out.ac3"), options, {});
    const std::vector<test::FrameInfo> frames = test::read_frames(dir.file("out.ac3"));
    return std::count_if(frames.begin(), frames.end(), [](const test::FrameInfo& f) { return f.cplinu; });
}

TEST(FrameEncoder, CouplingIsUsedOnlyWhereTheRateAllowsIt) {
    const PcmBuffer pcm = music_like_pcm(2, 1.0, 0.97, false);
    const long frames = static_cast<long>(ac3_frame_count(pcm.frame_count()));
    TempDirectory dir;
    for (uint32_t rate : {112u, 192u, 320u}) {
        EncoderSettings options;
        options.bitrate_kbps = rate;
        const long coupled = coupled_frames(pcm, options, dir);
        if (rate == 192) {
            EXPECT_GT(coupled, frames / 2);
        } else {
            EXPECT_EQ(coupled, 0) << rate;
        }
        options.coupling = false;
        EXPECT_EQ(coupled_frames(pcm, options, dir), 0) << rate;
    }
}

TEST(CouplingAnalysis, CoordinatesAreResentWhenTheyOrThePhaseFlagsChange) {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks{};
    ChannelCouplingCoordinates coords;
    coords.bands.assign(9, CouplingCoordinate{1, 2, 0.3});
    for (BlockAnalysis& block : blocks) {
        block.coupling = {coords, coords};
        block.phsflg.assign(9, 0);
    }
    for (int b = 2; b < kBlocksPerFrame; ++b) blocks[b].phsflg[4] = 1;                    // phase changes at 2
    for (int b = 4; b < kBlocksPerFrame; ++b) blocks[b].coupling[0].bands[0].cplcomant = 3;  // left changes at 4
    blocks[5].coupling[1].mstrcplco = 1;                                                   // right changes at 5
    mark_coordinate_reuse(blocks);
    const std::array<std::array<int, 2>, kBlocksPerFrame> want{{{1, 1}, {0, 0}, {0, 1}, {0, 0}, {1, 0}, {0, 1}}};
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        EXPECT_EQ(blocks[b].coupling[0].new_coordinates, want[b][0]) << b;
        EXPECT_EQ(blocks[b].coupling[1].new_coordinates, want[b][1]) << b;
    }
}

}  // namespace
}  // namespace oskavi
