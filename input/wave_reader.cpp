#include "input/wave_reader.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "input/sample_conversion.h"
#include "platform/binary_file.h"

namespace oskavi {
namespace {

constexpr uint64_t kMaxDataBytes = uint64_t{1} << 32;

struct WaveContents {
    WaveFormat format;
    std::vector<uint8_t> data;  // left empty by a walk that skips sample data
    uint64_t data_size = 0;
};

enum class DataBodies { Read, Skip };

// Checks that a `data` body of `size` bytes fits this build and the file.
void check_data_body(const BinaryInputFile& in, const ChunkHeader& chunk, uint64_t size) {
    if (size >= kMaxDataBytes) {
        throw std::runtime_error("Audio data is too large for this build");
    }
    const uint64_t available = in.size() > chunk.body_start ? in.size() - chunk.body_start : 0;
    if (size > available) {
        throw std::runtime_error("Truncated WAVE/RF64 data chunk");
    }
}

// Reads a `data` body whole. The size is checked against what the file still
// holds before anything is allocated, so a lying size field fails cleanly.
std::vector<uint8_t> read_data_body(BinaryInputFile& in, const ChunkHeader& chunk, uint64_t size) {
    check_data_body(in, chunk, size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (in.read(bytes.data(), bytes.size()) != bytes.size()) {
        throw std::runtime_error("Truncated WAVE/RF64 data chunk");
    }
    return bytes;
}

// Walks every chunk to the end of the file; later `fmt ` and `data` chunks
// replace earlier ones, and `fmt ` may follow `data`.
WaveContents walk_chunks(BinaryInputFile& in, DataBodies bodies) {
    const bool is_rf64 = read_wave_header(in);
    WaveContents contents;
    uint64_t ds64_data_size = 0;
    ChunkHeader chunk;
    while (in.good() && read_chunk_header(in, chunk)) {
        uint64_t body_size = chunk.size;
        if (chunk.is("ds64")) {
            ds64_data_size = read_ds64_chunk(in, chunk.size);
        } else if (chunk.is("fmt ")) {
            read_fmt_chunk(in, chunk.size, contents.format);
        } else if (chunk.is("data")) {
            body_size = data_chunk_size(chunk.size, is_rf64, ds64_data_size);
            if (bodies == DataBodies::Read) {
                contents.data = read_data_body(in, chunk, body_size);
            } else {
                check_data_body(in, chunk, body_size);
            }
            contents.data_size = body_size;
        }
        skip_chunk(in, chunk.body_start, body_size);
    }
    return contents;
}

// Everything read_wave_file checks, on the walked contents; returns the
// buffer's header fields (no samples) and the encoding of the data.
PcmBuffer checked_header(const WaveContents& contents, SampleEncoding& encoding) {
    const WaveFormat& format = contents.format;
    if (format.channels == 0 || format.sample_rate == 0 || contents.data_size == 0) {
        throw std::runtime_error("Incomplete WAVE/RF64 file");
    }
    validate_wave_encoding(format);

    PcmBuffer pcm;
    pcm.sample_rate = format.sample_rate;
    pcm.channels = format.channels;
    pcm.layout = classify_layout(format.channels, format.channel_mask);

    encoding = sample_encoding(format.format_code, format.bits_per_sample);
    if (contents.data_size % (uint64_t{format.channels} * bytes_per_sample(encoding)) != 0) {
        throw std::runtime_error("WAVE data size is not aligned to complete sample frames");
    }
    return pcm;
}

WaveContents walk_file(const std::string& path, DataBodies bodies) {
    BinaryInputFile in;
    if (!in.open(path)) {
        throw std::runtime_error("Cannot open input: " + path);
    }
    WaveContents contents = walk_chunks(in, bodies);
    in.close();
    return contents;
}

}  // namespace

PcmBuffer read_wave_file(const std::string& path) {
    uint64_t nan_samples = 0;
    return read_wave_file(path, nan_samples);
}

PcmBuffer read_wave_file(const std::string& path, uint64_t& nan_samples) {
    const WaveContents contents = walk_file(path, DataBodies::Read);
    SampleEncoding encoding = SampleEncoding::Pcm16;
    PcmBuffer pcm = checked_header(contents, encoding);
    pcm.samples.resize(contents.data.size() / bytes_per_sample(encoding));
    nan_samples = convert_samples(encoding, contents.data, pcm.samples);
    return pcm;
}

PcmBuffer read_wave_header(const std::string& path) {
    const WaveContents contents = walk_file(path, DataBodies::Skip);
    SampleEncoding encoding = SampleEncoding::Pcm16;
    return checked_header(contents, encoding);
}

}  // namespace oskavi
