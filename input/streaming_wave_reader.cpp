#include "input/streaming_wave_reader.h"

#include <algorithm>
#include <stdexcept>

#include "input/wave_chunks.h"

namespace oskavi {
namespace {

constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 32;

}  // namespace

void StreamingWaveReader::open(const std::string& path) {
    path_ = path;
    if (!in_.open(path)) {
        throw std::runtime_error("Cannot open input: " + path);
    }
    const bool is_rf64 = read_wave_header(in_);
    WaveFormat format;
    uint64_t ds64_data_size = 0;
    bool found_data = false;
    ChunkHeader chunk;
    while (in_.good() && read_chunk_header(in_, chunk)) {
        if (chunk.is("data")) {
            data_offset_ = chunk.body_start;
            data_size_ = data_chunk_size(chunk.size, is_rf64, ds64_data_size);
            found_data = true;
            break;
        }
        if (chunk.is("ds64")) {
            ds64_data_size = read_ds64_chunk(in_, chunk.size);
        } else if (chunk.is("fmt ")) {
            read_fmt_chunk(in_, chunk.size, format);
        }
        skip_chunk(in_, chunk.body_start, chunk.size);
    }
    if (!found_data || format.channels == 0 || format.sample_rate == 0) {
        throw std::runtime_error("Incomplete WAVE/RF64 file");
    }
    validate_wave_encoding(format);

    encoding_ = sample_encoding(format.format_code, format.bits_per_sample);
    const uint64_t bytes_per_frame = uint64_t{format.channels} * bytes_per_sample(encoding_);
    if (data_size_ % bytes_per_frame != 0) {
        throw std::runtime_error("WAVE data size is not aligned to complete sample frames");
    }
    sample_rate_ = format.sample_rate;
    channels_ = format.channels;
    layout_ = classify_layout(format.channels, format.channel_mask);
    total_frames_ = data_size_ / bytes_per_frame;
    in_.clear();
    if (!in_.seek(data_offset_)) {
        throw std::runtime_error("Cannot seek WAVE data chunk");
    }
    frames_delivered_ = 0;
}

uint64_t StreamingWaveReader::next_block_bytes(uint64_t n_max) const {
    if (frames_delivered_ >= total_frames_ || n_max == 0) return 0;
    const uint64_t n = std::min(n_max, total_frames_ - frames_delivered_);
    const uint64_t byte_count = n * frame_bytes();
    if (byte_count >= kMaxBlockBytes) {
        throw std::runtime_error("Requested WAVE streaming chunk is too large");
    }
    // A block that the file cannot hold fails before its buffer is allocated.
    const uint64_t position = data_offset_ + frames_delivered_ * frame_bytes();
    const uint64_t available = in_.size() > position ? in_.size() - position : 0;
    if (byte_count > available) {
        throw std::runtime_error("Truncated WAVE/RF64 data chunk");
    }
    return byte_count;
}

bool StreamingWaveReader::read_frames(uint64_t n_max, std::vector<float>& out) {
    const uint64_t byte_count = next_block_bytes(n_max);
    if (byte_count == 0) {
        out.clear();
        return false;
    }
    bytes_.resize(static_cast<size_t>(byte_count));
    if (skipped_since_read_) {
        if (!in_.seek(data_offset_ + frames_delivered_ * frame_bytes())) {
            throw std::runtime_error("Truncated WAVE/RF64 data chunk");
        }
        skipped_since_read_ = false;
    }
    if (in_.read(bytes_.data(), bytes_.size()) != bytes_.size()) {
        throw std::runtime_error("Truncated WAVE/RF64 data chunk");
    }
    // Every sample is overwritten: a buffer of the same size is reused as it is.
    const uint64_t samples = byte_count / bytes_per_sample(encoding_);
    out.resize(static_cast<size_t>(samples));
    nan_samples_ += convert_samples(encoding_, bytes_, out);
    frames_delivered_ += samples / channels_;
    return true;
}

uint64_t StreamingWaveReader::skip_frames(uint64_t n_max) {
    const uint64_t byte_count = next_block_bytes(n_max);
    if (byte_count == 0) return 0;
    const uint64_t n = byte_count / frame_bytes();
    frames_delivered_ += n;
    skipped_since_read_ = true;  // the next read seeks past the skipped frames first
    return n;
}

}  // namespace oskavi
