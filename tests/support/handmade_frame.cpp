#include "tests/support/handmade_frame.h"

#include <algorithm>
#include <span>
#include <stdexcept>

#include "ac3/coupling.h"
#include "ac3/exponents.h"
#include "ac3/frame_packer.h"
#include "ac3/mdct.h"
#include "ac3/rematrixing.h"

namespace oskavi::test {
namespace {

constexpr uint32_t kWindowSamples = 1792;

MdctOutput block_transform(const std::vector<double>& window, int blk) {
    return mdct_long(std::span<const double, kMdctInputSamples>(window.data() + 256 * blk, kMdctInputSamples));
}

// Per-bin minimum over the six blocks: the smallest exponent gives every
// block's coefficients room below 1.0 when the set is reused.
RawExponents minimum_exponents(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks,
                               const RawExponents BlockAnalysis::*field) {
    RawExponents m;
    m.fill(24);
    for (const BlockAnalysis& block : blocks) {
        for (int bin = 0; bin < kBinsPerBlock; ++bin) m[bin] = std::min(m[bin], (block.*field)[bin]);
    }
    return m;
}

RawExponents minimum_channel_exponents(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t ch) {
    RawExponents m;
    m.fill(24);
    for (const BlockAnalysis& block : blocks) {
        for (int bin = 0; bin < kBinsPerBlock; ++bin) m[bin] = std::min(m[bin], block.raw_exponents[ch][bin]);
    }
    return m;
}

// Blocks 1..5 keep block 0's coordinates and phase flags, so they send
// cplcoe 0 and no phase flags.
void hold_coordinates(HandmadeFrame& frame) {
    for (int blk = 1; blk < kBlocksPerFrame; ++blk) {
        BlockAnalysis& block = frame.blocks[blk];
        block.coupling = frame.blocks[0].coupling;
        block.phsflg = frame.blocks[0].phsflg;
        for (auto& coords : block.coupling) coords.new_coordinates = 0;
    }
}

void couple(HandmadeFrame& frame, const CouplingPlan& cp, bool hold) {
    for (BlockAnalysis& block : frame.blocks) {
        CoupledBlock coupled = couple_block(block.coefficients[0], block.coefficients[1], cp);
        block.cpl_coefficients = coupled.coefficients;
        block.cpl_raw_exponents = raw_exponents(coupled.coefficients);
        block.coupling = coupled.coordinates;
        block.phsflg = coupled.phsflg;
    }
    if (hold) {
        hold_coordinates(frame);
    } else {
        mark_coordinate_reuse(frame.blocks);
    }
    const RawExponents mins = minimum_exponents(frame.blocks, &BlockAnalysis::cpl_raw_exponents);
    const ExponentSet set = coupling_exponent_set(mins, cp.cplstrtmant, cp.cplendmant);
    for (BlockAnalysis& block : frame.blocks) block.cpl_exponent_set = set;
    FramePlan& plan = frame.plan;
    plan.cplinu = 1;
    plan.cplbegf = cp.cplbegf;
    plan.cplendf = cp.cplendf;
    plan.cplstrtmant = cp.cplstrtmant;
    plan.cplendmant = cp.cplendmant;
    plan.coupling_bands = cp.bands;
    plan.endmant[0] = plan.endmant[1] = cp.cplstrtmant;
}

}  // namespace

HandmadeFrame make_handmade_frame(const std::vector<std::vector<double>>& windows, const HandmadeOptions& options) {
    const uint32_t nfbw = static_cast<uint32_t>(windows.size()) - (options.lfe ? 1 : 0);
    for (const auto& w : windows) {
        if (w.size() != kWindowSamples) throw std::runtime_error("hand-made frame window must hold 1792 samples");
    }
    HandmadeFrame frame;
    FramePlan& plan = frame.plan;
    for (uint32_t ch = 0; ch < nfbw; ++ch) {
        plan.endmant[ch] = options.endmant;
        plan.chbwcod[ch] = static_cast<uint8_t>((options.endmant - 73) / 3);
        plan.fsnroffst[ch] = options.fsnroffst;
        plan.chexpstr[0][ch] = kExpD15;  // blocks 1..5 stay at reuse
    }
    for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
        BlockAnalysis& block = frame.blocks[blk];
        for (uint32_t ch = 0; ch < nfbw; ++ch) {
            block.coefficients[ch] = block_transform(windows[ch], blk);
            block.raw_exponents[ch] = raw_exponents(block.coefficients[ch]);
        }
        if (options.lfe) {
            block.lfe_present = true;
            block.lfe_coefficients = block_transform(windows[nfbw], blk);
            block.lfe_raw_exponents = raw_exponents(block.lfe_coefficients);
        }
    }
    const bool stereo = nfbw == 2 && !options.lfe;
    CouplingPlan cp;
    if (options.coupling_kbps != 0 && stereo) {
        cp = plan_coupling(true, options.coupling_kbps);
        if (cp.in_use == 0) throw std::runtime_error("hand-made coupling needs a coupling bit rate");
    }
    if (options.rematrix && stereo) rematrix_frame(frame.blocks, cp.in_use != 0 ? cp.cplstrtmant : kRematrixUpperBin);
    if (cp.in_use != 0) couple(frame, cp, options.hold_coordinates);
    for (uint32_t ch = 0; ch < nfbw; ++ch) {
        const RawExponents mins = minimum_channel_exponents(frame.blocks, ch);
        const ExponentSet set = prepare_exponent_set(mins, kExpD15, plan.endmant[ch]);
        for (BlockAnalysis& block : frame.blocks) block.exponent_sets[ch] = set;
    }
    if (options.lfe) {
        plan.fsnroffst[nfbw] = options.lfe_fsnroffst;
        const RawExponents mins = minimum_exponents(frame.blocks, &BlockAnalysis::lfe_raw_exponents);
        const ExponentSet set = prepare_exponent_set(mins, kExpD15, kLfeCodedBins);
        for (BlockAnalysis& block : frame.blocks) block.lfe_exponent_set = set;
    }
    return frame;
}

