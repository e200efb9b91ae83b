#include "app/input_guards.h"

#include <stdexcept>

#include "dsp/channel_layout.h"
#include "input/input_selection.h"
#include "input/wave_reader.h"
#include "platform/file_identity.h"

namespace oskavi {

void refuse_output_over_input(const CommandLine& cl) {
    if (!cl.preflight && same_file(cl.input_path, cl.output_path)) {
        throw std::runtime_error("Output file is the input file: " + cl.output_path);
    }
}

std::optional<PcmBuffer> header_refused_by_preprocessing(const CommandLine& cl) {
    // The matrix decode prints figures computed from the samples before the
    // preprocessing runs, so it always reads them.
    if (cl.matrix_decode_enabled || !is_wave_extension(input_extension(cl.input_path))) {
        return std::nullopt;
    }
    // The header walk makes every check of the whole read, in the same order,
    // so once it succeeds the read would too and the refusal is what follows.
    PcmBuffer header = read_wave_header(cl.input_path);
    if (!refuses_from_header(header.sample_rate, header.channels, header.layout)) {
        return std::nullopt;
    }
    return header;
}

void report_nan_samples(std::ostream& err, uint64_t count) {
    if (count != 0) {
        err << "Warning: " << count << " non-finite input sample(s) read as silence\n";
        err.flush();
    }
}

}  // namespace oskavi
