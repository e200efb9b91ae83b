#include "ac3/frame_packer.h"

#include <optional>
#include <stdexcept>

#include "ac3/encoder_errors.h"
#include "ac3/exponents.h"
#include "ac3/frame_allocation.h"
#include "ac3/mantissa_quantiser.h"
#include "bitstream/crc.h"
#include "bitstream/rate_table.h"

namespace oskavi {
namespace {

// The allocation codes this encoder sends for every channel, the coupling
// channel and the LFE channel, in every frame.
constexpr uint8_t kSdcycod = kEncoderAllocationCodes.sdcycod;
constexpr uint8_t kFdcycod = kEncoderAllocationCodes.fdcycod;
constexpr uint8_t kSgaincod = kEncoderAllocationCodes.sgaincod;
constexpr uint8_t kDbpbcod = kEncoderAllocationCodes.dbpbcod;
constexpr uint8_t kFloorcod = kEncoderAllocationCodes.floorcod;
constexpr uint8_t kFgaincod = kEncoderAllocationCodes.fgaincod;

// auxdatae (1), crcrsv (1) and crc2 (16) close every frame.
constexpr uint32_t kFrameTailBits = 18;
constexpr uint32_t kSyncword = 0x0B77;

struct StreamLayout {
    uint8_t acmod = 0;
    uint8_t lfeon = 0;
    uint32_t nfchans = 0;
};

StreamLayout layout_for(uint32_t channels) {
    const ChannelConfig config = channel_config(channels);
    return StreamLayout{config.acmod, config.lfeon, channels - config.lfeon};
}

StreamLayout supported_layout(uint32_t channels) {
    if (channels != 1 && channels != 2 && channels != 6) {
        throw std::runtime_error("non-silent milestone currently supports mono/stereo/canonical 5.1 only");
    }
    return layout_for(channels);
}

void write_flag(BitWriter& w, bool value) { w.write_bits(value ? 1u : 0u, 1); }

void write_syncinfo(BitWriter& w, const Ac3RateInfo& rate) {
    w.write_bits(kSyncword, 16);
    w.write_bits(0, 16);  // crc1, patched once the frame is complete
    w.write_bits(0, 2);   // fscod: 48 kHz
    w.write_bits(rate.frmsizecod, 6);
}

// An 8-bit word behind its 1-bit "exists" flag.
void write_optional_word(BitWriter& w, std::optional<uint8_t> word) {
    write_flag(w, word.has_value());
    if (word) w.write_bits(*word, 8);
}

// The alternate syntax's two extension blocks, in place of the time codes.
void write_extended_bsi(BitWriter& w, const StreamMetadata& m) {
    write_flag(w, m.extended_downmix.has_value());  // xbsi1e
    if (m.extended_downmix) {
        const ExtendedDownmix& d = *m.extended_downmix;
        w.write_bits(d.dmixmod, 2);
        w.write_bits(d.ltrtcmixlev, 3);
        w.write_bits(d.ltrtsurmixlev, 3);
        w.write_bits(d.lorocmixlev, 3);
        w.write_bits(d.lorosurmixlev, 3);
    }
    write_flag(w, m.extended_flags.has_value());  // xbsi2e
    if (m.extended_flags) {
        const ExtendedFlags& f = *m.extended_flags;
        w.write_bits(f.dsurexmod, 2);
        w.write_bits(f.dheadphonmod, 2);
        w.write_bits(f.adconvtyp, 1);
        w.write_bits(0, 8);  // xbsi2: reserved
        w.write_bits(0, 1);  // encinfo: reserved
    }
}

void write_bsi(BitWriter& w, uint8_t acmod, uint8_t lfeon, int dialnorm_db, const StreamMetadata& m,
               std::optional<uint8_t> compr) {
    w.write_bits(m.bsid(), 5);
    w.write_bits(m.bsmod, 3);
    w.write_bits(acmod, 3);
    if ((acmod & 1) != 0 && acmod != 1) w.write_bits(m.cmixlev, 2);  // three front channels
    if ((acmod & 4) != 0) w.write_bits(m.surmixlev, 2);              // surround channels
    if (acmod == 2) w.write_bits(m.dsurmod, 2);
    w.write_bits(lfeon, 1);
    w.write_bits(static_cast<uint32_t>(-dialnorm_db), 5);
    write_optional_word(w, compr);  // compre, compr
    w.write_bits(0, 1);             // langcode
    write_flag(w, m.production.has_value());  // audprodie
    if (m.production) {
        w.write_bits(m.production->mixlevel, 5);
        w.write_bits(m.production->roomtyp, 2);
    }
    write_flag(w, m.copyrightb);
    write_flag(w, m.origbs);
    if (m.bsid() == 6) {
        write_extended_bsi(w, m);
    } else {
        w.write_bits(0, 1);  // timecod1e
        w.write_bits(0, 1);  // timecod2e
    }
    w.write_bits(0, 1);  // addbsie
}

void write_allocation_codes(BitWriter& w) {
    w.write_bits(kSdcycod, 2);
    w.write_bits(kFdcycod, 2);
    w.write_bits(kSgaincod, 2);
    w.write_bits(kDbpbcod, 2);
    w.write_bits(kFloorcod, 3);
}

void write_exponent_groups(BitWriter& w, const ExponentSet& set) {
    w.write_fields(std::span(set.group_codes).first(set.group_count), 7);
}

uint32_t coupling_band_count(const FramePlan& plan) {
    return (plan.coupling.cplendmant - plan.coupling.cplstrtmant) / kCouplingBandWidth;
}

// blksw, dithflag, dynrnge and the coupling strategy (sent in block 0 only,
// in force for the whole frame).
void write_block_start(BitWriter& w, int blk, const StreamLayout& layout, const BlockAnalysis& block,
                       const FramePlan& plan, std::optional<uint8_t> dynrng) {
    for (uint32_t ch = 0; ch < layout.nfchans; ++ch) w.write_bits(block.blksw[ch], 1);
    for (uint32_t ch = 0; ch < layout.nfchans; ++ch) w.write_bits(0, 1);  // dithflag
    write_optional_word(w, dynrng);                                         // dynrnge, dynrng
    write_flag(w, blk == 0);                                                // cplstre
    if (blk != 0) return;
    w.write_bits(plan.coupling.in_use, 1);
    if (plan.coupling.in_use == 0) return;
    for (uint32_t ch = 0; ch < layout.nfchans; ++ch) w.write_bits(1, 1);  // chincpl
    if (layout.acmod == 2) w.write_bits(1, 1);                             // phsflginu
    w.write_bits(plan.coupling.cplbegf, 4);
    w.write_bits(plan.coupling.cplendf, 4);
    // Every 12-bin sub-band is a coupling band of its own: cplbndstrc all 0.
    w.write_zeros(coupling_band_count(plan) - 1);
}

void write_coupling_coordinates(BitWriter& w, int blk, const StreamLayout& layout, const BlockAnalysis& block,
                                const FramePlan& plan) {
    const uint32_t bands = coupling_band_count(plan);
    bool any_new = false;
    for (uint32_t ch = 0; ch < layout.nfchans; ++ch) {
        const ChannelCouplingCoordinates& coords = block.coupling.at(ch);
        const bool cplcoe = blk == 0 || coords.new_coordinates != 0;
        write_flag(w, cplcoe);
        if (!cplcoe) continue;
        any_new = true;
        w.write_bits(coords.mstrcplco, 2);
        for (uint32_t b = 0; b < bands; ++b) {
            w.write_bits(coords.bands.at(b).cplcoexp, 4);
            w.write_bits(coords.bands.at(b).cplcomant, 4);
        }
    }
    if (layout.acmod == 2 && any_new) {
        for (uint32_t b = 0; b < bands; ++b) w.write_bits(block.phsflg.at(b), 1);
    }
}

void write_rematrixing(BitWriter& w, int blk, const BlockAnalysis& block, bool rematrix_changed) {
    const bool rematstr = blk == 0 || rematrix_changed;
    write_flag(w, rematstr);
    // The coupling range never begins below sub-band 4, so there are always
    // four rematrixing bands.
    if (rematstr) {
        for (uint8_t flag : block.rematflg) w.write_bits(flag, 1);
    }
}

void write_exponents(BitWriter& w, int blk, const StreamLayout& layout, const BlockAnalysis& block,
                     const FramePlan& plan) {
    const auto& strategies = plan.chexpstr[blk];
    if (plan.coupling.in_use != 0) w.write_bits(blk == 0 ? kExpD15 : kExpReuse, 2);  // cplexpstr
    for (uint32_t ch = 0; ch < layout.nfchans; ++ch) w.write_bits(strategies[ch], 2);
    if (layout.lfeon != 0) write_flag(w, blk == 0);  // lfeexpstr: D15 in block 0
    if (plan.coupling.in_use == 0) {
        for (uint32_t ch = 0; ch < layout.nfchans; ++ch) {
            if (strategies[ch] != kExpReuse) w.write_bits(plan.chbwcod[ch], 6);
        }
    }
    if (plan.coupling.in_use != 0 && blk == 0) {
        w.write_bits(block.cpl_exponent_set.absolute_exponent, 4);  // cplabsexp
        write_exponent_groups(w, block.cpl_exponent_set);
    }
    for (uint32_t ch = 0; ch < layout.nfchans; ++ch) {
        if (strategies[ch] == kExpReuse) continue;
        w.write_bits(block.exponent_sets[ch].absolute_exponent, 4);
        write_exponent_groups(w, block.exponent_sets[ch]);
        w.write_bits(0, 2);  // gainrng
    }
    if (layout.lfeon != 0 && blk == 0) {
        w.write_bits(block.lfe_exponent_set.absolute_exponent, 4);
        write_exponent_groups(w, block.lfe_exponent_set);
    }
}

// baie, snroffste, cplleake: all sent in block 0 and in force for the frame.
void write_allocation_fields(BitWriter& w, int blk, const StreamLayout& layout, const FramePlan& plan,
                             uint8_t csnroffst) {
    const bool first = blk == 0;
    write_flag(w, first);  // baie
    if (first) write_allocation_codes(w);
    write_flag(w, first);  // snroffste
    if (first) {
        w.write_bits(csnroffst, 6);
        if (plan.coupling.in_use != 0) {
            w.write_bits(plan.cplfsnroffst, 4);
            w.write_bits(kFgaincod, 3);
        }
        for (uint32_t ch = 0; ch < layout.nfchans; ++ch) {
            w.write_bits(plan.fsnroffst[ch], 4);
            w.write_bits(kFgaincod, 3);
        }
        if (layout.lfeon != 0) {
            w.write_bits(plan.fsnroffst[layout.nfchans], 4);
            w.write_bits(kFgaincod, 3);
        }
    }
    if (plan.coupling.in_use != 0) {
        write_flag(w, first);  // cplleake
        if (first) {
            w.write_bits(plan.cplfleak, 3);
            w.write_bits(plan.cplsleak, 3);
        }
    }
    w.write_bits(0, 1);  // deltbaie
    w.write_bits(0, 1);  // skiple
}

void write_audio_block(BitWriter& w, int blk, const StreamLayout& layout, const BlockAnalysis& block,
                       const FramePlan& plan, std::optional<uint8_t> dynrng, uint8_t csnroffst, bool rematrix_changed,
                       FrameAllocation& allocation) {
    write_block_start(w, blk, layout, block, plan, dynrng);
    if (plan.coupling.in_use != 0) write_coupling_coordinates(w, blk, layout, block, plan);
    if (layout.acmod == 2) write_rematrixing(w, blk, block, rematrix_changed);
    write_exponents(w, blk, layout, block, plan);
    write_allocation_fields(w, blk, layout, plan, csnroffst);

    // Baps with the codes just written; blocks that reuse exponents share
    // their run's allocation.
    if (w.count_only) {
        w.write_zeros(allocation.mantissa_bits(blk, csnroffst));
    } else {
        write_mantissas(w, allocation.mantissas(blk, csnroffst));
    }
}

// Mantissa bits of all six blocks (their allocation is remembered per
// csnroffst, so this is a sum once the blocks have been counted).
uint32_t frame_mantissa_bits(FrameAllocation& allocation, uint8_t csnroffst) {
    uint32_t bits = 0;
    for (int blk = 0; blk < kBlocksPerFrame; ++blk) bits += allocation.mantissa_bits(blk, csnroffst);
    return bits;
}

bool rematrix_changed(FrameBlocks blocks, int blk) {
    return blk > 0 && blocks[blk].rematflg != blocks[blk - 1].rematflg;
}

// Zero fill up to the last 18 bits, then auxdatae, crcrsv and the crc2
// placeholder.
void write_frame_tail(BitWriter& w, uint32_t frame_bits) {
    w.write_zeros(frame_bits - kFrameTailBits - w.bit_count);
    w.write_bits(0, 1);   // auxdatae
    w.write_bits(0, 1);   // crcrsv
    w.write_bits(0, 16);  // crc2
}

// Syncinfo, BSI and the six audio blocks in the given channel layout.
uint32_t pack_layout(BitWriter& writer, const FrameContext& frame, const StreamLayout& layout, uint8_t csnroffst,
                     FrameAllocation& allocation) {
    const Ac3RateInfo rate = lookup_rate(frame.bitrate_kbps);
    write_syncinfo(writer, rate);
    write_bsi(writer, layout.acmod, layout.lfeon, frame.dialnorm_db, frame.metadata, frame.gains.compr);
    for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
        write_audio_block(writer, blk, layout, frame.blocks[blk], frame.plan, frame.gains.dynrng[blk], csnroffst,
                          rematrix_changed(frame.blocks, blk), allocation);
    }
    return writer.bit_count;
}

// The blocks of a silent frame: every exponent 15 (absolute 15, then groups
// of three zero differences) over the narrowest bandwidth, 73 bins, and over
// the LFE's 7 bins; zero coefficients.
std::array<BlockAnalysis, kBlocksPerFrame> silent_blocks(const StreamLayout& layout) {
    RawExponents quiet;
    quiet.fill(15);
    const ExponentSet channel_set = prepare_exponent_set(quiet, kExpD15, kMinEndmant);
    const ExponentSet lfe_set = prepare_exponent_set(quiet, kExpD15, kLfeCodedBins);
    std::array<BlockAnalysis, kBlocksPerFrame> blocks{};
    for (BlockAnalysis& block : blocks) {
        for (uint32_t ch = 0; ch < layout.nfchans; ++ch) block.exponent_sets[ch] = channel_set;
        block.lfe_present = layout.lfeon != 0;
        block.lfe_exponent_set = lfe_set;
    }
    return blocks;
}

// Exponents sent in block 0 and reused; csnroffst 0 with every fsnroffst 0
// leaves every bap of these exponents at 0.
FramePlan silent_plan(const StreamLayout& layout) {
    FramePlan plan;
    plan.fsnroffst.fill(0);
    for (uint32_t ch = 0; ch < layout.nfchans; ++ch) plan.chexpstr[0][ch] = kExpD15;
    return plan;
}

}  // namespace

