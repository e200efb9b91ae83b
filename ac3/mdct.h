#pragma once
// Forward A/52 transform of one audio block: the analysis window followed by
// the MDCT, either as one long 512-sample transform or as the block-switched
// pair of 256-sample transforms.
//
// Input is always the 512 samples the block's transform sees: the 256
// samples before the block, then the block's own 256.
//
// Two implementations compute the same values to within double rounding: the
// fast path (fold plus a DCT-IV through a quarter-size complex FFT, fft.h)
// and the dense path (matrix-vector product with a precomputed kernel). The
// public entry points take the choice from the caller (the encoder settings'
// dense_mdct). All tables are built once on first use (thread-safe) and no
// trigonometric function is evaluated per call.

#include <array>
#include <span>

namespace oskavi {

inline constexpr int kMdctInputSamples = 512;
inline constexpr int kMdctCoefficients = 256;

using MdctInput = std::span<const double, kMdctInputSamples>;
using MdctOutput = std::array<double, kMdctCoefficients>;

// X[k], k = 0..255, of the windowed 512-sample MDCT (scale -2/N). `dense`
// selects the dense matrix kernel, a cross-check of the fast path.
MdctOutput mdct_long(MdctInput samples, bool dense);

// Two windowed 256-sample MDCTs (first half of the window on samples 0..255,
// second half on 256..511), interleaved: X1[k] at 2k, X2[k] at 2k + 1.
MdctOutput mdct_short_pair(MdctInput samples, bool dense);

// The two implementations, callable directly (benchmarks, cross-checks).
MdctOutput mdct_long_fast(MdctInput samples);
// The plain build of mdct_long_fast (which runs an AVX2 build where the
// processor has it): the same bits on any processor.
MdctOutput mdct_long_fast_plain(MdctInput samples);
MdctOutput mdct_short_pair_fast(MdctInput samples);
MdctOutput mdct_long_dense(MdctInput samples);
MdctOutput mdct_short_pair_dense(MdctInput samples);

}  // namespace oskavi
