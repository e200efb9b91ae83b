#include "ac3/block_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "ac3/exponents.h"
#include "ac3/mdct.h"
#include "ac3/transient_detector.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace oskavi {
namespace {

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

// A sample as the analysis takes it. Input is nominally -1..1; a NaN (no
// level at all) or an infinity would poison every sum it enters, so NaN codes
// as silence and an infinity as full scale. Finite values pass unchanged.
double coded_sample(float s) {
    if (std::isnan(s)) return 0.0;
    if (std::isinf(s)) return s > 0.0f ? 1.0 : -1.0;
    return static_cast<double>(s);
}

// x[i] = at[i * stride] as doubles; the common strides are known to the
// compiler, so that it can convert them in vectors.
template <std::size_t Stride>
void convert_with_stride(const float* at, std::span<double> x) {
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(at[i * Stride]);
}

void convert_channel(const float* at, std::size_t stride, std::span<double> x) {
    switch (stride) {
        case 1: return convert_with_stride<1>(at, x);
        case 2: return convert_with_stride<2>(at, x);
        case 6: return convert_with_stride<6>(at, x);
        default:
            for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(at[i * stride]);
    }
}

// convert_channel, then whether every sample was finite: x - x is 0.0 for
// a finite x and NaN otherwise, so the four running sums stay exactly 0.0
// when every sample is finite (and take no branch per sample).
bool convert_and_probe(const float* at, std::size_t stride, std::span<double> x) {
    convert_channel(at, stride, x);
    std::array<double, 4> probe{};
    for (std::size_t i = 0; i < x.size(); i += 4) {
        for (std::size_t k = 0; k < 4; ++k) probe[k] += x[i + k] - x[i + k];
    }
    return probe[0] + probe[1] + probe[2] + probe[3] == 0.0;
}

#if defined(__SSE2__)
// Four consecutive samples of the channel at Position, from frame i on, of
// frames of Stride (1 or 2) channels.
template <std::size_t Stride, uint32_t Position>
__m128 four_samples(const float* frames, std::size_t i) {
    if constexpr (Stride == 1) {
        return _mm_loadu_ps(frames + i);
    } else {
        const __m128 a = _mm_loadu_ps(frames + 2 * i);
        const __m128 b = _mm_loadu_ps(frames + 2 * i + 4);
        return _mm_shuffle_ps(a, b, Position == 0 ? _MM_SHUFFLE(2, 0, 2, 0) : _MM_SHUFFLE(3, 1, 3, 1));
    }
}

// convert_and_probe for mono and stereo frames, four samples at a time:
// finiteness read off the floats themselves (a NaN or an infinity has an
// all-ones exponent field, and converts to one).
template <std::size_t Stride, uint32_t Position>
bool convert_four_at_a_time(const float* frames, std::span<double> x) {
    const __m128i exponent_field = _mm_set1_epi32(0x7F800000);
    __m128i non_finite = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 4 <= x.size(); i += 4) {
        const __m128 f = four_samples<Stride, Position>(frames, i);
        const __m128i field = _mm_and_si128(_mm_castps_si128(f), exponent_field);
        non_finite = _mm_or_si128(non_finite, _mm_cmpeq_epi32(field, exponent_field));
        _mm_storeu_pd(x.data() + i, _mm_cvtps_pd(f));
        _mm_storeu_pd(x.data() + i + 2, _mm_cvtps_pd(_mm_movehl_ps(f, f)));
    }
    bool finite = _mm_movemask_epi8(non_finite) == 0;
    for (; i < x.size(); ++i) {
        const float sample = frames[i * Stride + Position];
        x[i] = static_cast<double>(sample);
        finite = finite && std::isfinite(sample);
    }
    return finite;
}
#endif

// x[i] = the channel's sample i as a double, from the frames starting at
// `frames`; returns whether every one of them was finite.
bool convert_checked(const float* frames, std::size_t stride, uint32_t position, std::span<double> x) {
#if defined(__SSE2__)
    if (stride == 1) return convert_four_at_a_time<1, 0>(frames, x);
    if (stride == 2) return position == 0 ? convert_four_at_a_time<2, 0>(frames, x)
                                          : convert_four_at_a_time<2, 1>(frames, x);
#endif
    return convert_and_probe(frames + position, stride, x);
}

// x.size() samples of one channel from first_frame on, 0.0 outside the source.
void gather(const PcmView& source, int64_t first_frame, uint32_t position, std::span<double> x) {
    const int64_t frames = static_cast<int64_t>(source.frame_count());
    const float* samples = source.samples.data();
    const std::size_t stride = source.channels;
    const auto count = static_cast<int64_t>(x.size());
    if (first_frame >= 0 && first_frame + count <= frames) {
        const float* frames_at = samples + static_cast<std::size_t>(first_frame) * stride;
        // Plain conversion first; the rare run with a NaN or an infinity in
        // it is converted again sample by sample.
        if (!convert_checked(frames_at, stride, position, x)) {
            const float* at = frames_at + position;
            for (std::size_t i = 0; i < x.size(); ++i) x[i] = coded_sample(at[i * stride]);
        }
        return;
    }
    for (int64_t i = 0; i < count; ++i) {
        const int64_t frame = first_frame + i;
        x[static_cast<std::size_t>(i)] =
            frame >= 0 && frame < frames
                ? coded_sample(samples[static_cast<std::size_t>(frame) * stride + position])
                : 0.0;
    }
}

