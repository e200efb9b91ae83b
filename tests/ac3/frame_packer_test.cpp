#include "ac3/frame_packer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ac3/coupling.h"
#include "ac3/exponents.h"
#include "bitstream/crc.h"
#include "bitstream/rate_table.h"
#include "bitstream/verify.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/handmade_frame.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi {
namespace {

using test::HandmadeFrame;
using test::HandmadeOptions;

template <typename F>
void expect_error(F&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

uint32_t bits_at(const std::vector<uint8_t>& bytes, uint32_t pos, uint32_t width) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < width; ++i) {
        const uint32_t p = pos + i;
        v = (v << 1) | ((bytes.at(p / 8) >> (7 - p % 8)) & 1u);
    }
    return v;
}

void expect_both_crcs_check(const std::vector<uint8_t>& frame, uint32_t words) {
    const uint32_t w58 = (words >> 1) + (words >> 3);
    EXPECT_EQ(crc16(frame, 16, w58 * 16 - 16, 0), 0);
    EXPECT_EQ(crc16(frame, w58 * 16, words * 16 - w58 * 16, 0), 0);
}

std::string verify_in_process(const std::string& path) {
    std::ostringstream report;
    EXPECT_EQ(verify_ac3_file(path, report), 0);
    return report.str();
}

void expect_cli_verify_passes(const std::string& path) {
    const test::ProcessResult r = test::run_oskavi({"--verify", path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(SilentFrame, EveryRateAndChannelCountDecodesToDigitalSilence) {
    test::TempDirectory dir;
    for (uint32_t channels = 1; channels <= 6; ++channels) {
        for (uint32_t kbps : kAc3Bitrates) {
            SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(kbps));
            if (channels >= 5 && kbps == 32) {
                // Five full-bandwidth exponent sets alone (5 x 174 bits) leave
                // no room in a 1024-bit frame.
                expect_error([&] { write_silent_frame(kbps, -31, channels); },
                             "AC-3 side information exceeds selected frame size");
                continue;
            }
            const Ac3RateInfo rate = lookup_rate(kbps);
            const std::vector<uint8_t> frame = write_silent_frame(kbps, -31, channels);
            ASSERT_EQ(frame.size(), rate.frame_bytes);
            EXPECT_EQ(bits_at(frame, 0, 16), 0x0B77u);
            EXPECT_EQ(bits_at(frame, 32, 2), 0u);  // fscod: 48 kHz
            EXPECT_EQ(bits_at(frame, 34, 6), rate.frmsizecod);
            expect_both_crcs_check(frame, rate.frame_words);

            const std::string path = dir.file("silent_" + std::to_string(channels) + "_" + std::to_string(kbps) + ".ac3");
            std::vector<uint8_t> stream;
            for (int f = 0; f < 3; ++f) stream.insert(stream.end(), frame.begin(), frame.end());
            test::write_file_bytes(path, stream);
            const test::DecodedAc3 decoded = test::decode_ac3(path, channels);
            EXPECT_EQ(decoded.errors, "");
            ASSERT_EQ(decoded.samples.size(), 3u * 1536u * channels);
            for (float s : decoded.samples) ASSERT_EQ(s, 0.0f);
            verify_in_process(path);
            if (kbps == 32 || kbps == 640) expect_cli_verify_passes(path);
        }
    }
}

TEST(SilentFrame, BsiCarriesOnlyTheFieldsOfItsLayout) {
    struct Case {
        uint32_t channels;
        uint32_t acmod;
        uint32_t mix_bits;  // cmixlev, surmixlev or dsurmod fields present
        uint32_t lfeon;
    };
    // mono: none; stereo: dsurmod; 3/0: cmixlev; 2/2: surmixlev; 3/2 (+LFE): both.
    for (const Case c : {Case{1, 1, 0, 0}, Case{2, 2, 2, 0}, Case{3, 3, 2, 0}, Case{4, 6, 2, 0}, Case{5, 7, 4, 0},
                         Case{6, 7, 4, 1}}) {
        SCOPED_TRACE(c.channels);
        const std::vector<uint8_t> f = write_silent_frame(448, -27, c.channels);
        EXPECT_EQ(bits_at(f, 40, 5), 8u);  // bsid
        EXPECT_EQ(bits_at(f, 45, 3), 0u);  // bsmod
        EXPECT_EQ(bits_at(f, 48, 3), c.acmod);
        if (c.mix_bits != 0) {
            EXPECT_EQ(bits_at(f, 51, c.mix_bits), c.acmod == 7 ? 4u : c.acmod == 3 ? 1u : 0u);
        }
        const uint32_t p = 51 + c.mix_bits;
        EXPECT_EQ(bits_at(f, p, 1), c.lfeon);
        EXPECT_EQ(bits_at(f, p + 1, 5), 27u);  // dialnorm
        // compre, langcode, audprodie, copyrightb 0; origbs 1; timecod1e,
        // timecod2e, addbsie 0.
        EXPECT_EQ(bits_at(f, p + 6, 8), 0x08u);
    }
    expect_error([] { write_silent_frame(448, -31, 7); },
                 "AC-3 supports 1..5 full-bandwidth channels plus optional LFE");
    expect_error([] { write_silent_frame(441, -31, 2); },
                 "Unsupported AC-3 bitrate at 48 kHz (legal values: "
                 "32,40,48,56,64,80,96,112,128,160,192,224,256,320,384,448,512,576,640 kbps)");
}

// --- Random frames: every field path, checked for count/write agreement. ---

ExponentSet random_set(std::mt19937& rng, uint8_t strategy, uint32_t bins) {
    std::vector<uint8_t> exps(256);
    int e = static_cast<int>(rng() % 25);
    for (auto& x : exps) {
        e = std::clamp(e + static_cast<int>(rng() % 7) - 3, 0, 24);
        x = static_cast<uint8_t>(e);
    }
    return prepare_exponent_set(exps, strategy, bins);
}

Coefficients random_coefficients(std::mt19937& rng, const ExponentSet& set) {
    // Values spread over and slightly beyond the range the exponents allow,
    // so clamping at the quantiser edges is exercised too.
    std::uniform_real_distribution<double> u(-1.2, 1.2);
    Coefficients c{};
    for (int bin = 0; bin < kBinsPerBlock; ++bin) c[bin] = std::ldexp(u(rng), -static_cast<int>(set.exponents[bin]));
    return c;
}

HandmadeFrame random_frame(std::mt19937& rng, uint32_t channels, bool coupled) {
    const uint32_t lfeon = channels == 6 ? 1 : 0;
    const uint32_t nfbw = channels - lfeon;
    HandmadeFrame frame;
    FramePlan& plan = frame.plan;
    CouplingPlan cp;
    if (coupled) {
        cp = plan_coupling(true, 128 + 32 * static_cast<uint32_t>(rng() % 4));
        plan.cplinu = 1;
        plan.cplbegf = cp.cplbegf;
        plan.cplendf = cp.cplendf;
        plan.cplstrtmant = cp.cplstrtmant;
        plan.cplendmant = cp.cplendmant;
        plan.coupling_bands = cp.bands;
    }
    for (uint32_t ch = 0; ch < nfbw; ++ch) {
        const uint32_t chbwcod = static_cast<uint32_t>(rng() % 61);
        plan.chbwcod[ch] = static_cast<uint8_t>(chbwcod);
        plan.endmant[ch] = coupled ? cp.cplstrtmant : 73 + 3 * chbwcod;
        plan.fsnroffst[ch] = static_cast<uint8_t>(rng() % 16);
    }
    plan.fsnroffst[nfbw] = static_cast<uint8_t>(rng() % 16);
    std::array<ExponentSet, kMaxFbwChannels> in_force{};
    ExponentSet cpl_set;
    if (coupled) {
        std::vector<uint8_t> exps(256);
        for (auto& x : exps) x = static_cast<uint8_t>(rng() % 25);
        cpl_set = coupling_exponent_set(exps, cp.cplstrtmant, cp.cplendmant);
    }
    const ExponentSet lfe_set = random_set(rng, kExpD15, kLfeCodedBins);
    for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
        BlockAnalysis& block = frame.blocks[blk];
        for (uint32_t ch = 0; ch < nfbw; ++ch) {
            const uint8_t strategy = static_cast<uint8_t>(blk == 0 ? 1 + rng() % 3 : rng() % 4);
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
                for (auto& b : coords.bands) {
                    b.cplcoexp = static_cast<uint8_t>(rng() % 16);
                    b.cplcomant = static_cast<uint8_t>(rng() % 16);
                }
            }
            block.phsflg.resize(cp.bands.size());
            for (auto& p : block.phsflg) p = static_cast<uint8_t>(rng() % 2);
        }
        block.lfe_present = lfeon != 0;
        block.lfe_exponent_set = lfe_set;
        block.lfe_coefficients = random_coefficients(rng, lfe_set);
    }
    return frame;
}

