#include "dsp/bass_management.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kButterworthQ = 0.7071067811865476;  // 1 / sqrt(2)
constexpr uint32_t kLfe = 3;
constexpr std::array<uint32_t, 5> kMainChannels = {0, 1, 2, 4, 5};  // L, R, C, Ls, Rs
// 2Q of the four pole pairs of an 8th-order Butterworth, lowest Q first.
constexpr std::array<double, 4> kLfeSectionDivisors = {1.0195911582, 1.2026897738, 1.7999524462, 5.1258308954};

struct SectionTrig {
    double c;
    double alpha;
};

SectionTrig trig(double frequency_hz, double alpha_divisor) {
    const double w0 = kTwoPi * frequency_hz / 48000.0;
    return {std::cos(w0), std::sin(w0) / alpha_divisor};
}

// Two cascaded sections, each output rounded to float before the next.
float run_pair(std::array<Biquad, 2>& pair, float x) {
    const float first = static_cast<float>(pair[0].process(x));
    return static_cast<float>(pair[1].process(first));
}

void check_bass_settings(const PcmBuffer& pcm, const PreprocessSettings& options) {
    if (pcm.sample_rate != 48000) throw std::runtime_error("bass processing contract requires 48 kHz PCM");
    check_bass_layout(pcm.channels, pcm.layout);
    check_bass_options(options);
}

bool source_lfe_active(const PcmBuffer& pcm) {
    const uint64_t frames = pcm.frame_count();
    LfeLevel level;
    for (uint64_t i = 0; i < frames; ++i) level.add(pcm.samples[i * 6 + kLfe]);
    return level.active(frames);
}

void guard_lfe_peak(PcmBuffer& pcm) {
    const uint64_t frames = pcm.frame_count();
    float peak = 0.0f;
    for (uint64_t i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(pcm.samples[i * 6 + kLfe]));
    if (peak <= 1.0f) return;
    const float scale = 1.0f / peak;
    for (uint64_t i = 0; i < frames; ++i) pcm.samples[i * 6 + kLfe] *= scale;
}

}  // namespace

