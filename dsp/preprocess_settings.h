#pragma once
// What the preprocessing chain is told for a run: the 7.1 rear fold, the peak
// guard and the bass step. Filled once by the front end.

#include <cstdint>

namespace oskavi {

enum class BassMode : int32_t {
    None = 0,
    GenerateLfe = 1,
    BassManagement = 2,
};

struct PreprocessSettings {
    double surround_mix_gain_db = -3.010299956639812;  // 10*log10(0.5)
    bool peak_guard = true;
    BassMode bass_mode = BassMode::None;
    double crossover_hz = 80.0;
    bool crossover_given = false;
    bool thx = false;
    double lfe_gain_db = 0.0;
    bool force_generate_lfe = false;
    // Threads the whole-buffer rate stage filters channels on; any number
    // gives the same samples. (The streaming routes keep their rate stage on
    // the reading thread: there the encoding threads already fill the cores.)
    uint32_t threads = 1;
};

}  // namespace oskavi
