#pragma once
// Low-frequency shaping of a 48 kHz 5.1 buffer: LFE generation from the five
// main channels, LR4 bass management (the same low band to the LFE, the mains
// high-passed at the crossover) and the 120 Hz low-pass every 5.1 LFE gets.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dsp/preprocess_settings.h"
#include "input/pcm_buffer.h"

namespace oskavi {

// Transposed direct form II section; coefficients normalised by a0.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double z1 = 0.0, z2 = 0.0;

    double process(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

Biquad lowpass_section(double frequency_hz, double alpha_divisor);
Biquad highpass_section(double frequency_hz, double alpha_divisor);

// The THX preset is bass management at a fixed crossover: settings that ask
// for it without a bass mode are refused.
void check_thx_preset(const PreprocessSettings& options);

// The bass step works on the 5.1 layout AC-3 codes (after any 7.1 fold).
void check_bass_layout(uint32_t channels, ChannelLayout layout);

// The settings checks shared by both bass modes, in this order: crossover
// within 40..120 Hz, LFE gain within -12..+6 dB, THX with a crossover
// override other than 80 Hz.
void check_bass_options(const PreprocessSettings& options);

// Level of a source LFE channel, accumulated sample by sample. The source
// counts as active when its peak reaches 1e-7 or its rms 1e-8.
struct LfeLevel {
    float peak = 0.0f;
    double energy = 0.0;

    void add(float lfe) {
        peak = std::max(peak, std::fabs(lfe));
        energy += static_cast<double>(lfe) * lfe;
    }
    bool active(uint64_t frames) const;
};

// The per-frame bass step on one 48 kHz 5.1 frame (L, R, C, LFE, Ls, Rs):
// the five mains, in the order L, R, C, Ls, Rs, each pass two cascaded
// low-pass sections at the crossover; their sum times the LFE gain is added
// to the LFE. In bass-management mode each main is replaced by two cascaded
// high-pass sections of the same input. Every section starts from zero.
class BassStage {
public:
    // bass_mode must be GenerateLfe or BassManagement; THX fixes 80 Hz.
    explicit BassStage(const PreprocessSettings& options);
    void process_frame(std::span<float, 6> frame);

private:
    std::array<std::array<Biquad, 2>, 5> lows_;
    std::array<std::array<Biquad, 2>, 5> highs_;
    float gain_;
    bool manage_;
};

// The 8th-order Butterworth low-pass at 120 Hz that every 5.1 LFE passes:
// four sections, lowest Q first, each output rounded to float.
class LfeLowpass {
public:
    LfeLowpass();
    float process(float lfe);
    // process() over samples[0], samples[stride], ... (count of them), in
    // place, with the same results.
    void process_run(float* samples, uint64_t count, std::size_t stride);
    // The kernels behind process_run, for the test that holds them to the same bits.
    void process_run_plain(float* samples, uint64_t count, std::size_t stride);
    void process_run_avx2(float* samples, uint64_t count, std::size_t stride);

private:
    // Steps between neighbouring sections in the vector kernel.
    static constexpr uint64_t kVectorSkew = 2;
    std::array<Biquad, 4> sections_;
};

// bass_mode None returns the buffer unchanged; the other modes check their
// settings first and leave the buffer untouched when a check fails.
PcmBuffer apply_bass_processing(PcmBuffer pcm, const PreprocessSettings& options);

// 8th-order Butterworth low-pass at 120 Hz on the LFE of a 6-channel 5.1
// buffer; any other buffer is left as it is.
void lowpass_lfe_120hz(PcmBuffer& pcm);

}  // namespace oskavi
