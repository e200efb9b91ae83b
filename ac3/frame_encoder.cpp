#include "ac3/frame_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "ac3/coupling.h"
#include "ac3/exponent_strategy.h"
#include "ac3/exponents.h"
#include "ac3/frame_fitting.h"
#include "ac3/frame_packer.h"
#include "ac3/frame_planning.h"
#include "ac3/mdct.h"
#include "ac3/transient_detector.h"
#include "bitstream/rate_table.h"

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;

// Interleaved positions of the full-bandwidth channels in AC-3 order.
constexpr std::array<uint32_t, 1> kMonoOrder = {0};
constexpr std::array<uint32_t, 2> kStereoOrder = {0, 1};
constexpr std::array<uint32_t, 5> kSurroundOrder = {0, 2, 1, 4, 5};  // L, C, R, Ls, Rs
constexpr uint32_t kLfePosition = 3;

std::span<const uint32_t> fbw_positions(uint32_t channels, ChannelLayout layout) {
    if (channels == 1 && layout == ChannelLayout::Mono) return kMonoOrder;
    if (channels == 2 && layout == ChannelLayout::Stereo) return kStereoOrder;
    if (channels == 6 && layout == ChannelLayout::Surround51) return kSurroundOrder;
    throw std::runtime_error("non-silent AC-3 requires mono, stereo, or canonical 5.1 input");
}

using BlockSamples = std::array<double, 512>;

// A sample as the analysis takes it. Input is nominally -1..1; a NaN (no
// level at all) or an infinity would poison every sum it enters, so NaN codes
// as silence and an infinity as full scale. Finite values pass unchanged.
double coded_sample(float s) {
    if (std::isnan(s)) return 0.0;
    if (std::isinf(s)) return s > 0.0f ? 1.0 : -1.0;
    return static_cast<double>(s);
}

// The 512 samples of one channel from first_frame on, 0.0 outside the source.
void gather(const PcmView& source, int64_t first_frame, uint32_t position, BlockSamples& x) {
    const int64_t frames = static_cast<int64_t>(source.frame_count());
    const float* samples = source.samples.data();
    const std::size_t stride = source.channels;
    if (first_frame >= 0 && first_frame + 512 <= frames) {
        const float* at = samples + static_cast<std::size_t>(first_frame) * stride + position;
        for (std::size_t i = 0; i < 512; ++i) x[i] = coded_sample(at[i * stride]);
        return;
    }
    for (int64_t i = 0; i < 512; ++i) {
        const int64_t frame = first_frame + i;
        x[static_cast<std::size_t>(i)] =
            frame >= 0 && frame < frames
                ? coded_sample(samples[static_cast<std::size_t>(frame) * stride + position])
                : 0.0;
    }
}

// Blocks analysed together: their transient detectors run side by side.
constexpr std::size_t kBlocksPerBatch = 2;

// analyze_block for consecutive blocks (block numbers first_block,
// first_block + 1, ...) into freshly initialised records, at most
// kBlocksPerBatch of them.
void analyze_batch_into(std::span<BlockAnalysis> blocks, const PcmView& source, int64_t first_block,
                        const EncoderSettings& settings) {
    const auto positions = fbw_positions(source.channels, source.layout);
    const std::size_t nfbw = positions.size();
    const std::size_t count = blocks.size() * nfbw;  // inputs, block-major
    std::array<BlockSamples, kBlocksPerBatch * kMaxFbwChannels> x;
    std::array<TransientInput, kBlocksPerBatch * kMaxFbwChannels> inputs{
        x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9]};
    std::array<bool, kBlocksPerBatch * kMaxFbwChannels> switched{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t b = i / nfbw;
        const std::size_t c = i % nfbw;
        const int64_t first_frame = static_cast<int64_t>(kSamplesPerBlock) * (first_block + static_cast<int64_t>(b) - 1);
        gather(source, first_frame, positions[c], x[i]);
        blocks[b].gainrng[c] = gain_range_code(x[i]);
    }
    if (settings.block_switching) {
        if (settings.hierarchical_transient_detector) {
            detect_transients(std::span(inputs.data(), count), std::span(switched.data(), count));
        } else {
            for (std::size_t i = 0; i < count; ++i) switched[i] = detect_transient_legacy(x[i]);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        BlockAnalysis& block = blocks[i / nfbw];
        const std::size_t c = i % nfbw;
        block.blksw[c] = switched[i] ? 1 : 0;
        block.coefficients[c] = switched[i] ? mdct_short_pair(x[i], settings.dense_mdct) : mdct_long(x[i], settings.dense_mdct);
        block.raw_exponents[c] = raw_exponents(block.coefficients[c]);
    }
    if (source.channels == 6) {
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            const int64_t first_frame =
                static_cast<int64_t>(kSamplesPerBlock) * (first_block + static_cast<int64_t>(b) - 1);
            gather(source, first_frame, kLfePosition, x[0]);
            blocks[b].lfe_present = true;
            blocks[b].lfe_coefficients = mdct_long(x[0], settings.dense_mdct);  // the LFE never switches blocks
            blocks[b].lfe_raw_exponents = raw_exponents(blocks[b].lfe_coefficients);
        }
    }
}

