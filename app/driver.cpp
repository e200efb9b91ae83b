#include "app/driver.h"

#include <cstdint>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/command_line.h"
#include "app/input_guards.h"
#include "app/interruption.h"
#include "ac3/frame_encoder.h"
#include "app/progress_meter.h"
#include "app/report.h"
#include "app/spectral_report.h"
#include "dsp/channel_layout.h"
#include "dsp/matrix_decode.h"
#include "stream/streaming_matrix.h"
#include "stream/streaming_preprocess.h"
#include "bitstream/verify.h"
#include "input/input_selection.h"
#include "input/pcm_buffer.h"
#include "platform/environment.h"
#include "platform/process_signals.h"

namespace oskavi {
namespace {

// Calls into the streaming subsystem. Every streaming route reaches the
// encoder through exactly one of these functions.

StreamProgress labelled_progress(ProgressMeter& meter) {
    return [&meter](const std::string& label, uint64_t done, uint64_t total) {
        throw_if_interrupted();
        meter.update(label, done, total);
    };
}

StreamingSummary encode_streaming_matrix(const CommandLine& cl, MatrixDecodeStats& steering, ProgressMeter& meter) {
    return encode_wav_streaming_matrix(cl.input_path, cl.output_path, cl.encoder, cl.preprocess, cl.rear_delay_ms,
                                       &steering, labelled_progress(meter));
}

StreamingSummary encode_streaming_preprocess(const CommandLine& cl, ProgressMeter& meter) {
    return encode_wav_streaming_preprocess(cl.input_path, cl.output_path, cl.encoder, cl.preprocess,
                                           labelled_progress(meter));
}

// Whole-file route after the header lines: matrix decode, preprocessing to
// 48 kHz, then the spectral report, a preflight stop or the encode. These
// lines are written whatever --quiet says; a quiet run's failed standard
// output swallows them.
void process_whole_input(PcmBuffer input, const CommandLine& cl, ProgressMeter& meter) {
    std::ostream& out = std::cout;
    if (cl.matrix_decode_enabled) {
        MatrixDecodeStats stats;
        input = matrix_decode(input, cl.rear_delay_ms, &stats);
        out << "Matrix:     stereo -> L/C/R/S discrete bed; LFE silent" << std::fixed;
        out.precision(2);
        out << ", max C steer " << stats.max_centre_steer << ", max S steer " << stats.max_surround_steer;
        out.precision(1);
        out << ", rear delay " << stats.rear_delay_ms << " ms\n";
    }
    if (input.layout == ChannelLayout::Surround71) {
        out << "Downmix:    7.1 -> 5.1, rear fold " << std::fixed;
        out.precision(4);
        out << cl.preprocess.surround_mix_gain_db << " dB\n";
    }
    const PcmBuffer pcm = preprocess_to_48k(std::move(input), cl.preprocess);
    out << "Processing: " << pcm.sample_rate << " Hz, " << pcm.channels << " ch (" << layout_display_name(pcm.layout)
        << ")\n";
    print_ac3_line(out, cl.encoder);
    if (cl.spectral_analysis) {
        print_spectral_report(out, analyze_spectrum(pcm, cl.encoder.dense_mdct));
        if (cl.preflight) {
            out << "Spectral preflight complete; no AC-3 written.\n";
            return;
        }
    }
    if (cl.preflight) {
        out << "Preflight complete; no AC-3 written.\n";
        return;
    }
    encode_pcm_file(pcm, cl.output_path, cl.encoder,
                    [&meter](uint64_t done, uint64_t total) {
                        throw_if_interrupted();
                        meter.update(std::nullopt, done, total);
                    });
}

// ---------------------------------------------------------------------------

void run_streaming_matrix_route(const CommandLine& cl, const StreamEligibility& input, ProgressMeter& meter,
                                uint64_t& nan_samples) {
    std::ostream& out = std::cout;
    if (!cl.quiet) {
        print_input_line(out, input.sample_rate, 2, ChannelLayout::Stereo, cl.input_path);
        out << "Mode:       Matrix surround decode -> 5.1 AC-3\n";
        print_bass_line(out, cl.preprocess);
        print_ac3_line(out, cl.encoder);
    }
    MatrixDecodeStats steering;
    const StreamingSummary totals = encode_streaming_matrix(cl, steering, meter);
    nan_samples = totals.nan_samples;
    if (!cl.quiet) {
        out << "Matrix:     streaming stereo -> L/C/R/S discrete bed; LFE "
            << (cl.preprocess.bass_mode != BassMode::None ? "bass-managed" : "silent") << std::fixed;
        out.precision(2);
        out << ", max C steer " << steering.max_centre_steer << ", max S steer " << steering.max_surround_steer << "\n"
            << std::defaultfloat;
        out << "Processing: stateful streaming matrix preprocess -> 48000 Hz\n";
        print_ac3_line(out, cl.encoder);
        print_streaming_summary(out, totals.ac3_frames, totals.delivered_frames, totals.peak_workspace_bytes,
                                cl.encoder);
    }
}

void run_streaming_preprocess_route(const CommandLine& cl, const StreamEligibility& input, ProgressMeter& meter,
                                    uint64_t& nan_samples) {
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
    const StreamingSummary totals = encode_streaming_preprocess(cl, meter);
    nan_samples = totals.nan_samples;
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
void check_matrix_decode_input(const PcmBuffer& input, const PreprocessSettings& preprocess) {
    if (input.channels != 2 || input.layout != ChannelLayout::Stereo) {
        throw std::runtime_error("--matrix-decode requires 2-channel stereo input");
    }
    if (preprocess.bass_mode == BassMode::GenerateLfe) {
        throw std::runtime_error(
            "--matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1");
    }
}

void run_whole_file_route(const CommandLine& cl, ProgressMeter& meter, uint64_t& nan_samples) {
    // An input refused from its header alone is not read whole: its header
    // takes the same way to the same refusal.
    std::optional<PcmBuffer> refused = header_refused_by_preprocessing(cl);
    PcmBuffer input = refused ? std::move(*refused) : read_input(cl.input_path, nan_samples);
    throw_if_interrupted();
    print_whole_file_header(std::cout, input, cl);
    if (cl.matrix_decode_enabled) {
        check_matrix_decode_input(input, cl.preprocess);
    }
    process_whole_input(std::move(input), cl, meter);
}

int run_encode(const CommandLine& cl) {
    refuse_output_over_input(cl);
    install_interrupt_handlers();
    if (cl.quiet) {
        // Every later report write of this run, progress included, is dropped.
        std::cout.setstate(std::ios::badbit);
    } else {
        print_banner(std::cout);
    }
    ProgressMeter meter(std::cout, cl.quiet);
    StreamEligibility streamable;
    const auto probe = [&](StreamEligibility (*test)(const std::string&)) {
        streamable = test(cl.input_path);
        return streamable.eligible;
    };
    const EncodeRoute route = select_route(
        cl, [&] { return probe(can_stream_matrix); }, [&] { return probe(can_stream_preprocess); });
    uint64_t nan_samples = 0;
    switch (route) {
        case EncodeRoute::StreamingMatrix: run_streaming_matrix_route(cl, streamable, meter, nan_samples); break;
        case EncodeRoute::StreamingPreprocess:
            run_streaming_preprocess_route(cl, streamable, meter, nan_samples);
            break;
        case EncodeRoute::WholeFile: run_whole_file_route(cl, meter, nan_samples); break;
    }
    meter.close_line();
    std::cout.flush();
    report_nan_samples(std::cerr, nan_samples);
    return 0;
}

// The settings that come from the environment rather than the command line,
// read once for the whole run.
CommandLine with_environment(CommandLine cl) {
    cl.encoder.dense_mdct = env_flag_enabled("OSKAVI_DENSE_MDCT");
    cl.encoder.full_pack_probes = env_flag_enabled("OSKAVI_FULL_PACK_PROBES");
    return cl;
}

int run_parsed(const ParsedArguments& parsed) {
    switch (parsed.mode) {
        case RunMode::Usage: print_usage(std::cout); return 1;
        case RunMode::Features: print_features(std::cout); return 0;
        case RunMode::Verify: return verify_ac3_file(parsed.verify_path, std::cout);
        case RunMode::Encode: return run_encode(with_environment(parsed.command_line));
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
