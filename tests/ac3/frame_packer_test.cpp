// The frame packer on its own: silent frames, frames of random side
// information and mantissas (every field path), and a frame built by hand
// from a signal, each checked by the reference decoder or by the agreement
// of the packer's counting and writing passes.

#include "ac3/frame_packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ac3/coupling.h"
#include "ac3/exponents.h"
#include "ac3/frame_allocation.h"
#include "ac3/mdct.h"
#include "bitstream/crc.h"
#include "bitstream/rate_table.h"
#include "bitstream/verify.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/error_of.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi {
namespace {

using test::error_of;

struct Frame {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks{};
    FramePlan plan;
};

// crc1 covers the first 5/8 of the frame after the sync word, crc2 the rest;
// a correct check word makes the CRC of its region zero.
void expect_both_crcs_check(const std::vector<uint8_t>& frame, uint32_t words) {
    const uint32_t w58 = (words >> 1) + (words >> 3);
    EXPECT_EQ(crc16(frame, 16, w58 * 16 - 16, 0), 0);
    EXPECT_EQ(crc16(frame, w58 * 16, words * 16 - w58 * 16, 0), 0);
}

void expect_verify_passes(const std::string& path, bool command_line) {
    std::ostringstream report;
    EXPECT_EQ(verify_ac3_file(path, report), 0) << report.str();
    if (!command_line) return;
    const test::ProcessResult r = test::run_oskavi({"--verify", path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

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
            const Ac3RateInfo rate = lookup_rate(kbps);
            const std::vector<uint8_t> frame = write_silent_frame(kbps, -31, channels);
            ASSERT_EQ(frame.size(), rate.frame_bytes);
            expect_both_crcs_check(frame, rate.frame_words);
            std::vector<uint8_t> stream;
            for (int f = 0; f < 3; ++f) stream.insert(stream.end(), frame.begin(), frame.end());
            const std::string path = dir.file("silent" + std::to_string(channels) + "_" + std::to_string(kbps) + ".ac3");
            test::write_file_bytes(path, stream);
            const test::DecodedAc3 decoded = test::decode_ac3(path, channels);
            EXPECT_EQ(decoded.errors, "");
            ASSERT_EQ(decoded.samples.size(), 3u * 1536u * channels);
            for (float s : decoded.samples) ASSERT_EQ(s, 0.0f);
            expect_verify_passes(path, kbps == 32 || kbps == 640);
        }
    }
    EXPECT_EQ(error_of([] { write_silent_frame(448, -31, 7); }),
              "AC-3 supports 1..5 full-bandwidth channels plus optional LFE");
    EXPECT_EQ(error_of([] { write_silent_frame(441, -31, 2); }),
              "Unsupported AC-3 bitrate at 48 kHz (legal values: "
              "32,40,48,56,64,80,96,112,128,160,192,224,256,320,384,448,512,576,640 kbps)");
}

// --- Random frames: every field path, for count/write agreement. ---

ExponentSet random_set(std::mt19937& rng, uint8_t strategy, uint32_t bins) {
    std::vector<uint8_t> exps(256);
    int e = static_cast<int>(rng() % 25);
    for (auto& x : exps) x = static_cast<uint8_t>(e = std::clamp(e + static_cast<int>(rng() % 7) - 3, 0, 24));
    return prepare_exponent_set(exps, strategy, bins);
}

// Values over and slightly beyond the range the exponents allow, so the
// quantisers clamp too.
Coefficients random_coefficients(std::mt19937& rng, const ExponentSet& set) {
    std::uniform_real_distribution<double> u(-1.2, 1.2);
    Coefficients c{};
    for (int bin = 0; bin < kBinsPerBlock; ++bin) c[bin] = std::ldexp(u(rng), -static_cast<int>(set.exponents[bin]));
    return c;
}

Frame random_frame(std::mt19937& rng, uint32_t channels, bool coupled) {
    const uint32_t nfbw = channels == 6 ? 5 : channels;
    Frame frame;
    FramePlan& plan = frame.plan;
    CouplingPlan cp;
    if (coupled) {
        cp = plan_coupling(true, 128 + 32 * static_cast<uint32_t>(rng() % 4));
        plan.coupling = cp;
    }
    for (uint32_t ch = 0; ch < nfbw; ++ch) {
        plan.chbwcod[ch] = static_cast<uint8_t>(rng() % 61);
        plan.endmant[ch] = coupled ? cp.cplstrtmant : 73 + 3 * plan.chbwcod[ch];
        plan.fsnroffst[ch] = static_cast<uint8_t>(rng() % 16);
    }
    plan.fsnroffst[nfbw] = static_cast<uint8_t>(rng() % 16);
    std::vector<uint8_t> cpl_exps(256);
    for (auto& x : cpl_exps) x = static_cast<uint8_t>(rng() % 25);
    const ExponentSet cpl_set = coupled ? coupling_exponent_set(cpl_exps, cp.cplstrtmant, cp.cplendmant) : ExponentSet{};
    const ExponentSet lfe_set = random_set(rng, kExpD15, kLfeCodedBins);
    std::array<ExponentSet, kMaxFbwChannels> in_force{};
    for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
        BlockAnalysis& block = frame.blocks[blk];
        for (uint32_t ch = 0; ch < nfbw; ++ch) {
            const auto strategy = static_cast<uint8_t>(blk == 0 ? 1 + rng() % 3 : rng() % 4);
            plan.chexpstr[blk][ch] = strategy;
            if (strategy != kExpReuse) in_force[ch] = random_set(rng, strategy, plan.endmant[ch]);
            block.exponent_sets[ch] = in_force[ch];
            block.coefficients[ch] = random_coefficients(rng, in_force[ch]);
            block.blksw[ch] = static_cast<uint8_t>(rng() % 2);
        }
        for (auto& flag : block.rematflg) flag = static_cast<uint8_t>(rng() % 2);
        if (coupled) {
            block.cpl_exponent_set = cpl_set;
            block.cpl_coefficients = random_coefficients(rng, cpl_set);
            for (auto& coords : block.coupling) {
                coords.mstrcplco = static_cast<uint8_t>(rng() % 4);
                coords.new_coordinates = static_cast<uint8_t>(rng() % 2);
                coords.bands.resize(cp.bands.size());
                for (auto& b : coords.bands) b = {static_cast<uint8_t>(rng() % 16), static_cast<uint8_t>(rng() % 16), 0.0};
            }
            block.phsflg.resize(cp.bands.size());
            for (auto& p : block.phsflg) p = static_cast<uint8_t>(rng() % 2);
        }
        block.lfe_present = channels == 6;
        block.lfe_exponent_set = lfe_set;
        block.lfe_coefficients = random_coefficients(rng, lfe_set);
    }
    return frame;
}