void check_dialnorm(int32_t dialnorm_db) {
    if (dialnorm_db < -31 || dialnorm_db > -1) throw std::runtime_error("dialnorm must be -31..-1 dB");
}

const char* const kZeroSnrFailure = "unable to fit AC-3 frame even at zero SNR allocation";

// Stages 2 to 5 of one frame, after the six blocks are analysed.
std::vector<uint8_t> encode_analyzed_frame(Blocks& blocks, uint32_t channels, const EncoderSettings& options) {
    const int nfbw = channels == 6 ? 5 : static_cast<int>(channels);
    const bool lfe = channels == 6;
    CouplingPlan coupling;
    if (channels == 2)
        coupling = analyze_coupling_and_rematrix(plan_coupling(options.coupling, options.bitrate_kbps), blocks,
                                                 options.bitrate_kbps, options.coupling_coordinate_reuse);
    const auto attempt = [&](bool exponent_adaptation) {
        FramePlan plan = plan_frame(blocks, options.bitrate_kbps, nfbw, lfe, coupling);
        plan_exponent_reuse(blocks, plan, nfbw, lfe, exponent_adaptation, options.bitrate_kbps);
        return fit_frame(blocks, plan, options.bitrate_kbps, options.dialnorm_db, channels, options.full_pack_probes);
    };
    try {
        return attempt(options.exponent_adaptation);
    } catch (const std::runtime_error& error) {
        // The one recovery: a frame too dense even at zero SNR is planned
        // again with every channel sending exponents only in block 0.
        if (!options.exponent_adaptation || std::string(error.what()).find(kZeroSnrFailure) == std::string::npos)
            throw;
    }
    return attempt(false);
}

std::vector<uint8_t> encode_frame_from(const PcmView& source, int64_t first_block, const EncoderSettings& options) {
    Blocks blocks;
    for (std::size_t b = 0; b < blocks.size(); b += kBlocksPerBatch) {
        analyze_batch_into(std::span(blocks).subspan(b, kBlocksPerBatch), source,
                           first_block + static_cast<int64_t>(b), options);
    }
    return encode_analyzed_frame(blocks, source.channels, options);
}

bool is_silent(std::span<const float> samples) {
    return std::none_of(samples.begin(), samples.end(), [](float s) { return std::fabs(s) > 1e-12f; });
}

}  // namespace

uint8_t gain_range_code(std::span<const double, 512> samples) {
    // The largest magnitude, gathered in four interleaved running maxima so
    // that the comparisons do not wait on one another (max is exact, the
    // order does not matter).
    std::array<double, 4> peaks{};
    for (std::size_t n = 0; n < samples.size(); n += 4) {
        for (std::size_t k = 0; k < 4; ++k) peaks[k] = std::max(peaks[k], std::fabs(samples[n + k]));
    }
    const double peak = std::max(std::max(peaks[0], peaks[1]), std::max(peaks[2], peaks[3]));
    if (peak >= 0.5) return 0;
    if (peak >= 0.25) return 1;
    if (peak >= 0.125) return 2;
    return 3;
}