uint32_t pack_frame_bits(BitWriter& writer, const FrameContext& frame, uint8_t csnroffst, FrameAllocation& allocation) {
    return pack_layout(writer, frame, supported_layout(frame.channels), csnroffst, allocation);
}

uint32_t pack_frame_bits(BitWriter& writer, const FrameContext& frame, uint8_t csnroffst) {
    FrameAllocation allocation(frame.blocks, frame.plan, frame.channels);
    return pack_frame_bits(writer, frame, csnroffst, allocation);
}

std::vector<uint8_t> write_frame(const FrameContext& frame, uint8_t csnroffst, FrameAllocation& allocation) {
    const Ac3RateInfo rate = lookup_rate(frame.bitrate_kbps);
    BitWriter writer(rate.frame_bytes);
    pack_frame_bits(writer, frame, csnroffst, allocation);
    const uint32_t frame_bits = 8u * rate.frame_bytes;
    if (writer.bit_count + kFrameTailBits > frame_bits) throw FrameSizeOverflow();
    write_frame_tail(writer, frame_bits);
    patch_frame_crcs(writer.bytes, rate.frame_words);
    return std::move(writer.bytes);
}

std::vector<uint8_t> write_frame(const FrameContext& frame, uint8_t csnroffst) {
    FrameAllocation allocation(frame.blocks, frame.plan, frame.channels);
    return write_frame(frame, csnroffst, allocation);
}

