#include "app/driver.h"

#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/command_line.h"
#include "app/report.h"
#include "bitstream/verify.h"
#include "input/input_selection.h"
#include "input/pcm_buffer.h"

namespace oskavi {
namespace {

// The figures of a finished streaming route that the closing report prints.
struct StreamingTotals {
    uint64_t ac3_frames = 0;
    uint64_t delivered_frames = 0;  // 48 kHz frames per channel handed to the encoder
    uint32_t peak_workspace_bytes = 0;
};

// Largest steering values of a matrix decode and the rear delay it used.
struct MatrixSteering {
    double max_centre = 0.0;
    double max_surround = 0.0;
    double rear_delay_ms = 20.0;
};

// ---------------------------------------------------------------------------
// Calls into the streaming and encoder subsystems. Every route reaches the
// encoder through exactly one of these functions.

[[noreturn]] void encoder_unavailable() {
    throw std::runtime_error("AC-3 encoding is not available in this build yet");
}

StreamingTotals encode_streaming_matrix(const CommandLine& /*cl*/, MatrixSteering& /*steering*/) {
    encoder_unavailable();
}

StreamingTotals encode_streaming_preprocess(const CommandLine& /*cl*/) { encoder_unavailable(); }

// Matrix decode, preprocessing to 48 kHz, then spectral report, preflight
// stop or the encode of the whole buffer.
void process_whole_input(PcmBuffer /*input*/, const CommandLine& /*cl*/) { encoder_unavailable(); }

// ---------------------------------------------------------------------------

void run_streaming_matrix_route(const CommandLine& cl, const StreamEligibility& input) {
    std::ostream& out = std::cout;
    if (!cl.quiet) {
        print_input_line(out, input.sample_rate, 2, ChannelLayout::Stereo, cl.input_path);
        out << "Mode:       Matrix surround decode -> 5.1 AC-3\n";
        print_bass_line(out, cl.preprocess);
        print_ac3_line(out, cl.encoder);
    }
    MatrixSteering steering;
    const StreamingTotals totals = encode_streaming_matrix(cl, steering);
    if (!cl.quiet) {
        out << "Matrix:     streaming stereo -> L/C/R/S discrete bed; LFE "
            << (cl.preprocess.bass_mode != BassMode::None ? "bass-managed" : "silent") << std::fixed;
        out.precision(2);
        out << ", max C steer " << steering.max_centre << ", max S steer " << steering.max_surround << "\n"
            << std::defaultfloat;
        out << "Processing: stateful streaming matrix preprocess -> 48000 Hz\n";
        print_ac3_line(out, cl.encoder);
        print_streaming_summary(out, totals.ac3_frames, totals.delivered_frames, totals.peak_workspace_bytes,
                                cl.encoder);
    }
}

void run_streaming_preprocess_route(const CommandLine& cl, const StreamEligibility& input) {
    std::ostream& out = std::cout;
    const bool folds_71 = input.layout == ChannelLayout::Surround71;
    if (!cl.quiet) {
        print_input_line(out, input.sample_rate, input.channels, input.layout, cl.input_path);
        if (folds_71) {
            out << "Mode:       7.1 rear fold -> 5.1 AC-3\n";
        } else {
            const std::string label = layout_format_label(input.layout);
            out << "Mode:       " << label << " PCM -> " << label << " AC-3\n";
        }
        print_bass_line(out, cl.preprocess);
        print_ac3_line(out, cl.encoder);
    }
    const StreamingTotals totals = encode_streaming_preprocess(cl);
    if (!cl.quiet) {
        if (folds_71) {
            out << "Downmix:    streaming 7.1 -> 5.1, rear fold " << std::fixed;
            out.precision(4);
            out << cl.preprocess.surround_mix_gain_db << " dB\n" << std::defaultfloat;
        }
        out << "Processing: stateful streaming preprocess -> 48000 Hz\n";
        print_ac3_line(out, cl.encoder);
        print_streaming_summary(out, totals.ac3_frames, totals.delivered_frames, totals.peak_workspace_bytes,
                                cl.encoder);
    }
}

// The whole-file route writes its lines whatever --quiet says: in quiet mode
// the failed standard output swallows them.
void print_whole_file_header(std::ostream& out, const PcmBuffer& input, const CommandLine& cl) {
    print_input_line(out, input.sample_rate, input.channels, input.layout, cl.input_path);
    if (cl.matrix_decode_enabled) {
        out << "Mode:       Matrix surround decode -> 5.1 AC-3\n";
    } else {
        const std::string coded =
            input.layout == ChannelLayout::Surround71 ? std::string("5.1") : layout_format_label(input.layout);
        out << "Mode:       " << layout_format_label(input.layout) << " PCM -> " << coded << " AC-3\n";
    }
    print_bass_line(out, cl.preprocess);
    print_ac3_line(out, cl.encoder);
}

// Checked after the header lines and before any processing.
void check_matrix_decode_input(const PcmBuffer& input, const PreprocessOptions& preprocess) {
    if (input.channels != 2 || input.layout != ChannelLayout::Stereo) {
        throw std::runtime_error("--matrix-decode requires 2-channel stereo input");
    }
    if (preprocess.bass_mode == BassMode::GenerateLfe) {
        throw std::runtime_error(
            "--matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1");
    }
}

void run_whole_file_route(const CommandLine& cl) {
    PcmBuffer input = read_input(cl.input_path);
    print_whole_file_header(std::cout, input, cl);
    if (cl.matrix_decode_enabled) {
        check_matrix_decode_input(input, cl.preprocess);
    }
    process_whole_input(std::move(input), cl);
}

int run_encode(const CommandLine& cl) {
    if (cl.quiet) {
        // Every later report write of this run, progress included, is dropped.
        std::cout.setstate(std::ios::badbit);
    } else {
        print_banner(std::cout);
    }
    StreamEligibility streamable;
    const auto probe = [&](StreamEligibility (*test)(const std::string&)) {
        streamable = test(cl.input_path);
        return streamable.eligible;
    };
    const EncodeRoute route = select_route(
        cl, [&] { return probe(can_stream_matrix); }, [&] { return probe(can_stream_preprocess); });
    switch (route) {
        case EncodeRoute::StreamingMatrix: run_streaming_matrix_route(cl, streamable); break;
        case EncodeRoute::StreamingPreprocess: run_streaming_preprocess_route(cl, streamable); break;
        case EncodeRoute::WholeFile: run_whole_file_route(cl); break;
    }
    std::cout.flush();
    return 0;
}

int run_parsed(const ParsedArguments& parsed) {
    switch (parsed.mode) {
        case RunMode::Usage: print_usage(std::cout); return 1;
        case RunMode::Features: print_features(std::cout); return 0;
        case RunMode::Verify: return verify_ac3_file(parsed.verify_path, std::cout);
        case RunMode::Encode: return run_encode(parsed.command_line);
    }
    return 2;
}

}  // namespace

EncodeRoute select_route(const CommandLine& cl, const std::function<bool()>& matrix_streamable,
                         const std::function<bool()>& preprocess_streamable) {
    if (cl.no_streaming) {
        return EncodeRoute::WholeFile;
    }
    // The preflight and spectral reports are produced by the whole-file route only.
    if (cl.preflight || cl.spectral_analysis) {
        return EncodeRoute::WholeFile;
    }
    if (cl.matrix_decode_enabled) {
        return matrix_streamable() ? EncodeRoute::StreamingMatrix : EncodeRoute::WholeFile;
    }
    return preprocess_streamable() ? EncodeRoute::StreamingPreprocess : EncodeRoute::WholeFile;
}

int run(int argc, char** argv) {
    if (argc < 2) {
        print_usage(std::cout);
        return 1;
    }
    try {
        return run_parsed(parse_command_line(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "Error: " << e.what() << std::endl;
        return 2;
    }
}

}  // namespace oskavi
