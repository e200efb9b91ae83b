#include "ac3/frame_allocation.h"

#include <algorithm>
#include <cstring>

namespace oskavi {

FrameAllocation::FrameAllocation(std::span<const BlockAnalysis, kBlocksPerFrame> blocks, const FramePlan& plan,
                                 uint32_t channels)
    : blocks_(blocks), plan_(plan) {
    const bool lfe = channels == 6;
    const uint32_t nfchans = std::min<uint32_t>(lfe ? 5 : channels, kMaxFbwChannels);
    for (uint32_t ch = 0; ch < nfchans; ++ch) {
        // A coupled channel codes its own bins only up to the coupling start.
        const uint32_t end = plan.coupling.in_use != 0 ? plan.coupling.cplstrtmant : plan.endmant[ch];
        slots_[slot_count_++] = Slot{SlotKind::FullBandwidth, static_cast<uint8_t>(ch), plan.fsnroffst[ch], 0, end};
        if (ch == 0 && plan.coupling.in_use != 0) {
            slots_[slot_count_++] = Slot{SlotKind::Coupling, 0, plan.cplfsnroffst, plan.coupling.cplstrtmant,
                                         plan.coupling.cplendmant};
        }
    }
    if (lfe) slots_[slot_count_++] = Slot{SlotKind::Lfe, 0, plan.fsnroffst[nfchans], 0, kLfeCodedBins};
    for (auto& row : curve_of_) row.fill(kNoCurve);
}

const uint8_t* FrameAllocation::exponents_of(const Slot& slot, int blk) const {
    const BlockAnalysis& block = blocks_[blk];
    switch (slot.kind) {
        case SlotKind::FullBandwidth: return block.exponent_sets[slot.channel].exponents.data();
        case SlotKind::Coupling: return block.cpl_exponent_set.exponents.data();
        case SlotKind::Lfe: break;
    }
    return block.lfe_exponent_set.exponents.data();
}

const double* FrameAllocation::coefficients_of(const Slot& slot, int blk) const {
    const BlockAnalysis& block = blocks_[blk];
    switch (slot.kind) {
        case SlotKind::FullBandwidth: return block.coefficients[slot.channel].data();
        case SlotKind::Coupling: return block.cpl_coefficients.data();
        case SlotKind::Lfe: break;
    }
    return block.lfe_coefficients.data();
}

FrameAllocation::Curve& FrameAllocation::new_curve(const Slot& slot, int blk) {
    const uint8_t* exponents = exponents_of(slot, blk);
    const std::span<const uint8_t> coded(exponents, slot.end);
    const BitAllocationMask mask =
        slot.kind == SlotKind::Coupling
            ? compute_coupling_allocation_mask(coded, slot.start, slot.end, kEncoderAllocationCodes, plan_.cplfleak,
                                               plan_.cplsleak)
            : compute_allocation_mask(coded, slot.start, slot.end, kEncoderAllocationCodes);
    Curve& curve = curves_[curve_count_++];
    curve.exponents = exponents;
    curve.band_mask = mask.mask;
    curve.floor = mask.floor;
    curve.tally_csnroffst = -1;
    curve.baps_csnroffst = -1;
    return curve;
}

FrameAllocation::Curve& FrameAllocation::curve_for(int s, int blk) {
    uint8_t& index = curve_of_[s][blk];
    if (index != kNoCurve) return curves_[index];
    const Slot& slot = slots_[s];
    // Equal exponents over the coded bins give an equal curve: a reused set
    // shares the curve of the block that sent it.
    if (blk > 0 && curve_of_[s][blk - 1] != kNoCurve) {
        const uint8_t previous = curve_of_[s][blk - 1];
        const uint8_t* mine = exponents_of(slot, blk);
        if (std::memcmp(mine + slot.start, curves_[previous].exponents + slot.start, slot.end - slot.start) == 0) {
            index = previous;
            return curves_[index];
        }
    }
    Curve& curve = new_curve(slot, blk);
    index = static_cast<uint8_t>(curve_count_ - 1);
    return curve;
}

uint32_t FrameAllocation::mantissa_bits(int blk, uint8_t csnroffst) {
    MantissaTally block_tally;
    for (int s = 0; s < slot_count_; ++s) {
        const Slot& slot = slots_[s];
        Curve& curve = curve_for(s, blk);
        if (curve.tally_csnroffst != csnroffst) {
            curve.tally = tally_mantissas(BinExponents(curve.exponents, kBinsPerBlock), curve.band_mask, slot.start,
                                          slot.end, curve.floor, csnroffst, slot.fsnroffst);
            curve.tally_csnroffst = csnroffst;
        }
        block_tally += curve.tally;
    }
    return tally_bits(block_tally);
}

std::span<const ChannelMantissas> FrameAllocation::mantissas(int blk, uint8_t csnroffst) {
    for (int s = 0; s < slot_count_; ++s) {
        const Slot& slot = slots_[s];
        Curve& curve = curve_for(s, blk);
        if (curve.baps_csnroffst != csnroffst) {
            baps_into(curve.baps.data(), BinExponents(curve.exponents, kBinsPerBlock), curve.band_mask, slot.start,
                      slot.end, curve.floor, csnroffst, slot.fsnroffst);
            curve.baps_csnroffst = csnroffst;
        }
        const std::size_t count = slot.end - slot.start;
        records_[s] = ChannelMantissas{std::span(coefficients_of(slot, blk) + slot.start, count),
                                       std::span(exponents_of(slot, blk) + slot.start, count),
                                       std::span<const uint8_t>(curve.baps.data() + slot.start, count)};
    }
    return std::span<const ChannelMantissas>(records_.data(), static_cast<std::size_t>(slot_count_));
}

void FrameAllocation::remember_side_bits(uint32_t bitrate_kbps, int dialnorm_db, uint32_t bits) {
    side_bits_ = SideBits{bitrate_kbps, dialnorm_db, bits};
}

std::optional<uint32_t> FrameAllocation::side_bits(uint32_t bitrate_kbps, int dialnorm_db) const {
    if (!side_bits_ || side_bits_->bitrate_kbps != bitrate_kbps || side_bits_->dialnorm_db != dialnorm_db)
        return std::nullopt;
    return side_bits_->bits;
}

}  // namespace oskavi