// The largest magnitude of 256 samples, from 0.0, in four interleaved
// running maxima so that the comparisons do not wait on one another (max is
// exact, the order does not matter), each "magnitude > peak ? magnitude :
// peak". That is what the SSE2 maximum computes, operand for operand, NaN
// included (it returns the second operand unless the first is larger).
double half_block_peak(const double* samples) {
    std::array<double, 4> peaks{};
#if defined(__SSE2__)
    const __m128d magnitude_bits = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    __m128d low = _mm_setzero_pd();   // peaks 0 and 1
    __m128d high = _mm_setzero_pd();  // peaks 2 and 3
    for (std::size_t n = 0; n < kSamplesPerBlock; n += 4) {
        low = _mm_max_pd(_mm_and_pd(_mm_loadu_pd(samples + n), magnitude_bits), low);
        high = _mm_max_pd(_mm_and_pd(_mm_loadu_pd(samples + n + 2), magnitude_bits), high);
    }
    _mm_storeu_pd(peaks.data(), low);
    _mm_storeu_pd(peaks.data() + 2, high);
#else
    for (std::size_t n = 0; n < kSamplesPerBlock; n += 4) {
        for (std::size_t k = 0; k < 4; ++k) {
            const double magnitude = std::fabs(samples[n + k]);
            peaks[k] = magnitude > peaks[k] ? magnitude : peaks[k];
        }
    }
#endif
    return std::max(std::max(peaks[0], peaks[1]), std::max(peaks[2], peaks[3]));
}

uint8_t gain_range_of_peak(double peak) {
    if (peak >= 0.5) return 0;
    if (peak >= 0.25) return 1;
    if (peak >= 0.125) return 2;
    return 3;
}

// The blocks of a whole frame are analysed together: their transient
// detectors run side by side, so that even a mono frame fills most of an
// eight-lane kernel. Block b's 512 samples are half-blocks b and b + 1 of
// its channel's run, so every sample is converted once and every half-block
// peak found once.
constexpr std::size_t kBatchInputs = kBlocksPerFrame * kMaxFbwChannels;
constexpr std::size_t kRunSamples = kSamplesPerBlock * (kBlocksPerFrame + 1);
using ChannelRun = std::array<double, kRunSamples>;


// analyze_block for consecutive blocks (block numbers first_block,
// first_block + 1, ...) into freshly initialised records, at most a frame's.
void analyse_batch_into(std::span<BlockAnalysis> blocks, const PcmView& source, int64_t first_block,
                        const EncoderSettings& settings) {
    const auto positions = fbw_positions(source.channels, source.layout);
    const std::size_t nfbw = positions.size();
    const std::size_t count = blocks.size() * nfbw;  // inputs, block-major
    const std::size_t run = kSamplesPerBlock * (blocks.size() + 1);
    const int64_t first_frame = static_cast<int64_t>(kSamplesPerBlock) * (first_block - 1);
    std::array<ChannelRun, kMaxFbwChannels> samples;
    // (Every entry starts as the first block of the first channel; the
    // entries in use are set below.)
    std::array<TransientInput, kBatchInputs> inputs =
        repeated_input<kBatchInputs>(TransientInput(samples[0].data(), 512));
    for (std::size_t c = 0; c < nfbw; ++c) {
        gather(source, first_frame, positions[c], std::span(samples[c].data(), run));
        std::array<double, kBlocksPerFrame + 1> peaks;
        for (std::size_t h = 0; h <= blocks.size(); ++h)
            peaks[h] = half_block_peak(samples[c].data() + kSamplesPerBlock * h);
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            inputs[b * nfbw + c] = TransientInput(samples[c].data() + kSamplesPerBlock * b, 512);
            blocks[b].gainrng[c] = gain_range_of_peak(std::max(peaks[b], peaks[b + 1]));
        }
    }
    std::array<bool, kBatchInputs> switched{};
    if (settings.block_switching) {
        if (settings.hierarchical_transient_detector) {
            detect_transients(std::span(inputs.data(), count), std::span(switched.data(), count));
        } else {
            for (std::size_t i = 0; i < count; ++i) switched[i] = detect_transient_legacy(inputs[i]);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        BlockAnalysis& block = blocks[i / nfbw];
        const std::size_t c = i % nfbw;
        block.blksw[c] = switched[i] ? 1 : 0;
        block.coefficients[c] = switched[i] ? mdct_short_pair(inputs[i], settings.dense_mdct)
                                            : mdct_long(inputs[i], settings.dense_mdct);
        block.raw_exponents[c] = raw_exponents(block.coefficients[c]);
    }
    if (source.channels == 6) {
        ChannelRun lfe;
        gather(source, first_frame, kLfePosition, std::span(lfe.data(), run));
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            blocks[b].lfe_present = true;
            // The LFE never switches blocks.
            blocks[b].lfe_coefficients =
                mdct_long(MdctInput(lfe.data() + kSamplesPerBlock * b, 512), settings.dense_mdct);
            blocks[b].lfe_raw_exponents = raw_exponents(blocks[b].lfe_coefficients);
        }
    }
}

}  // namespace

uint8_t gain_range_code(std::span<const double, 512> samples) {
    return gain_range_of_peak(std::max(half_block_peak(samples.data()), half_block_peak(samples.data() + 256)));
}

BlockAnalysis analyze_block(const PcmView& source, int64_t block_number, const EncoderSettings& settings) {
    BlockAnalysis block{};
    analyse_batch_into(std::span(&block, 1), source, block_number, settings);
    return block;
}

void analyse_frame_blocks(const PcmView& source, int64_t first_block, const EncoderSettings& settings,
                          std::array<BlockAnalysis, kBlocksPerFrame>& blocks) {
    analyse_batch_into(blocks, source, first_block, settings);
}

}  // namespace oskavi
