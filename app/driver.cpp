#include "app/driver.h"

#include <cstdint>
#include <iostream>
#include <optional>
#include <exception>
#include <string>
#include <utility>

#include "app/command_line.h"
#include "app/input_guards.h"
#include "app/interruption.h"
#include "app/progress_meter.h"
#include "app/report.h"
#include "app/resample_while_decoding.h"
#include "app/spectral_report.h"
#include "app/thread_count.h"
#include "ac3/frame_encoder.h"
#include "bitstream/verify.h"
#include "dsp/channel_layout.h"
#include "dsp/matrix_decode.h"
#include "input/input_selection.h"
#include "input/pcm_buffer.h"
#include "platform/environment.h"
#include "platform/process_signals.h"
#include "platform/hardware_threads.h"
#include "stream/streaming_matrix.h"
#include "stream/streaming_preprocess.h"

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
void process_whole_input(PcmBuffer input, std::optional<PcmBuffer> resampled, const CommandLine& cl,
                         ProgressMeter& meter) {
    std::ostream& out = std::cout;
    if (cl.matrix_decode_enabled) {
        MatrixDecodeStats stats;
        input = matrix_decode(input, cl.rear_delay_ms, &stats);
        print_matrix_decode_line(out, stats);
    }
    if (input.layout == ChannelLayout::Surround71) {
        print_rear_fold_line(out, cl.preprocess);
    }
    const PcmBuffer pcm = preprocess_to_48k(resampled ? std::move(*resampled) : std::move(input), cl.preprocess);
    print_processing_lines(out, pcm, cl.encoder);
    if (cl.spectral_analysis) {
        print_spectral_report(out, analyse_spectrum(pcm, cl.encoder.dense_mdct));
    }
    if (cl.preflight) {
        print_preflight_end(out, cl.spectral_analysis);
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
    if (!cl.quiet) print_streaming_matrix_header(std::cout, input.sample_rate, cl);
    MatrixDecodeStats steering;
    const StreamingSummary totals = encode_streaming_matrix(cl, steering, meter);
    nan_samples = totals.nan_samples;
    if (!cl.quiet) print_streaming_matrix_result(std::cout, steering, totals, cl);
}

void run_streaming_preprocess_route(const CommandLine& cl, const StreamEligibility& input, ProgressMeter& meter,
                                    uint64_t& nan_samples) {
    if (!cl.quiet) print_streaming_preprocess_header(std::cout, input, cl);
    const StreamingSummary totals = encode_streaming_preprocess(cl, meter);
    nan_samples = totals.nan_samples;
    if (!cl.quiet) print_streaming_preprocess_result(std::cout, input.layout, totals, cl);
}

// The whole-file route writes its lines whatever --quiet says: in quiet mode
// the failed standard output swallows them.
void run_whole_file_route(const CommandLine& cl, ProgressMeter& meter, uint64_t& nan_samples) {
    // An input refused from its header alone is not read whole: its header
    // takes the same way to the same refusal.
    std::optional<PcmBuffer> refused = header_refused_by_preprocessing(cl);
    // A FLAC input may be converted to 48 kHz while it is decoded.
    ResampleWhileDecoding early(cl);
    PcmBuffer input = refused ? std::move(*refused) : read_input(cl.input_path, nan_samples, &early.sink());
    std::optional<PcmBuffer> resampled = early.take();
    throw_if_interrupted();
    print_whole_file_header(std::cout, input, cl);
    // Checked after the header lines and before any processing.
    if (cl.matrix_decode_enabled) {
        check_matrix_source(input.channels, input.layout);
        check_matrix_bass_mode(cl.preprocess);
    }
    process_whole_input(std::move(input), std::move(resampled), cl, meter);
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
// read once for the whole run, before anything is printed or created.
CommandLine with_environment(CommandLine cl) {
    cl.encoder.dense_mdct = env_flag_enabled("OSKAVI_DENSE_MDCT");
    cl.encoder.full_pack_probes = env_flag_enabled("OSKAVI_FULL_PACK_PROBES");
    cl.encoder.threads = encoding_threads(env_value("OSKAVI_THREADS"), hardware_threads());
    cl.preprocess.threads = cl.encoder.threads;
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