// The counting pass, the writing pass and the passes that share one
// FrameAllocation across probes (as the fit search does) agree on every
// size, verdict and byte; a frame that does not fit is refused.
TEST(FramePacker, CountingWritingAndSharedAllocationAgreeOnRandomFrames) {
    std::mt19937 rng(20240611);
    int written = 0;
    int refused = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const uint32_t channels = std::array<uint32_t, 3>{1, 2, 6}[trial % 3];
        const Frame frame = random_frame(rng, channels, channels == 2 && (trial / 3) % 2 == 0);
        const auto& blocks = frame.blocks;
        const FramePlan& plan = frame.plan;
        FrameAllocation allocation(blocks, plan, channels);
        for (int probe = 0; probe < 4; ++probe) {
            const uint32_t kbps = kAc3Bitrates[rng() % kAc3Bitrates.size()];
            const int dialnorm = -1 - static_cast<int>(rng() % 31);
            const auto cs = static_cast<uint8_t>(rng() % 64);
            SCOPED_TRACE("trial " + std::to_string(trial) + " probe " + std::to_string(probe));
            const Ac3RateInfo rate = lookup_rate(kbps);
            const FrameContext context{blocks, plan, kbps, dialnorm, channels};
            BitWriter counter(0, true);
            BitWriter shared_counter(0, true);
            BitWriter writer(rate.frame_bytes);
            const uint32_t counted = pack_frame_bits(counter, context, cs);
            ASSERT_EQ(pack_frame_bits(writer, context, cs), counted);
            ASSERT_EQ(pack_frame_bits(shared_counter, context, cs, allocation), counted);
            EXPECT_TRUE(counter.bytes.empty());
            EXPECT_EQ(writer.bytes.size(), (counted + 7) / 8);

            const bool fits = frame_fits(context, cs);
            EXPECT_EQ(fits, counted + 18 <= 8u * rate.frame_bytes);
            EXPECT_EQ(frame_fits(context, cs, allocation), fits);
            if (!fits) {
                EXPECT_EQ(error_of([&] { write_frame(context, cs); }),
                          "mantissa payload exceeds selected AC-3 frame size");
                ++refused;
                continue;
            }
            const std::vector<uint8_t> bytes = write_frame(context, cs);
            ASSERT_EQ(bytes.size(), rate.frame_bytes);
            EXPECT_EQ(write_frame(context, cs, allocation), bytes);
            expect_both_crcs_check(bytes, rate.frame_words);
            // The packed fields are the frame's prefix; the fill, auxdatae and crcrsv are zero.
            for (uint32_t bit = counted; bit < 8u * rate.frame_bytes - 16; ++bit)
                ASSERT_EQ((bytes[bit / 8] >> (7 - bit % 8)) & 1, 0) << bit;
            ++written;
        }
    }
    EXPECT_GT(written, 20);
    EXPECT_GT(refused, 20);
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
    expect_verify_passes(path, true);
    const test::DecodedAc3 decoded = test::decode_ac3(path, 2);
    EXPECT_EQ(decoded.errors, "");
    EXPECT_EQ(decoded.samples.size(), input.size());
    for (uint32_t ch = 0; ch < 2; ++ch) EXPECT_GT(test::channel_snr_db(input, decoded.samples, 2, ch, 256), 20.0) << ch;
}

}  // namespace
}  // namespace oskavi
