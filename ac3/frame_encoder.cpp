#include "ac3/frame_encoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "ac3/frame_packer.h"
#include "ac3/frame_stages.h"
#include "ac3/parallel_frame_encoder.h"
#include "bitstream/rate_table.h"

namespace oskavi {
namespace {

void check_dialnorm(int32_t dialnorm_db) {
    if (dialnorm_db < -31 || dialnorm_db > -1) throw std::runtime_error("dialnorm must be -31..-1 dB");
}

std::vector<uint8_t> encode_frame_from(const PcmView& source, int64_t first_block, const EncoderSettings& options,
                                       const FrameGainWords& gains) {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks;
    analyse_frame_blocks(source, first_block, options, blocks);
    return encode_analysed_frame(blocks, source.channels, options, gains);
}

// The 1536 new frames of AC-3 frame `f` (fewer at the end of the buffer).
std::span<const float> new_frames_of(const PcmBuffer& pcm, uint64_t f) {
    const std::size_t first = static_cast<std::size_t>(f) * kSamplesPerFrame * pcm.channels;
    const std::size_t count = std::min<std::size_t>(pcm.samples.size() - first, kSamplesPerFrame * pcm.channels);
    return std::span<const float>(pcm.samples).subspan(first, count);
}

// The window of frame `frame_index` of a whole buffer: the 256 frames before
// the frame's first frame, then its 1536 frames, 0.0 outside the buffer.
FrameWindow window_at(const PcmBuffer& pcm, uint64_t frame_index) {
    FrameWindow window;
    window.sample_rate = pcm.sample_rate;
    window.channels = pcm.channels;
    window.layout = pcm.layout;
    window.samples.assign(static_cast<size_t>(kFrameWindowFrames) * pcm.channels, 0.0f);
    const int64_t first = static_cast<int64_t>(frame_index * kSamplesPerFrame) - kSamplesPerBlock;
    const int64_t begin = std::max<int64_t>(first, 0);
    const int64_t end = std::min<int64_t>(first + kFrameWindowFrames, static_cast<int64_t>(pcm.frame_count()));
    if (begin < end) {
        std::copy(pcm.samples.begin() + begin * pcm.channels, pcm.samples.begin() + end * pcm.channels,
                  window.samples.begin() + (begin - first) * pcm.channels);
    }
    return window;
}

bool is_silent(std::span<const float> samples) {
    return std::none_of(samples.begin(), samples.end(), [](float s) { return std::fabs(s) > 1e-12f; });
}

}  // namespace

std::vector<uint8_t> encode_frame_at(const PcmBuffer& pcm, uint64_t frame_index, const EncoderSettings& options,
                                     const FrameGainWords& gains) {
    if (pcm.channels != 1 && pcm.channels != 2 && pcm.channels != 6)
        throw std::runtime_error("non-silent milestone currently supports mono/stereo/canonical 5.1 only");
    const PcmView source{pcm.samples, pcm.channels, pcm.layout};
    return encode_frame_from(source, static_cast<int64_t>(frame_index) * kBlocksPerFrame, options, gains);
}

std::vector<uint8_t> encode_frame_window(const FrameWindow& window, const EncoderSettings& options,
                                         const FrameGainWords& gains) {
    if (window.sample_rate != 48000) throw std::runtime_error("AC-3 frame-window contract requires 48 kHz PCM");
    if (window.channels == 0 || window.samples.size() != static_cast<size_t>(kFrameWindowFrames) * window.channels)
        throw std::runtime_error("AC-3 frame-window contract requires exactly 1792 PCM frames");
    if (window.channels != 1 && window.channels != 2 && window.channels != 6)
        throw std::runtime_error("AC-3 frame-window supports mono/stereo/canonical 5.1");
    if (window.channels == 6 && window.layout != ChannelLayout::Surround51)
        throw std::runtime_error("6-channel frame-window requires canonical 5.1 layout");
    check_dialnorm(options.dialnorm_db);
    lookup_rate(options.bitrate_kbps);
    // Window frame 256 * b is the first frame of block b's transform, which
    // is block number b + 1 counted from the window's start.
    const PcmView source{window.samples, window.channels, window.layout};
    return encode_frame_from(source, 1, options, gains);
}

std::vector<uint8_t> make_silent_frame(uint32_t channels, const EncoderSettings& options) {
    check_dialnorm(options.dialnorm_db);
    return write_silent_frame(options.bitrate_kbps, options.dialnorm_db, channels, options.metadata);
}

uint64_t write_silent_stream(Ac3OutputFile& out, uint32_t channels, uint64_t frames, const EncoderSettings& options) {
    const std::vector<uint8_t> frame = make_silent_frame(channels, options);
    const uint64_t count = ac3_frame_count(frames);
    for (uint64_t f = 0; f < count; ++f) out.write(frame);
    return count;
}

uint64_t ac3_frame_count(uint64_t frames) {
    return std::max<uint64_t>(1, (frames + kSamplesPerFrame - 1) / kSamplesPerFrame);
}

void encode_pcm_file(const PcmBuffer& pcm, const std::string& output_path, const EncoderSettings& options,
                     const EncodeProgress& progress) {
    if (pcm.sample_rate != 48000) throw std::runtime_error("AC-3 core contract requires 48 kHz PCM");
    if (pcm.channels < 1 || pcm.channels > 6) throw std::runtime_error("AC-3 core supports 1..6 channels");
    check_dialnorm(options.dialnorm_db);
    lookup_rate(options.bitrate_kbps);

    Ac3OutputFile out(output_path);
    const uint64_t total = ac3_frame_count(pcm.frame_count());
    const auto report = [&](uint64_t done) {
        if (progress) progress(done, total);
    };
    if (is_silent(pcm.samples)) {
        write_silent_stream(out, pcm.channels, pcm.frame_count(), options);
    } else {
        if (pcm.channels == 6 && pcm.layout != ChannelLayout::Surround51)
            throw std::runtime_error("6-channel non-silent input requires canonical 5.1 layout");
        if (pcm.channels != 1 && pcm.channels != 2 && pcm.channels != 6)
            throw std::runtime_error("non-silent encode supports mono, stereo, and canonical 5.1 at this milestone");
        OrderedFrameEncoder encoder(out, options);
        DynamicRangeTracker drc(options.line_drc, options.rf_drc, options.dialnorm_db);
        for (uint64_t f = 0; f < total; ++f) {
            report(f);
            FrameExtras extras;
            if (drc.active()) extras.gains = drc.next_frame(new_frames_of(pcm, f), pcm.channels);
            encoder.submit(FrameJob{window_at(pcm, f), extras});
        }
        encoder.finish();
    }
    report(total);
    out.close();
}

}  // namespace oskavi
