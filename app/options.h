#pragma once
// Settings of one run, as parsed from the command line.

#include <cstdint>
#include <string>

namespace oskavi {

struct EncoderOptions {
    uint32_t bitrate_kbps = 448;
    int32_t dialnorm_db = -31;
    bool coupling = true;
    bool coupling_coordinate_reuse = true;
    bool block_switching = true;
    bool exponent_adaptation = true;
    bool hierarchical_transient_detector = true;
};

enum class BassMode : int32_t {
    None = 0,
    GenerateLfe = 1,
    BassManagement = 2,
};

struct PreprocessOptions {
    double surround_mix_gain_db = -3.010299956639812;  // 10*log10(0.5)
    bool peak_guard = true;
    BassMode bass_mode = BassMode::None;
    double crossover_hz = 80.0;
    bool crossover_given = false;
    bool thx = false;
    double lfe_gain_db = 0.0;
    bool force_generate_lfe = false;
};

struct CommandLine {
    std::string input_path;
    std::string output_path;
    EncoderOptions encoder;
    PreprocessOptions preprocess;
    double rear_delay_ms = 20.0;
    bool rear_delay_given = false;
    bool matrix_decode_enabled = false;
    bool no_streaming = false;
    bool quiet = false;
    bool preflight = false;
    bool spectral_analysis = false;
};

}  // namespace oskavi
