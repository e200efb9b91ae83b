// The ordered parallel frame encoder against the one-thread encoder (that
// every thread count writes the same bytes is GoldenOutput's to prove): a
// failing frame surfacing after exactly the frames before it with the same
// exception, and a producer failure stopping the workers with a whole-frame
// prefix of the output on disk.

#include "ac3/parallel_frame_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "bitstream/rate_table.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

using test::file_bytes;
using test::TempDirectory;

constexpr uint64_t kFrames = 40;

// The windows of kFrames consecutive stereo frames of the music-like signal.
std::vector<FrameWindow> stereo_windows() {
    tools::SignalShape shape;
    shape.seconds = (kFrames * kSamplesPerFrame + kSamplesPerBlock) / 48000.0 + 0.01;
    const std::vector<float> samples = tools::make_test_signal(shape);
    std::vector<FrameWindow> windows;
    for (uint64_t f = 0; f < kFrames; ++f) {
        FrameWindow w{48000, 2, ChannelLayout::Stereo, {}};
        const auto first = samples.begin() + static_cast<std::ptrdiff_t>(f * kSamplesPerFrame * 2);
        w.samples.assign(first, first + kFrameWindowFrames * 2);
        windows.push_back(std::move(w));
    }
    return windows;
}

// Encodes the windows to `path` in order, calling `after_submit(f)` after
// frame f is submitted, then finishes.
template <typename AfterSubmit>
void encode_to(const std::string& path, const std::vector<FrameWindow>& windows, uint32_t threads,
               AfterSubmit after_submit) {
    Ac3OutputFile out(path);
    EncoderSettings settings;
    settings.bitrate_kbps = 448;
    settings.threads = threads;
    OrderedFrameEncoder encoder(out, settings);
    for (uint64_t f = 0; f < windows.size(); ++f) {
        encoder.submit(FrameJob{windows[f], FrameExtras{}});
        after_submit(f);
    }
    encoder.finish();
    EXPECT_EQ(encoder.frames_written(), windows.size());
    out.close();
}

size_t frame_bytes() { return static_cast<size_t>(lookup_rate(448).frame_words) * 2; }

std::vector<uint8_t> one_thread_bytes(const TempDirectory& dir, const std::vector<FrameWindow>& windows) {
    encode_to(dir.file("good.ac3"), windows, 1, [](uint64_t) {});
    EXPECT_EQ(file_bytes(dir.file("good.ac3")).size(), kFrames * frame_bytes());
    return file_bytes(dir.file("good.ac3"));
}

TEST(OrderedFrameEncoder, FailingFrameSurfacesAfterTheFramesBeforeIt) {
    const TempDirectory dir;
    std::vector<FrameWindow> windows = stereo_windows();
    const std::vector<uint8_t> good = one_thread_bytes(dir, windows);
    constexpr uint64_t kFailing = 13;
    windows[kFailing].samples.resize(100);  // not a whole window: encoding it throws

    for (const uint32_t threads : {1u, 2u, 4u}) {
        const std::string path = dir.file("bad" + std::to_string(threads) + ".ac3");
        std::string message;
        bool plain_runtime_error = false;
        try {
            encode_to(path, windows, threads, [](uint64_t) {});
        } catch (const std::exception& e) {
            message = e.what();
            plain_runtime_error = typeid(e) == typeid(std::runtime_error);
        }
        EXPECT_EQ(message, "AC-3 frame-window contract requires exactly 1792 PCM frames") << threads << " threads";
        EXPECT_TRUE(plain_runtime_error) << threads << " threads";
        const std::vector<uint8_t> written = file_bytes(path);
        ASSERT_EQ(written.size(), kFailing * frame_bytes()) << threads << " threads";
        EXPECT_TRUE(std::equal(written.begin(), written.end(), good.begin())) << threads << " threads";
    }
}

// The producer's own failure, as a reader error or an interrupt would be.
struct ProducerStopped : std::runtime_error {
    ProducerStopped() : std::runtime_error("stopped") {}
};

TEST(OrderedFrameEncoder, ProducerFailureStopsTheWorkersLeavingAPrefix) {
    const TempDirectory dir;
    const std::vector<FrameWindow> windows = stereo_windows();
    const std::vector<uint8_t> good = one_thread_bytes(dir, windows);

    for (const uint64_t stop_after : {0u, 5u, 30u}) {
        const std::string path = dir.file("stopped" + std::to_string(stop_after) + ".ac3");
        EXPECT_THROW(encode_to(path, windows, 4,
                               [&](uint64_t f) {
                                   if (f == stop_after) throw ProducerStopped();
                               }),
                     ProducerStopped);
        const std::vector<uint8_t> written = file_bytes(path);
        EXPECT_EQ(written.size() % frame_bytes(), 0u);
        EXPECT_LE(written.size(), (stop_after + 1) * frame_bytes());
        EXPECT_TRUE(std::equal(written.begin(), written.end(), good.begin())) << "stopped after " << stop_after;
    }
}

}  // namespace
}  // namespace oskavi