TEST(FramePacker, CountingAndWritingPassesAgreeOnEveryRandomFrame) {
    std::mt19937 rng(20240611);
    int written = 0;
    int refused = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const uint32_t channels = std::array<uint32_t, 3>{1, 2, 6}[trial % 3];
        const bool coupled = channels == 2 && (trial / 3) % 2 == 0;
        const HandmadeFrame frame = random_frame(rng, channels, coupled);
        const uint32_t kbps = kAc3Bitrates[rng() % kAc3Bitrates.size()];
        const auto csnroffst = static_cast<uint8_t>(rng() % 64);
        SCOPED_TRACE("trial " + std::to_string(trial));

        BitWriter counter(0, true);
        BitWriter writer(lookup_rate(kbps).frame_bytes);
        const uint32_t counted = pack_frame_bits(counter, frame.blocks, frame.plan, kbps, -31, channels, csnroffst);
        const uint32_t packed = pack_frame_bits(writer, frame.blocks, frame.plan, kbps, -31, channels, csnroffst);
        ASSERT_EQ(counted, packed);
        EXPECT_TRUE(counter.bytes.empty());
        EXPECT_EQ(writer.bytes.size(), (packed + 7) / 8);

        const Ac3RateInfo rate = lookup_rate(kbps);
        const bool fits = frame_fits(frame.blocks, frame.plan, kbps, -31, channels, csnroffst);
        EXPECT_EQ(fits, counted + 18 <= 8u * rate.frame_bytes);
        if (fits) {
            const std::vector<uint8_t> bytes = write_frame(frame.blocks, frame.plan, kbps, -31, channels, csnroffst);
            ASSERT_EQ(bytes.size(), rate.frame_bytes);
            expect_both_crcs_check(bytes, rate.frame_words);
            // The packed fields are the frame's prefix; the fill up to the
            // last 18 bits is zero.
            for (uint32_t bit = packed; bit < 8u * rate.frame_bytes - 16; ++bit) ASSERT_EQ(bits_at(bytes, bit, 1), 0u);
            ++written;
        } else {
            expect_error([&] { write_frame(frame.blocks, frame.plan, kbps, -31, channels, csnroffst); },
                         "mantissa payload exceeds selected AC-3 frame size");
            ++refused;
        }
    }
    EXPECT_GT(written, 5);
    EXPECT_GT(refused, 5);
}

