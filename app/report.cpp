#include "app/report.h"

#include <cctype>
#include <ios>

#include "dsp/channel_layout.h"

namespace oskavi {

std::string layout_format_label(ChannelLayout layout) {
    switch (layout) {
        case ChannelLayout::Mono: return "1.0";
        case ChannelLayout::Stereo: return "2.0";
        case ChannelLayout::Surround51: return "5.1";
        case ChannelLayout::Surround71: return "7.1";
        default: return "unknown";
    }
}

std::string container_tag(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
        return "WAVE";
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (extension == "flac") {
        return "FLAC";
    }
    if (extension == "rf64") {
        return "RF64";
    }
    return "WAVE";
}

void print_input_line(std::ostream& out, uint32_t sample_rate, uint32_t channels, ChannelLayout layout,
                      const std::string& path) {
    out << "Input:      " << sample_rate << " Hz, " << channels << " ch (" << layout_format_label(layout) << ", "
        << container_tag(path) << ")\n";
}

void print_bass_line(std::ostream& out, const PreprocessSettings& preprocess) {
    if (preprocess.bass_mode == BassMode::None) {
        return;
    }
    // The THX preset always crosses over at 80 Hz, whatever --crossover said.
    const double crossover = preprocess.thx ? 80.0 : preprocess.crossover_hz;
    out << "Bass:       "
        << (preprocess.bass_mode == BassMode::BassManagement ? "LR4 bass management" : "generated LFE")
        << ", crossover " << std::fixed;
    out.precision(0);
    out << crossover << " Hz" << (preprocess.thx ? " (THX fixed)" : "") << ", LFE gain " << preprocess.lfe_gain_db
        << " dB\n"
        << std::defaultfloat;
}

void print_ac3_line(std::ostream& out, const EncoderSettings& encoder) {
    out << "AC-3:       " << encoder.bitrate_kbps << " kbps CBR, dialnorm " << encoder.dialnorm_db << " dB\n";
}

void print_streaming_summary(std::ostream& out, uint64_t ac3_frames, uint64_t delivered_frames,
                             uint32_t peak_workspace_bytes, const EncoderSettings& encoder) {
    const uint64_t workspace_kib = (uint64_t{peak_workspace_bytes} + 1023) / 1024;
    const uint64_t coded_frames = ac3_frames * 1536;
    const uint64_t padding = coded_frames > delivered_frames ? coded_frames - delivered_frames : 0;
    out << "Streaming:  " << ac3_frames << " AC-3 frame(s), peak PCM workspace ~" << workspace_kib << " KiB\n";
    out << "Realized:   " << std::fixed;
    out.precision(2);
    out << static_cast<double>(encoder.bitrate_kbps) << " kbps average\n" << std::defaultfloat;
    out << "Padding:    " << padding << " final sample(s)/channel\n";
}

void print_whole_file_header(std::ostream& out, const PcmBuffer& input, const CommandLine& cl) {
    print_input_line(out, input.sample_rate, input.channels, input.layout, cl.input_path);
    if (cl.matrix_decode_enabled) {
        out << "Mode:       Matrix surround decode -> 5.1 AC-3\n";
    } else {
        out << "Mode:       " << layout_format_label(input.layout) << " PCM -> "
            << layout_format_label(folded_layout(input.layout)) << " AC-3\n";
    }
    print_bass_line(out, cl.preprocess);
    print_ac3_line(out, cl.encoder);
}

void print_streaming_matrix_header(std::ostream& out, uint32_t sample_rate, const CommandLine& cl) {
    print_input_line(out, sample_rate, 2, ChannelLayout::Stereo, cl.input_path);
    out << "Mode:       Matrix surround decode -> 5.1 AC-3\n";
    print_bass_line(out, cl.preprocess);
    print_ac3_line(out, cl.encoder);
}

void print_streaming_preprocess_header(std::ostream& out, const StreamEligibility& input, const CommandLine& cl) {
    print_input_line(out, input.sample_rate, input.channels, input.layout, cl.input_path);
    if (input.layout == ChannelLayout::Surround71) {
        out << "Mode:       7.1 rear fold -> 5.1 AC-3\n";
    } else {
        const std::string label = layout_format_label(input.layout);
        out << "Mode:       " << label << " PCM -> " << label << " AC-3\n";
    }
    print_bass_line(out, cl.preprocess);
    print_ac3_line(out, cl.encoder);
}

void print_matrix_decode_line(std::ostream& out, const MatrixDecodeStats& stats) {
    out << "Matrix:     stereo -> L/C/R/S discrete bed; LFE silent" << std::fixed;
    out.precision(2);
    out << ", max C steer " << stats.max_centre_steer << ", max S steer " << stats.max_surround_steer;
    out.precision(1);
    out << ", rear delay " << stats.rear_delay_ms << " ms\n";
}

void print_rear_fold_line(std::ostream& out, const PreprocessSettings& preprocess) {
    out << "Downmix:    7.1 -> 5.1, rear fold " << std::fixed;
    out.precision(4);
    out << preprocess.surround_mix_gain_db << " dB\n";
}

void print_processing_lines(std::ostream& out, const PcmBuffer& pcm, const EncoderSettings& encoder) {
    out << "Processing: " << pcm.sample_rate << " Hz, " << pcm.channels << " ch (" << layout_display_name(pcm.layout)
        << ")\n";
    print_ac3_line(out, encoder);
}

void print_preflight_end(std::ostream& out, bool spectral_analysis) {
    out << (spectral_analysis ? "Spectral preflight complete; no AC-3 written.\n"
                              : "Preflight complete; no AC-3 written.\n");
}

void print_streaming_matrix_result(std::ostream& out, const MatrixDecodeStats& steering,
                                   const StreamingSummary& totals, const CommandLine& cl) {
    out << "Matrix:     streaming stereo -> L/C/R/S discrete bed; LFE "
        << (cl.preprocess.bass_mode != BassMode::None ? "bass-managed" : "silent") << std::fixed;
    out.precision(2);
    out << ", max C steer " << steering.max_centre_steer << ", max S steer " << steering.max_surround_steer << "\n"
        << std::defaultfloat;
    out << "Processing: stateful streaming matrix preprocess -> 48000 Hz\n";
    print_ac3_line(out, cl.encoder);
    print_streaming_summary(out, totals.ac3_frames, totals.delivered_frames, totals.peak_workspace_bytes, cl.encoder);
}

void print_streaming_preprocess_result(std::ostream& out, ChannelLayout source, const StreamingSummary& totals,
                                       const CommandLine& cl) {
    if (source == ChannelLayout::Surround71) {
        out << "Downmix:    streaming 7.1 -> 5.1, rear fold " << std::fixed;
        out.precision(4);
        out << cl.preprocess.surround_mix_gain_db << " dB\n" << std::defaultfloat;
    }
    out << "Processing: stateful streaming preprocess -> 48000 Hz\n";
    print_ac3_line(out, cl.encoder);
    print_streaming_summary(out, totals.ac3_frames, totals.delivered_frames, totals.peak_workspace_bytes, cl.encoder);
}

}  // namespace oskavi
