#include "input/flac_input.h"

#include <algorithm>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "input/flac_library.h"
#include "platform/file_identity.h"

namespace oskavi {
namespace {

// Client data of one decode: the buffer being filled and the first failure.
struct FlacDecodeState {
    PcmBuffer pcm;  // sample_rate stays 0 until the first audio frame
    uint64_t frames = 0;                  // decoded so far
    const DecodedFrameSink* sink = nullptr;
    bool sink_takes = false;              // the sink takes the samples (asked at the first frame)
    std::vector<float> block;             // one frame's samples on their way to the sink
    uint32_t bits_per_sample = 0;
    uint8_t failed = 0;
    std::string error_message;
    uint64_t declared_frames = 0;  // STREAMINFO's total samples per channel; 0 when unknown
    // An exception raised inside a callback (out of memory while growing the
    // buffer) must not unwind through libFLAC's C frames; it is carried
    // here and rethrown once the decoder has been finished.
    std::exception_ptr pending;
};

ChannelLayout layout_from_channel_count(uint32_t channels) {
    switch (channels) {
        case 1: return ChannelLayout::Mono;
        case 2: return ChannelLayout::Stereo;
        case 6: return ChannelLayout::Surround51;
        case 8: return ChannelLayout::Surround71;
        default: return ChannelLayout::Unknown;
    }
}

std::string init_status_text(int status) {
    switch (status) {
        case 0: return "OK";
        case 1: return "unsupported container";
        case 2: return "invalid callbacks";
        case 3: return "memory allocation error";
        case 4: return "error opening file";
        case 5: return "decoder already initialized";
        default: return "unknown init error";
    }
}

std::string decoder_error_text(int status) {
    switch (status) {
        case 0: return "lost sync";
        case 1: return "bad header";
        case 2: return "frame CRC mismatch";
        case 3: return "unparseable stream";
        case 4: return "bad metadata";
        default: return "unknown decoder error";
    }
}

int abort_decode(FlacDecodeState& state, const char* message) {
    state.failed = 1;
    state.error_message = message;
    return kFlacWriteAbort;
}

// Room for the frames STREAMINFO declares, so the buffer is not copied as it
// grows. A header's count is only a hint: at most kMaxReservedFloats are set
// aside on its word, a stream longer than declared still grows, and when the
// room cannot be had (a lying header in a 32-bit process) the buffer simply
// grows as it would have without it.
constexpr uint64_t kMaxReservedFloats = uint64_t{1} << 26;  // 256 MiB

void reserve_declared(FlacDecodeState& state) {
    const uint64_t floats = state.declared_frames * state.pcm.channels;
    if (state.declared_frames == 0 || floats / state.pcm.channels != state.declared_frames) return;
    try {
        state.pcm.samples.reserve(static_cast<size_t>(std::min(floats, kMaxReservedFloats)));
    } catch (const std::bad_alloc&) {
    }
}

int append_frame(FlacDecodeState& state, const FlacFrameHeader* frame, const int32_t* const buffer[]) {
    if (frame == nullptr || buffer == nullptr) {
        return abort_decode(state, "libFLAC supplied an invalid audio callback");
    }
    const uint32_t channels = frame->channels;
    const uint32_t bits = frame->bits_per_sample;
    if (channels < 1 || channels > 8 || frame->sample_rate == 0 || bits < 1 || bits > 32) {
        return abort_decode(state, "libFLAC supplied an unsupported frame format");
    }
    PcmBuffer& pcm = state.pcm;
    if (pcm.sample_rate == 0) {
        pcm.sample_rate = frame->sample_rate;
        pcm.channels = channels;
        pcm.layout = layout_from_channel_count(channels);
        state.bits_per_sample = bits;
        state.sink_takes = state.sink != nullptr && state.sink->takes(pcm, state.declared_frames);
        if (!state.sink_takes) reserve_declared(state);
    } else if (frame->sample_rate != pcm.sample_rate || channels != pcm.channels ||
               bits != state.bits_per_sample) {
        return abort_decode(state, "FLAC stream changes format mid-stream");
    }
    // libFLAC hands out right-aligned signed integers of `bits` bits, scaled
    // by 2^-(bits - 1): a product by an exact power of two, which is exactly
    // the quotient by 2^(bits - 1).
    const double scale = 1.0 / static_cast<double>(uint64_t{1} << (bits - 1));
    const uint32_t blocksize = frame->blocksize;
    std::vector<float>& samples = state.sink_takes ? state.block : pcm.samples;
    const size_t start = state.sink_takes ? 0 : samples.size();
    samples.resize(start + static_cast<size_t>(blocksize) * channels);
    float* out = samples.data() + start;
    for (uint32_t i = 0; i < blocksize; ++i) {
        for (uint32_t ch = 0; ch < channels; ++ch) {
            *out++ = static_cast<float>(static_cast<double>(buffer[ch][i]) * scale);
        }
    }
    state.frames += blocksize;
    if (state.sink_takes) state.sink->push(samples);
    return kFlacWriteContinue;
}

int write_callback(const FlacDecoder*, const FlacFrameHeader* frame, const int32_t* const buffer[],
                   void* client_data) {
    auto& state = *static_cast<FlacDecodeState*>(client_data);
    try {
        return append_frame(state, frame, buffer);
    } catch (...) {
        state.failed = 1;
        state.pending = std::current_exception();
        return kFlacWriteAbort;
    }
}

void metadata_callback(const FlacDecoder*, const FlacStreamMetadata* metadata, void* client_data) {
    if (metadata != nullptr && metadata->type == kFlacMetadataStreamInfo) {
        static_cast<FlacDecodeState*>(client_data)->declared_frames = metadata->stream_info.total_samples;
    }
}

void error_callback(const FlacDecoder*, int status, void* client_data) {
    auto& state = *static_cast<FlacDecodeState*>(client_data);
    state.failed = 1;
    state.error_message = "libFLAC decode error: " + decoder_error_text(status);
}

// Owns a decoder instance: it is deleted on every path out of a decode.
class DecoderHandle {
public:
    DecoderHandle(const FlacEntryPoints& api, FlacDecoder* decoder) : api_(api), decoder_(decoder) {}
    ~DecoderHandle() { api_.decoder_delete(decoder_); }
    DecoderHandle(const DecoderHandle&) = delete;
    DecoderHandle& operator=(const DecoderHandle&) = delete;
    FlacDecoder* get() const { return decoder_; }

private:
    const FlacEntryPoints& api_;
    FlacDecoder* decoder_;
};

// The decoder's state as text, read while it still describes the decode
// (finishing resets it); empty when the library cannot say.
std::string decoder_state_text(const FlacEntryPoints& api, const FlacDecoder* decoder) {
    const char* text = api.resolved_state_string != nullptr ? api.resolved_state_string(decoder) : nullptr;
    return text != nullptr ? std::string(text) : std::string();
}

// Names the first cause found: a callback's report, a stream shorter than
// STREAMINFO declares, the state a failed decode stopped in, or (when only
// finishing failed) the MD5 check.
std::string failure_message(const FlacEntryPoints& api, const FlacDecodeState& state, bool ok,
                            const std::string& state_text) {
    if (!state.error_message.empty()) {
        return state.error_message;
    }
    const std::string prefix = "libFLAC decode failed: ";
    const uint64_t decoded = state.frames;
    if (state.declared_frames != 0 && decoded < state.declared_frames) {
        return prefix + "decoded " + std::to_string(decoded) + " of " + std::to_string(state.declared_frames) +
               " declared samples";
    }
    if (!ok && !state_text.empty()) {
        return prefix + state_text;
    }
    if (ok && api.set_md5_checking != nullptr) {
        return prefix + "MD5 signature mismatch";
    }
    return "libFLAC decode failed";
}

}  // namespace

std::string flac_feature_text(const FlacLibrary& library) {
    return library.available() ? "enabled (runtime libFLAC)"
                               : "unavailable (place libFLAC.dll beside oskavi.exe)";
}

std::string flac_feature_text() {
    try {
        return flac_feature_text(FlacLibrary::instance());
    } catch (const std::exception&) {
        // The feature list reports a loader that failed outright instead of failing itself.
        return "unavailable (runtime loader error)";
    }
}

PcmBuffer read_flac_file(const std::string& path) { return read_flac_file(path, FlacLibrary::instance()); }

PcmBuffer read_flac_file(const std::string& path, const DecodedFrameSink& sink) {
    return read_flac_file(path, FlacLibrary::instance(), &sink);
}

PcmBuffer read_flac_file(const std::string& path, const FlacLibrary& library, const DecodedFrameSink* sink) {
    if (!library.available()) {
        throw std::runtime_error("FLAC input requires libFLAC.dll at runtime: " + library.error_message());
    }
    // A directory or a device would be read forever or make no sense.
    if (is_special_file(path)) {
        throw std::runtime_error("Cannot open input: " + path);
    }
    const FlacEntryPoints& api = library.entry_points();
    FlacDecoder* raw = api.decoder_new();
    if (raw == nullptr) {
        throw std::runtime_error("libFLAC decoder allocation failed");
    }
    DecoderHandle decoder(api, raw);
    if (api.set_md5_checking != nullptr) {
        api.set_md5_checking(decoder.get(), 1);
    }
    FlacDecodeState state;
    state.sink = sink;
    const int status = api.init_file(decoder.get(), path.c_str(), write_callback, metadata_callback,
                                     error_callback, &state);
    if (status != 0) {
        throw std::runtime_error("libFLAC init failed: " + init_status_text(status));
    }
    const bool ok = api.process_until_end_of_stream(decoder.get()) != 0;
    const std::string state_text = ok ? std::string() : decoder_state_text(api, decoder.get());
    const bool finished = api.finish(decoder.get()) != 0;
    if (state.pending) {
        std::rethrow_exception(state.pending);
    }
    if (ok && finished && state.failed == 0) {
        if (state.frames == 0) {
            throw std::runtime_error("FLAC contained no audio frames");
        }
        return std::move(state.pcm);
    }
    throw std::runtime_error(failure_message(api, state, ok, state_text));
}

}  // namespace oskavi