bool frame_fits(const FrameContext& frame, uint8_t csnroffst, FrameAllocation& allocation) {
    // The csnroffst field is the only one whose value varies between size
    // passes; a value it cannot hold goes through the full count and fails
    // where it always does.
    const std::optional<uint32_t> side = allocation.side_bits(frame.bitrate_kbps, frame.dialnorm_db);
    uint32_t bits = 0;
    if (side && csnroffst <= kMaxCsnroffst) {
        bits = *side + frame_mantissa_bits(allocation, csnroffst);
    } else {
        BitWriter counter(0, true);
        bits = pack_frame_bits(counter, frame, csnroffst, allocation);
        allocation.remember_side_bits(frame.bitrate_kbps, frame.dialnorm_db,
                                      bits - frame_mantissa_bits(allocation, csnroffst));
    }
    return bits + kFrameTailBits <= 8u * lookup_rate(frame.bitrate_kbps).frame_bytes;
}

bool frame_fits(const FrameContext& frame, uint8_t csnroffst) {
    FrameAllocation allocation(frame.blocks, frame.plan, frame.channels);
    return frame_fits(frame, csnroffst, allocation);
}

std::vector<uint8_t> write_silent_frame(uint32_t bitrate_kbps, int dialnorm_db, uint32_t channels,
                                        const StreamMetadata& metadata) {
    const Ac3RateInfo rate = lookup_rate(bitrate_kbps);
    const StreamLayout layout = layout_for(channels);
    const std::array<BlockAnalysis, kBlocksPerFrame> blocks = silent_blocks(layout);
    const FramePlan plan = silent_plan(layout);
    const FrameContext frame{blocks, plan, bitrate_kbps, dialnorm_db, channels, metadata, {}};
    FrameAllocation allocation(frame.blocks, plan, channels);
    BitWriter writer(rate.frame_bytes);
    pack_layout(writer, frame, layout, 0, allocation);
    const uint32_t frame_bits = 8u * rate.frame_bytes;
    if (writer.bit_count + kFrameTailBits > frame_bits) {
        throw std::runtime_error("AC-3 side information exceeds selected frame size");
    }
    write_frame_tail(writer, frame_bits);
    if (writer.bit_count != frame_bits) throw std::runtime_error("internal AC-3 frame packing size error");
    patch_frame_crcs(writer.bytes, rate.frame_words);
    return std::move(writer.bytes);
}

}  // namespace oskavi
