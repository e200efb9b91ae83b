#pragma once
// Block-switching decision (A/52 blksw) for one full-bandwidth channel in one
// audio block. Both detectors look at the 512 samples of the block's
// transform: the 256 samples before the block, then the block's own 256. No
// state survives between calls; the filters start from zero every time.

#include <array>
#include <cstddef>
#include <span>
#include <utility>

namespace oskavi {

using TransientInput = std::span<const double, 512>;

// Count copies of one input (a span of fixed extent has no empty state, so
// an array of them starts out filled).
template <std::size_t Count>
std::array<TransientInput, Count> repeated_input(TransientInput input) {
    return [input]<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<TransientInput, Count>{((void)I, input)...};
    }(std::make_index_sequence<Count>());
}

// The hierarchical detector: 8 kHz high-pass of two cascaded biquads, then
// segment peaks of the block's half compared with their predecessors over
// three levels (256, 128 and 64 samples).
bool detect_transient(TransientInput samples);

// detect_transient of several inputs (the channels of one block): the
// filters of up to four inputs run side by side, each on its own samples
// with its own state, so every verdict equals detect_transient's. verdicts
// must hold one entry per input.
void detect_transients(std::span<const TransientInput> inputs, std::span<bool> verdicts);
// The same without the AVX2 kernel that detect_transients picks when the
// processor has it, for the test that holds the two to the same verdicts.
void detect_transients_plain(std::span<const TransientInput> inputs, std::span<bool> verdicts);

// The older detector: one-pole high-pass and a whole-block test followed by
// 64- and 32-sample segment tests.
bool detect_transient_legacy(TransientInput samples);

// The high-pass cascade of the hierarchical detector, from zero state.
std::array<double, 512> transient_highpass(TransientInput samples);

}  // namespace oskavi
