#include "app/resample_while_decoding.h"

#include <algorithm>
#include <new>

#include "dsp/sample_rate_conversion.h"

namespace oskavi {
namespace {

// Room set aside for the output on the word of STREAMINFO, at most this many
// floats (a longer stream still grows the buffer).
constexpr uint64_t kMaxReservedFloats = uint64_t{1} << 26;  // 256 MiB

bool layout_is_coded_as_is(const PcmBuffer& format) {
    return format.layout == ChannelLayout::Mono || format.layout == ChannelLayout::Stereo ||
           format.layout == ChannelLayout::Surround51;
}

}  // namespace

ResampleWhileDecoding::ResampleWhileDecoding(const CommandLine& cl)
    : allowed_(!cl.matrix_decode_enabled), threads_(cl.preprocess.threads) {
    sink_.takes = [this](const PcmBuffer& format, uint64_t declared_frames) { return takes(format, declared_frames); };
    sink_.push = [this](std::span<const float> interleaved) {
        resampler_->push(interleaved, resampled_.samples);
    };
}

bool ResampleWhileDecoding::takes(const PcmBuffer& format, uint64_t declared_frames) {
    if (!allowed_ || format.sample_rate == 48000 || !is_supported_input_rate(format.sample_rate) ||
        !layout_is_coded_as_is(format))
        return false;
    resampler_.emplace(format.sample_rate, format.channels);
    resampler_->set_threads(threads_);
    resampled_ = PcmBuffer{48000, format.channels, format.layout, {}};
    const uint64_t floats = (declared_frames * 48000 / format.sample_rate + 1) * format.channels;
    try {
        resampled_.samples.reserve(static_cast<size_t>(std::min(floats, kMaxReservedFloats)));
    } catch (const std::bad_alloc&) {
        // The buffer grows as it goes instead.
    }
    return true;
}

std::optional<PcmBuffer> ResampleWhileDecoding::take() {
    if (!resampler_) return std::nullopt;
    resampler_->finish(resampled_.samples);
    resampler_.reset();
    return std::move(resampled_);
}

}  // namespace oskavi
