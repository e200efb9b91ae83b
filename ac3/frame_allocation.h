#pragma once
// The bit allocation of one frame as the packer needs it at many coarse SNR
// offsets. The masking curve of a channel does not depend on csnroffst, and
// a block that reuses its channel's exponents has the very same curve as the
// block it reuses them from, so each distinct curve is computed once, on
// first use, and serves every block of its exponent run and every probe.
//
// A FrameAllocation is bound to one frame's blocks and plan, which must stay
// alive and unchanged while it is used.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "ac3/bit_allocation_tables.h"
#include "ac3/frame_records.h"
#include "ac3/mantissa_quantiser.h"
#include "ac3/mantissa_tally.h"

namespace oskavi {

// The allocation codes this encoder sends for every channel, the coupling
// channel and the LFE, in every frame; the SNR offsets vary.
inline constexpr BitAllocParams kEncoderAllocationCodes{2, 1, 1, 2, 4, 4, 0, 0};

class FrameAllocation {
public:
    // channels as given to the packer (1, 2 or 6); other counts leave the
    // object unusable, the packer rejects them before asking.
    FrameAllocation(std::span<const BlockAnalysis, kBlocksPerFrame> blocks, const FramePlan& plan,
                    uint32_t channels);

    // Mantissa bits of block blk at csnroffst (count_mantissa_bits of its
    // baps). Throws the allocation's range errors for an invalid plan.
    uint32_t mantissa_bits(int blk, uint8_t csnroffst);

    // The mantissa records of block blk at csnroffst in transmission order;
    // valid until the next call for another csnroffst.
    std::span<const ChannelMantissas> mantissas(int blk, uint8_t csnroffst);

    // Everything but the mantissas (syncinfo, BSI, the blocks' side
    // information) takes the same bits at every csnroffst: once a size pass
    // has counted the frame, it is remembered for the packing parameters
    // used, and later size passes only add up the mantissas.
    void remember_side_bits(uint32_t bitrate_kbps, int dialnorm_db, uint32_t bits);
    std::optional<uint32_t> side_bits(uint32_t bitrate_kbps, int dialnorm_db) const;

private:
    // Channels in transmission order: full-bandwidth channel 0, the coupling
    // channel when in use, the other full-bandwidth channels, the LFE.
    enum class SlotKind : uint8_t { FullBandwidth, Coupling, Lfe };
    struct Slot {
        SlotKind kind;
        uint8_t channel;
        uint8_t fsnroffst;
        uint32_t start;
        uint32_t end;
    };
    // One distinct masking curve and what was last derived from it.
    struct Curve {
        const uint8_t* exponents;  // a whole row of kBinsPerBlock, indexed by bin
        std::array<int32_t, a52::kBandCount> band_mask;
        int32_t floor;
        int16_t tally_csnroffst;  // -1: none yet
        int16_t baps_csnroffst;
        MantissaTally tally;
        std::array<uint8_t, kBinsPerBlock> baps;
    };
    static constexpr int kMaxSlots = kMaxFbwChannels + 2;
    static constexpr uint8_t kNoCurve = 0xFF;

    const uint8_t* exponents_of(const Slot& slot, int blk) const;
    const double* coefficients_of(const Slot& slot, int blk) const;
    Curve& curve_for(int slot, int blk);
    Curve& new_curve(const Slot& slot, int blk);

    std::span<const BlockAnalysis, kBlocksPerFrame> blocks_;
    const FramePlan& plan_;
    std::array<Slot, kMaxSlots> slots_;
    int slot_count_ = 0;
    std::array<std::array<uint8_t, kBlocksPerFrame>, kMaxSlots> curve_of_;  // [slot][blk]
    std::array<Curve, kMaxSlots * kBlocksPerFrame> curves_;                 // filled on demand
    int curve_count_ = 0;
    std::array<ChannelMantissas, kMaxSlots> records_;
    struct SideBits {
        uint32_t bitrate_kbps;
        int dialnorm_db;
        uint32_t bits;
    };
    std::optional<SideBits> side_bits_;
};

}  // namespace oskavi