TEST(FramePacker, RejectsUnsupportedLayoutsAndRates) {
    std::mt19937 rng(7);
    const HandmadeFrame frame = random_frame(rng, 2, false);
    for (uint32_t channels : {0u, 3u, 4u, 5u, 7u}) {
        expect_error([&] { write_frame(frame.blocks, frame.plan, 192, -31, channels, 10); },
                     "non-silent milestone currently supports mono/stereo/canonical 5.1 only");
        expect_error([&] { frame_fits(frame.blocks, frame.plan, 192, -31, channels, 10); },
                     "non-silent milestone currently supports mono/stereo/canonical 5.1 only");
    }
    EXPECT_THROW(write_frame(frame.blocks, frame.plan, 100, -31, 2, 10), std::runtime_error);
}

// --- Hand-made frames from real signals, decoded by the reference decoder. ---

std::vector<double> sine(double hz, double amplitude, std::size_t n) {
    std::vector<double> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = amplitude * std::sin(2.0 * std::numbers::pi * hz * i / 48000.0);
    return s;
}

std::vector<float> interleave(const std::vector<std::vector<double>>& channels) {
    std::vector<float> out(channels.size() * channels[0].size());
    for (std::size_t i = 0; i < channels[0].size(); ++i) {
        for (std::size_t c = 0; c < channels.size(); ++c) out[i * channels.size() + c] = static_cast<float>(channels[c][i]);
    }
    return out;
}

