#include "app/spectral_report.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "ac3/exponents.h"
#include "ac3/frame_encoder.h"
#include "ac3/mdct.h"

namespace oskavi {

SpectralSummary analyse_spectrum(const PcmBuffer& pcm, bool dense_mdct) {
    SpectralSummary summary;
    const uint64_t frames = pcm.frame_count();
    const uint64_t blocks = std::min<uint64_t>(6, (frames + kSamplesPerBlock - 1) / kSamplesPerBlock);
    for (uint64_t b = 0; b < blocks; ++b) {
        for (uint32_t c = 0; c < pcm.channels; ++c) {
            // The block's transform sees the 256 frames before it and its own 256.
            std::array<double, 512> x{};
            const int64_t first = (static_cast<int64_t>(b) - 1) * kSamplesPerBlock;
            for (int64_t i = 0; i < 512; ++i) {
                const int64_t frame = first + i;
                if (frame >= 0 && static_cast<uint64_t>(frame) < frames)
                    x[i] = pcm.samples[static_cast<size_t>(frame) * pcm.channels + c];
            }
            summary.max_gainrng = std::max<int>(summary.max_gainrng, gain_range_code(x));
            const auto coefficients = mdct_long(x, dense_mdct);
            for (double v : coefficients) summary.peak_coefficient = std::max(summary.peak_coefficient, std::fabs(v));
            const RawExponents raw = raw_exponents(coefficients);
            for (uint8_t e : raw) {
                summary.min_raw_exponent = std::min<int>(summary.min_raw_exponent, e);
                summary.max_raw_exponent = std::max<int>(summary.max_raw_exponent, e);
            }
            // Proves the exponents code as a D15 set; the set itself is not needed.
            prepare_exponent_set(raw, kExpD15, std::min<uint32_t>(static_cast<uint32_t>(raw.size()), kMaxCodedBins));
            ++summary.channel_blocks;
        }
    }
    return summary;
}

void print_spectral_report(std::ostream& out, const SpectralSummary& summary) {
    out << "Spectral:   " << summary.channel_blocks << " channel-block(s), long MDCT\n";
    out << "             peak coefficient " << std::scientific;
    out.precision(6);
    out << summary.peak_coefficient << std::defaultfloat << "\n";
    out << "             raw exponent range " << summary.min_raw_exponent << ".." << summary.max_raw_exponent
        << ", max gainrng " << summary.max_gainrng << "\n";
    out << "             D15 preprocessing: validated for analyzed blocks\n";
}

}  // namespace oskavi
