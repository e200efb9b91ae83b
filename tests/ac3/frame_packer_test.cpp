// The frame packer on its own: silent frames and a frame built by hand from a
// signal, each checked by the reference decoder (both CRCs of the frames are
// checked there and by the verifier; the CRC words themselves against a
// bit-serial CRC in CrcPatch). The agreement of the counting and writing
// passes is pinned by the golden set (OSKAVI_FULL_PACK_PROBES).

#include "ac3/frame_packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "ac3/exponents.h"
#include "ac3/mdct.h"
#include "bitstream/rate_table.h"
#include "bitstream/verify.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace oskavi {
namespace {

using test::error_of;

struct Frame {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks{};
    FramePlan plan;
};

TEST(SilentFrame, EveryRateAndChannelCountDecodesToDigitalSilence) {
    test::TempDirectory dir;
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        for (uint32_t kbps : kAc3Bitrates) {
            SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(kbps));
            if (channels >= 5 && kbps == 32) {
                // Five full-bandwidth exponent sets alone (5 x 174 bits) leave
                // no room in a 1024-bit frame.
                EXPECT_EQ(error_of([&] { write_silent_frame(kbps, -31, channels); }),
                          "AC-3 side information exceeds selected frame size");
                continue;
            }
            const std::vector<uint8_t> frame = write_silent_frame(kbps, -31, channels);
            ASSERT_EQ(frame.size(), lookup_rate(kbps).frame_bytes);
            std::vector<uint8_t> stream;
            for (int f = 0; f < 3; ++f) stream.insert(stream.end(), frame.begin(), frame.end());
            const std::string path = dir.file("silent" + std::to_string(channels) + "_" + std::to_string(kbps) + ".ac3");
            test::write_file_bytes(path, stream);
            const test::DecodedAc3 decoded = test::decode_ac3(path);
            EXPECT_EQ(decoded.errors, "");
            ASSERT_EQ(decoded.samples.size(), 3u * 1536u * channels);
            for (float s : decoded.samples) ASSERT_EQ(s, 0.0f);
            std::ostringstream report;
            EXPECT_EQ(verify_ac3_file(path, report), 0) << report.str();
        }
    }
}

// --- A frame built by hand from a signal, decoded by the reference decoder. ---

// Frame `f` of an interleaved stereo signal, built by hand with none of the
// encoder's planning: long transforms in every block, one D15 set per
// channel in block 0 (the minimum over the six blocks, so no block's
// mantissas overflow it) reused by blocks 1..5, a fixed bandwidth and fine
// offset. Block b's transform sees frame samples 256 * (b - 1) .. 256 * (b + 1).
Frame handmade_frame(const std::vector<float>& input, uint32_t f, uint32_t endmant) {
    Frame frame;
    for (uint32_t ch = 0; ch < 2; ++ch) {
        frame.plan.endmant[ch] = endmant;
        frame.plan.chbwcod[ch] = static_cast<uint8_t>((endmant - 73) / 3);
        frame.plan.fsnroffst[ch] = 8;
        frame.plan.chexpstr[0][ch] = kExpD15;
        RawExponents minimum;
        minimum.fill(24);
        for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
            std::array<double, kMdctInputSamples> samples{};
            for (int i = 0; i < kMdctInputSamples; ++i) {
                const long long n = 1536LL * f + 256 * (blk - 1) + i;
                samples[i] = n >= 0 ? input[2 * n + ch] : 0.0;
            }
            BlockAnalysis& block = frame.blocks[blk];
            block.coefficients[ch] = mdct_long(samples, false);
            block.raw_exponents[ch] = raw_exponents(block.coefficients[ch]);
            for (int k = 0; k < kBinsPerBlock; ++k) minimum[k] = std::min(minimum[k], block.raw_exponents[ch][k]);
        }
        const ExponentSet set = prepare_exponent_set(minimum, kExpD15, endmant);
        for (BlockAnalysis& block : frame.blocks) block.exponent_sets[ch] = set;
    }
    return frame;
}

TEST(HandmadeFrame, StereoSinesPackVerifyAndDecodeToTheInput) {
    constexpr uint32_t kFrames = 8;
    constexpr uint32_t kbps = 192;
    const double tones[2][2] = {{1000.0, 0.5}, {2500.0, 0.25}};  // frequency, amplitude
    std::vector<float> input(kFrames * 1536 * 2);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float>(tones[i % 2][1] * std::sin(2.0 * std::numbers::pi * tones[i % 2][0] * (i / 2) / 48000.0));
    std::vector<uint8_t> stream;
    for (uint32_t f = 0; f < kFrames; ++f) {
        const Frame frame = handmade_frame(input, f, 151);
        const FrameContext context{frame.blocks, frame.plan, kbps, -31, 2};
        int cs = 63;  // the largest coarse offset at which the frame fits
        while (cs >= 0 && !frame_fits(context, static_cast<uint8_t>(cs))) --cs;
        ASSERT_GT(cs, 0) << f;
        const std::vector<uint8_t> bytes = write_frame(context, static_cast<uint8_t>(cs));
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    test::TempDirectory dir;
    const std::string path = dir.file("handmade.ac3");
    test::write_file_bytes(path, stream);
    std::ostringstream report;
    EXPECT_EQ(verify_ac3_file(path, report), 0) << report.str();
    const test::DecodedAc3 decoded = test::decode_ac3(path);
    EXPECT_EQ(decoded.errors, "");
    EXPECT_EQ(decoded.samples.size(), input.size());
    for (uint32_t ch = 0; ch < 2; ++ch) EXPECT_GT(test::channel_snr_db(input, decoded.samples, 2, ch, 256), 20.0) << ch;
}

}  // namespace
}  // namespace oskavi
