#pragma once
// Checks the front end makes around the encode routes for inputs that would
// otherwise cost the user data or time: an output path that names the input,
// an input the preprocessing refuses from its header alone, and the note about
// NaN samples that were read as silence.

#include <cstdint>
#include <optional>
#include <ostream>

#include "app/options.h"
#include "input/pcm_buffer.h"

namespace oskavi {

// Throws "Output file is the input file: " + output path when the output
// already exists and is the input file itself (through a symbolic or hard
// link too). A preflight writes nothing and is not checked.
void refuse_output_over_input(const CommandLine& cl);

// For a WAVE input on the whole-file route without --matrix-decode: when the
// header alone makes the preprocessing refuse the input, the header-only
// buffer (no samples) that takes the route to the same refusal without
// reading the data. Nothing otherwise. Any error the reader would raise is
// raised here first, with the same message.
std::optional<PcmBuffer> header_refused_by_preprocessing(const CommandLine& cl);

// "Warning: <count> non-finite input sample(s) read as silence" when the
// count is not 0.
void report_nan_samples(std::ostream& err, uint64_t count);

}  // namespace oskavi
