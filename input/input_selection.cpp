#include "input/input_selection.h"

#include <array>
#include <exception>
#include <stdexcept>

#include "input/flac_input.h"
#include "input/streaming_wave_reader.h"
#include "input/wave_reader.h"

namespace oskavi {
namespace {

// Opens a streaming reader and copies its header facts; an input that cannot
// be opened yields empty facts (the whole-file route reports its error).
bool probe_stream(const std::string& path, StreamEligibility& facts) {
    if (!is_wave_extension(input_extension(path))) {
        return false;
    }
    try {
        StreamingWaveReader reader;
        reader.open(path);
        facts.sample_rate = reader.sample_rate();
        facts.channels = reader.channels();
        facts.layout = reader.layout();
        facts.total_frames = reader.total_frames();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool is_wave_extension(const std::string& extension) {
    return extension == ".wav" || extension == ".wave" || extension == ".rf64";
}

std::string input_extension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
        return {};
    }
    std::string extension = path.substr(dot);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return extension;
}

PcmBuffer read_input(const std::string& path) {
    uint64_t nan_samples = 0;
    return read_input(path, nan_samples);
}

PcmBuffer read_input(const std::string& path, uint64_t& nan_samples, const DecodedFrameSink* flac_sink) {
    nan_samples = 0;
    const std::string extension = input_extension(path);
    if (is_wave_extension(extension)) {
        return read_wave_file(path, nan_samples);
    }
    if (extension == ".flac") {
        return flac_sink != nullptr ? read_flac_file(path, *flac_sink) : read_flac_file(path);
    }
    throw std::runtime_error("Unsupported input extension; use WAV/RF64 or FLAC");
}

bool is_streaming_rate(uint32_t sample_rate) {
    constexpr std::array<uint32_t, 6> kRates = {44100, 48000, 88200, 96000, 176400, 192000};
    for (const uint32_t rate : kRates) {
        if (rate == sample_rate) {
            return true;
        }
    }
    return false;
}

StreamEligibility can_stream_matrix(const std::string& path) {
    StreamEligibility facts;
    facts.eligible = probe_stream(path, facts) && is_streaming_rate(facts.sample_rate) &&
                     facts.channels == 2 && facts.layout == ChannelLayout::Stereo;
    return facts;
}

StreamEligibility can_stream_preprocess(const std::string& path) {
    StreamEligibility facts;
    if (!probe_stream(path, facts) || !is_streaming_rate(facts.sample_rate)) {
        return facts;
    }
    const ChannelLayout layout = facts.layout;
    switch (facts.channels) {
        case 1: facts.eligible = layout == ChannelLayout::Mono; break;
        case 2: facts.eligible = layout == ChannelLayout::Stereo; break;
        case 6: facts.eligible = layout == ChannelLayout::Surround51; break;
        case 8: facts.eligible = layout == ChannelLayout::Surround71; break;
        default: facts.eligible = false; break;
    }
    return facts;
}

}  // namespace oskavi