BlockAnalysis analyze_block(const PcmView& source, int64_t block_number, const EncoderSettings& settings) {
    BlockAnalysis block{};
    analyze_batch_into(std::span(&block, 1), source, block_number, settings);
    return block;
}

std::vector<uint8_t> encode_frame_at(const PcmBuffer& pcm, uint64_t frame_index, const EncoderSettings& options) {
    if (pcm.channels != 1 && pcm.channels != 2 && pcm.channels != 6)
        throw std::runtime_error("non-silent milestone currently supports mono/stereo/canonical 5.1 only");
    const PcmView source{pcm.samples, pcm.channels, pcm.layout};
    return encode_frame_from(source, static_cast<int64_t>(frame_index) * kBlocksPerFrame, options);
}

std::vector<uint8_t> encode_frame_window(const FrameWindow& window, const EncoderSettings& options) {
    if (window.sample_rate != 48000) throw std::runtime_error("AC-3 frame-window contract requires 48 kHz PCM");
    if (window.channels == 0 || window.samples.size() != static_cast<size_t>(kFrameWindowFrames) * window.channels)
        throw std::runtime_error("AC-3 frame-window contract requires exactly 1792 PCM frames");
    if (window.channels != 1 && window.channels != 2 && window.channels != 6)
        throw std::runtime_error("AC-3 frame-window supports mono/stereo/canonical 5.1");
    if (window.channels == 6 && window.layout != ChannelLayout::Surround51)
        throw std::runtime_error("6-channel frame-window requires canonical 5.1 layout");
    check_dialnorm(options.dialnorm_db);
    lookup_rate(options.bitrate_kbps);
    // Window frame 256 * b is the first frame of block b's transform, which
    // is block number b + 1 counted from the window's start.
    const PcmView source{window.samples, window.channels, window.layout};
    return encode_frame_from(source, 1, options);
}

std::vector<uint8_t> make_silent_frame(uint32_t channels, const EncoderSettings& options) {
    check_dialnorm(options.dialnorm_db);
    return write_silent_frame(options.bitrate_kbps, options.dialnorm_db, channels);
}

uint64_t write_silent_stream(std::ostream& out, uint32_t channels, uint64_t frames, const EncoderSettings& options) {
    const std::vector<uint8_t> frame = make_silent_frame(channels, options);
    const uint64_t count = ac3_frame_count(frames);
    for (uint64_t f = 0; f < count; ++f) {
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
        if (!out) throw std::runtime_error("Failed while writing AC-3 output");
    }
    return count;
}

uint64_t ac3_frame_count(uint64_t frames) {
    return std::max<uint64_t>(1, (frames + kSamplesPerFrame - 1) / kSamplesPerFrame);
}

void encode_pcm_file(const PcmBuffer& pcm, const std::string& output_path, const EncoderSettings& options,
                     const EncodeProgress& progress) {
    if (pcm.sample_rate != 48000) throw std::runtime_error("AC-3 core contract requires 48 kHz PCM");
    if (pcm.channels < 1 || pcm.channels > 6) throw std::runtime_error("AC-3 core supports 1..6 channels");
    check_dialnorm(options.dialnorm_db);
    lookup_rate(options.bitrate_kbps);

    std::ofstream out(output_path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("Cannot create output: " + output_path);
    const uint64_t total = ac3_frame_count(pcm.frame_count());
    const auto report = [&](uint64_t done) {
        if (progress) progress(done, total);
    };
    if (is_silent(pcm.samples)) {
        write_silent_stream(out, pcm.channels, pcm.frame_count(), options);
    } else {
        if (pcm.channels == 6 && pcm.layout != ChannelLayout::Surround51)
            throw std::runtime_error("6-channel non-silent input requires canonical 5.1 layout");
        if (pcm.channels != 1 && pcm.channels != 2 && pcm.channels != 6)
            throw std::runtime_error("non-silent encode supports mono, stereo, and canonical 5.1 at this milestone");
        for (uint64_t f = 0; f < total; ++f) {
            report(f);
            const std::vector<uint8_t> frame = encode_frame_at(pcm, f, options);
            out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
        }
    }
    report(total);
    out.flush();
    if (!out) throw std::runtime_error("Failed while writing AC-3 output");
}

}  // namespace oskavi
