// The frame encoder given windows with NaN and infinite samples (found by
// fuzz_frame_encoder: a NaN reached a float-to-integer conversion in the
// frame planning). NaN codes as silence and infinities as full scale, so the
// frame equals that of the window with those values in place, and it verifies.

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <vector>

#include "ac3/frame_encoder.h"
#include "bitstream/verify.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

FrameWindow window_of(std::vector<float> samples, uint32_t channels, ChannelLayout layout) {
    samples.resize(size_t{kFrameWindowFrames} * channels);
    return FrameWindow{48000, channels, layout, std::move(samples)};
}

TEST(NonFiniteWindow, NanCodesAsSilenceAndInfinityAsFullScale) {
    constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    TempDirectory dir;
    const struct {
        uint32_t channels;
        ChannelLayout layout;
        uint32_t bitrate_kbps;
    } cases[] = {{1, ChannelLayout::Mono, 96}, {2, ChannelLayout::Stereo, 192}, {2, ChannelLayout::Stereo, 448},
                 {6, ChannelLayout::Surround51, 640}};
    for (const auto& c : cases) {
        std::vector<float> hostile = tools::make_test_signal({48000, c.channels, 0.04, 0.6, true, 9});
        std::vector<float> tame = hostile;
        for (size_t i = 3; i < hostile.size(); i += 101) {
            const float special = (i / 101) % 3 == 0 ? kNan : (i / 101) % 3 == 1 ? kInf : -kInf;
            hostile[i] = special;
            tame[i] = special != special ? 0.0f : special > 0 ? 1.0f : -1.0f;
        }
        EncoderSettings settings;
        settings.bitrate_kbps = c.bitrate_kbps;
        const std::vector<uint8_t> frame = encode_frame_window(window_of(hostile, c.channels, c.layout), settings);
        EXPECT_EQ(frame, encode_frame_window(window_of(tame, c.channels, c.layout), settings)) << c.channels;
        // A window of NaN alone is digital silence.
        EXPECT_EQ(encode_frame_window(window_of(std::vector<float>(hostile.size(), kNan), c.channels, c.layout), settings),
                  encode_frame_window(window_of({}, c.channels, c.layout), settings));

        const std::string path = dir.file("frame.ac3");
        write_file_bytes(path, frame);
        std::ostringstream report;
        EXPECT_EQ(verify_ac3_file(path, report), 0);
    }
}

}  // namespace
}  // namespace oskavi::test