Biquad lowpass_section(double frequency_hz, double alpha_divisor) {
    const auto [c, alpha] = trig(frequency_hz, alpha_divisor);
    const double a0 = 1.0 + alpha;
    return {(1.0 - c) / 2.0 / a0, (1.0 - c) / a0, (1.0 - c) / 2.0 / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

Biquad highpass_section(double frequency_hz, double alpha_divisor) {
    const auto [c, alpha] = trig(frequency_hz, alpha_divisor);
    const double a0 = 1.0 + alpha;
    return {(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
}

void check_thx_preset(const PreprocessSettings& options) {
    if (options.bass_mode == BassMode::None && options.thx)
        throw std::runtime_error("internal THX preset requires bass-management mode");
}

void check_bass_layout(uint32_t channels, ChannelLayout layout) {
    if (channels != 6 || layout != ChannelLayout::Surround51)
        throw std::runtime_error("bass processing currently requires canonical 5.1 output layout");
}

void check_bass_options(const PreprocessSettings& options) {
    if (!(options.crossover_hz >= 40.0 && options.crossover_hz <= 120.0))
        throw std::runtime_error("crossover must be within 40..120 Hz");
    if (!(options.lfe_gain_db >= -12.0 && options.lfe_gain_db <= 6.0))
        throw std::runtime_error("lfe gain must be within -12..+6 dB");
    if (options.thx && options.crossover_given && std::fabs(options.crossover_hz - 80.0) > 1e-9)
        throw std::runtime_error("THX mode fixes crossover at 80 Hz; remove the crossover override");
}

bool LfeLevel::active(uint64_t frames) const {
    const double rms = frames == 0 ? 0.0 : std::sqrt(energy / static_cast<double>(frames));
    return peak >= 1e-7f || rms >= 1e-8;
}

BassStage::BassStage(const PreprocessSettings& options)
    : gain_(static_cast<float>(std::pow(10.0, options.lfe_gain_db / 20.0))),
      manage_(options.bass_mode == BassMode::BassManagement) {
    const double crossover = options.thx ? 80.0 : options.crossover_hz;
    const double divisor = 2.0 * kButterworthQ;
    for (size_t m = 0; m < kMainChannels.size(); ++m) {
        lows_[m] = {lowpass_section(crossover, divisor), lowpass_section(crossover, divisor)};
        highs_[m] = {highpass_section(crossover, divisor), highpass_section(crossover, divisor)};
    }
}

void BassStage::process_frame(std::span<float, 6> frame) {
    float sum = 0.0f;
    for (size_t m = 0; m < kMainChannels.size(); ++m) {
        const float x = frame[kMainChannels[m]];
        sum += run_pair(lows_[m], x);
        if (manage_) frame[kMainChannels[m]] = run_pair(highs_[m], x);
    }
    frame[kLfe] = sum * gain_ + frame[kLfe];
}

LfeLowpass::LfeLowpass() {
    for (size_t s = 0; s < sections_.size(); ++s) sections_[s] = lowpass_section(120.0, kLfeSectionDivisors[s]);
}

float LfeLowpass::process(float lfe) {
    float v = lfe;
    for (Biquad& section : sections_) v = static_cast<float>(section.process(v));
    return v;
}

void LfeLowpass::process_run(float* samples, uint64_t count, std::size_t stride) {
    if (processor_has_avx2()) {
        process_run_avx2(samples, count, stride);
    } else {
        process_run_plain(samples, count, stride);
    }
}

void LfeLowpass::process_run_plain(float* samples, uint64_t count, std::size_t stride) {
    static_assert(std::tuple_size_v<decltype(sections_)> == 4);
    if (count < 4) {
        for (uint64_t i = 0; i < count; ++i) samples[i * stride] = process(samples[i * stride]);
        return;
    }
    // Section k works on the sample k places behind section 0, so the four
    // recursions of one step do not wait on one another. Each section still
    // sees its samples in order, as process() gives them.
    auto& [s0, s1, s2, s3] = sections_;
    const auto run = [](Biquad& section, float x) { return static_cast<float>(section.process(x)); };
    // The outputs of sections 0, 1 and 2 waiting for the next section.
    float d1 = run(s0, samples[0]);
    float d2 = run(s1, d1);
    d1 = run(s0, samples[stride]);
    float d3 = run(s2, d2);
    d2 = run(s1, d1);
    d1 = run(s0, samples[2 * stride]);
    for (uint64_t n = 3; n < count; ++n) {
        const float out = run(s3, d3);
        d3 = run(s2, d2);
        d2 = run(s1, d1);
        d1 = run(s0, samples[n * stride]);
        samples[(n - 3) * stride] = out;
    }
    samples[(count - 3) * stride] = run(s3, d3);
    d3 = run(s2, d2);
    d2 = run(s1, d1);
    samples[(count - 2) * stride] = run(s3, d3);
    d3 = run(s2, d2);
    samples[(count - 1) * stride] = run(s3, d3);
}

#if OSKAVI_AVX2_KERNELS
namespace {

// The four sections of an LFE low-pass in the four lanes of a vector.
struct SectionLanes {
    __m256d b0, b1, b2, a1, a2;
    __m256d z1, z2;
    __m256d older, newer;  // the float-rounded outputs of the last two steps
};

OSKAVI_AVX2_INLINE __m256d lanes_of(const std::array<Biquad, 4>& sections, double Biquad::*field) {
    return _mm256_setr_pd(sections[0].*field, sections[1].*field, sections[2].*field, sections[3].*field);
}

// One step: lane 0 takes `input`, lane k the rounded output of lane k - 1
// two steps ago; the lanes set in `active` keep their new state. Returns the
// outputs.
OSKAVI_AVX2_INLINE __m256d section_step(SectionLanes& s, double input, __m256d active) {
    const __m256d shifted = _mm256_permute4x64_pd(s.older, 0x90);  // lanes 0, 0, 1, 2
    const __m256d x = _mm256_blend_pd(shifted, _mm256_set1_pd(input), 0x1);
    const __m256d y = _mm256_add_pd(_mm256_mul_pd(s.b0, x), s.z1);
    const __m256d z1 = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(s.b1, x), _mm256_mul_pd(s.a1, y)), s.z2);
    const __m256d z2 = _mm256_sub_pd(_mm256_mul_pd(s.b2, x), _mm256_mul_pd(s.a2, y));
    s.z1 = _mm256_blendv_pd(s.z1, z1, active);
    s.z2 = _mm256_blendv_pd(s.z2, z2, active);
    s.older = s.newer;
    s.newer = _mm256_cvtps_pd(_mm256_cvtpd_ps(y));
    return y;
}

// Lane k is active at step n when its section has a sample there:
// 0 <= n - skew * k < count.
OSKAVI_AVX2_INLINE __m256d active_lanes(uint64_t n, uint64_t count, uint64_t skew) {
    double has[4];
    for (uint64_t k = 0; k < 4; ++k) has[k] = n >= skew * k && n - skew * k < count ? -1.0 : 0.0;
    return _mm256_setr_pd(has[0], has[1], has[2], has[3]);
}

// Steps ahead of the one running whose sample is fetched.
constexpr uint64_t kPrefetchSteps = 64;

OSKAVI_AVX2_INLINE double last_lane(__m256d v) { return _mm256_cvtsd_f64(_mm256_permute4x64_pd(v, 0x3)); }

}  // namespace

// The four sections side by side, section k on the sample kVectorSkew * k
// places behind section 0: a section's input is what the section before it
// gave kVectorSkew steps earlier, so the conversions and the lane shift
// between sections stay off each step's critical path, and a step waits
// only on the sections' own recursions. Each lane computes exactly
// Biquad::process, float-rounded as process() rounds it; a lane whose
// section has no sample at a step (at the start and at the end) keeps its
// state.
OSKAVI_AVX2 void LfeLowpass::process_run_avx2(float* samples, uint64_t count, std::size_t stride) {
    static_assert(kVectorSkew == 2);  // section_step keeps two steps of outputs
    // Lane 3 finishes sample n - warm at step n; shorter runs go one section after another.
    const uint64_t warm = 3 * kVectorSkew;
    if (count < warm) {
        process_run_plain(samples, count, stride);
        return;
    }
    SectionLanes s{lanes_of(sections_, &Biquad::b0), lanes_of(sections_, &Biquad::b1),
                   lanes_of(sections_, &Biquad::b2), lanes_of(sections_, &Biquad::a1),
                   lanes_of(sections_, &Biquad::a2), lanes_of(sections_, &Biquad::z1),
                   lanes_of(sections_, &Biquad::z2), _mm256_setzero_pd(), _mm256_setzero_pd()};
    for (uint64_t n = 0; n < warm; ++n) section_step(s, samples[n * stride], active_lanes(n, count, kVectorSkew));
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    for (uint64_t n = warm; n < count; ++n) {
        // A step takes long enough for the memory ahead to be asked for early.
        __builtin_prefetch(samples + std::min(n + kPrefetchSteps, count - 1) * stride);
        samples[(n - warm) * stride] = static_cast<float>(last_lane(section_step(s, samples[n * stride], all)));
    }
    for (uint64_t n = count; n < count + warm; ++n) {
        const __m256d y = section_step(s, 0.0, active_lanes(n, count, kVectorSkew));
        samples[(n - warm) * stride] = static_cast<float>(last_lane(y));
    }
    alignas(32) double z1[4];
    alignas(32) double z2[4];
    _mm256_store_pd(z1, s.z1);
    _mm256_store_pd(z2, s.z2);
    for (std::size_t k = 0; k < 4; ++k) {
        sections_[k].z1 = z1[k];
        sections_[k].z2 = z2[k];
    }
}
#else
void LfeLowpass::process_run_avx2(float* samples, uint64_t count, std::size_t stride) {
    process_run_plain(samples, count, stride);
}
#endif

PcmBuffer apply_bass_processing(PcmBuffer pcm, const PreprocessSettings& options) {
    check_thx_preset(options);
    if (options.bass_mode == BassMode::None) return pcm;
    check_bass_settings(pcm, options);
    if (options.bass_mode == BassMode::GenerateLfe && !options.force_generate_lfe && source_lfe_active(pcm))
        throw std::runtime_error(
            "source LFE is active; --generate-lfe is blocked unless --force-generate-lfe is supplied");

    BassStage stage(options);
    const uint64_t frames = pcm.frame_count();
    for (uint64_t i = 0; i < frames; ++i) stage.process_frame(std::span<float, 6>(&pcm.samples[i * 6], 6));
    if (options.peak_guard) guard_lfe_peak(pcm);
    return pcm;
}

void lowpass_lfe_120hz(PcmBuffer& pcm) {
    if (pcm.channels != 6 || pcm.layout != ChannelLayout::Surround51) return;
    LfeLowpass lowpass;
    lowpass.process_run(pcm.samples.data() + kLfe, pcm.frame_count(), 6);
}

}  // namespace oskavi
