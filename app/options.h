#pragma once
// Settings of one run, as parsed from the command line.

#include <string>

#include "ac3/encoder_settings.h"
#include "dsp/preprocess_settings.h"

namespace oskavi {

struct CommandLine {
    std::string input_path;
    std::string output_path;
    EncoderSettings encoder;
    PreprocessSettings preprocess;
    double rear_delay_ms = 20.0;
    bool rear_delay_given = false;
    bool matrix_decode_enabled = false;
    bool no_streaming = false;
    bool quiet = false;
    bool preflight = false;
    bool spectral_analysis = false;
};

}  // namespace oskavi