// Encodes, checks the stream with --verify and decodes it without a single
// decoder message; returns the decoded samples.
test::DecodedAc3 encode_and_decode(const std::vector<std::vector<double>>& signals, uint32_t kbps,
                                   const HandmadeOptions& options, const std::string& name,
                                   std::vector<HandmadeFrame>* frames = nullptr) {
    test::TempDirectory dir;
    const std::string path = dir.file(name);
    const std::vector<uint8_t> stream = test::encode_handmade_stream(signals, kbps, options, frames);
    const std::size_t frame_count = (signals[0].size() + 1535) / 1536;
    EXPECT_EQ(stream.size(), frame_count * lookup_rate(kbps).frame_bytes);
    test::write_file_bytes(path, stream);
    verify_in_process(path);
    expect_cli_verify_passes(path);
    test::DecodedAc3 decoded = test::decode_ac3(path, static_cast<uint32_t>(signals.size()));
    EXPECT_EQ(decoded.errors, "");
    EXPECT_EQ(decoded.samples.size(), frame_count * 1536 * signals.size());
    return decoded;
}

constexpr std::size_t kSignalLength = 8 * 1536;
constexpr uint32_t kCodecDelay = 256;

TEST(HandmadeFrame, MonoSineDecodesToTheInput) {
    const std::vector<std::vector<double>> in{sine(1000.0, 0.5, kSignalLength)};
    const test::DecodedAc3 out = encode_and_decode(in, 96, HandmadeOptions{}, "mono.ac3");
    EXPECT_GT(test::channel_snr_db(interleave(in), out.samples, 1, 0, kCodecDelay), 20.0);
}

TEST(HandmadeFrame, StereoSinesKeepTheirChannels) {
    const std::vector<std::vector<double>> in{sine(1000.0, 0.5, kSignalLength), sine(2500.0, 0.25, kSignalLength)};
    const test::DecodedAc3 out = encode_and_decode(in, 192, HandmadeOptions{.endmant = 151}, "stereo.ac3");
    const std::vector<float> x = interleave(in);
    EXPECT_GT(test::channel_snr_db(x, out.samples, 2, 0, kCodecDelay), 20.0);
    EXPECT_GT(test::channel_snr_db(x, out.samples, 2, 1, kCodecDelay), 20.0);
}

TEST(HandmadeFrame, RematrixedStereoDecodesWhenFlagsChangeMidFrame) {
    // Nearly identical channels (rematrixed) that turn into unrelated ones
    // part-way through a frame.
    std::vector<std::vector<double>> in{sine(1000.0, 0.5, kSignalLength), sine(1000.0, 0.45, kSignalLength)};
    const std::vector<double> other = sine(1700.0, 0.3, kSignalLength);
    for (std::size_t i = 4 * 1536 + 700; i < kSignalLength; ++i) in[1][i] = other[i];
    std::vector<HandmadeFrame> frames;
    const test::DecodedAc3 out =
        encode_and_decode(in, 192, HandmadeOptions{.endmant = 151, .rematrix = true}, "remat.ac3", &frames);
    int changed = 0;
    int kept = 0;
    int flagged = 0;
    for (const HandmadeFrame& f : frames) {
        for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
            flagged += f.blocks[blk].rematflg[0];
            if (blk > 0) (f.blocks[blk].rematflg != f.blocks[blk - 1].rematflg ? changed : kept) += 1;
        }
    }
    EXPECT_GT(flagged, 0);
    EXPECT_GT(changed, 0);
    EXPECT_GT(kept, 0);
    const std::vector<float> x = interleave(in);
    EXPECT_GT(test::channel_snr_db(x, out.samples, 2, 0, kCodecDelay), 20.0);
    EXPECT_GT(test::channel_snr_db(x, out.samples, 2, 1, kCodecDelay), 20.0);
}