int largest_fitting_csnroffst(const HandmadeFrame& frame, uint32_t bitrate_kbps, uint32_t channels) {
    for (int c = 63; c >= 0; --c) {
        if (frame_fits(frame.blocks, frame.plan, bitrate_kbps, -31, channels, static_cast<uint8_t>(c))) return c;
    }
    return -1;
}

std::vector<uint8_t> encode_handmade_stream(const std::vector<std::vector<double>>& signals, uint32_t bitrate_kbps,
                                            const HandmadeOptions& options, std::vector<HandmadeFrame>* frames) {
    const std::size_t length = signals.empty() ? 0 : signals.front().size();
    const std::size_t frame_count = (length + 1535) / 1536;
    std::vector<uint8_t> stream;
    for (std::size_t f = 0; f < frame_count; ++f) {
        std::vector<std::vector<double>> windows(signals.size(), std::vector<double>(kWindowSamples, 0.0));
        for (std::size_t ch = 0; ch < signals.size(); ++ch) {
            for (std::size_t i = 0; i < kWindowSamples; ++i) {
                const long long n = static_cast<long long>(f * 1536 + i) - 256;
                if (n >= 0 && static_cast<std::size_t>(n) < length) windows[ch][i] = signals[ch][n];
            }
        }
        const HandmadeFrame frame = make_handmade_frame(windows, options);
        const auto channels = static_cast<uint32_t>(signals.size());
        const int csnroffst = largest_fitting_csnroffst(frame, bitrate_kbps, channels);
        if (csnroffst < 0) throw std::runtime_error("hand-made frame does not fit");
        const std::vector<uint8_t> bytes =
            write_frame(frame.blocks, frame.plan, bitrate_kbps, -31, channels, static_cast<uint8_t>(csnroffst));
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        if (frames != nullptr) frames->push_back(frame);
    }
    return stream;
}

}  // namespace oskavi::test
