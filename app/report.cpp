#include "app/report.h"

#include <cctype>
#include <ios>

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

}  // namespace oskavi