TEST(HandmadeFrame, CoupledStereoDecodes) {
    // In-phase content above the coupling start (bin 97 at 192 kbit/s, about
    // 9.1 kHz) is rebuilt from the coupling channel and the coordinates.
    std::vector<std::vector<double>> in{sine(1000.0, 0.4, kSignalLength), sine(1500.0, 0.3, kSignalLength)};
    const std::vector<double> high = sine(12000.0, 1.0, kSignalLength);
    for (std::size_t i = 0; i < kSignalLength; ++i) {
        in[0][i] += 0.2 * high[i];
        in[1][i] += 0.1 * high[i];
    }
    const std::vector<float> x = interleave(in);
    // Coordinates resent when they change, and held for the whole frame
    // (cplcoe 0 and no phase flags in blocks 1..5).
    for (const bool hold : {false, true}) {
        SCOPED_TRACE(hold ? "held coordinates" : "per-block coordinates");
        const HandmadeOptions options{.coupling_kbps = 192, .rematrix = true, .hold_coordinates = hold};
        std::vector<HandmadeFrame> frames;
        const test::DecodedAc3 out = encode_and_decode(in, 192, options, "coupled.ac3", &frames);
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames[0].plan.cplinu, 1);
        EXPECT_GT(test::channel_snr_db(x, out.samples, 2, 0, kCodecDelay), 20.0);
        EXPECT_GT(test::channel_snr_db(x, out.samples, 2, 1, kCodecDelay), 20.0);
    }
}

TEST(HandmadeFrame, FivePointOneKeepsEveryChannelInPlace) {
    // AC-3 order L, C, R, Ls, Rs, then LFE; the decoder outputs L, R, C, LFE,
    // Ls, Rs.
    const std::vector<std::vector<double>> in{
        sine(500.0, 0.4, kSignalLength),  sine(1000.0, 0.3, kSignalLength), sine(1500.0, 0.4, kSignalLength),
        sine(2000.0, 0.2, kSignalLength), sine(3000.0, 0.2, kSignalLength), sine(60.0, 0.5, kSignalLength)};
    const test::DecodedAc3 out =
        encode_and_decode(in, 448, HandmadeOptions{.endmant = 109, .lfe = true}, "surround.ac3");
    const std::vector<std::vector<double>> decoder_order{in[0], in[2], in[1], in[5], in[3], in[4]};
    const std::vector<float> x = interleave(decoder_order);
    for (uint32_t ch = 0; ch < 6; ++ch) {
        EXPECT_GT(test::channel_snr_db(x, out.samples, 6, ch, kCodecDelay), 20.0) << ch;
    }
}

TEST(HandmadeFrame, FitBoundaryIsWhereCountingSaysItIs) {
    // A loud noisy stereo frame at a low rate fits only part-way up the
    // csnroffst scale; one step further must fail in both passes.
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.2);
    std::vector<std::vector<double>> windows(2, std::vector<double>(1792));
    for (auto& w : windows) {
        for (double& s : w) s = noise(rng);
    }
    const HandmadeFrame frame = test::make_handmade_frame(windows, HandmadeOptions{});
    const int c = test::largest_fitting_csnroffst(frame, 96, 2);
    ASSERT_GT(c, 0);
    ASSERT_LT(c, 63);
    const auto fit = static_cast<uint8_t>(c);
    EXPECT_EQ(write_frame(frame.blocks, frame.plan, 96, -31, 2, fit).size(), 384u);
    EXPECT_FALSE(frame_fits(frame.blocks, frame.plan, 96, -31, 2, fit + 1));
    expect_error([&] { write_frame(frame.blocks, frame.plan, 96, -31, 2, fit + 1); },
                 "mantissa payload exceeds selected AC-3 frame size");
}

}  // namespace
}  // namespace oskavi
