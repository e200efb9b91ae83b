// "--verify" on peer streams from ffmpeg's AC-3 encoder: every legal rate in
// mono, stereo and 5.1 is accepted with the right report, and damaged copies
// fail with their exact messages.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bitstream/rate_table.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

// Writes a short 440 Hz AC-3 stream with ffmpeg; the result's exit code tells
// whether ffmpeg accepted the combination.
ProcessResult make_peer_stream(const std::string& path, int channels, uint32_t kbps, int sample_rate = 48000,
                               const char* seconds = "0.2") {
    return run_process({"ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", std::string("sine=f=440:d=") + seconds,
                        "-ac", std::to_string(channels), "-ar", std::to_string(sample_rate), "-c:a", "ac3", "-b:a",
                        std::to_string(kbps) + "k", path});
}

std::string expected_report(uint64_t frames, uint32_t kbps, int acmod, bool lfe) {
    return "AC-3 verify:  " + std::to_string(frames) + " frame(s), 48 kHz, " + std::to_string(kbps) +
           " kbps CBR, acmod " + std::to_string(acmod) + ", LFE " + (lfe ? "on" : "off") +
           "\n"
           "Structure:    sync/frame sizing/BSI headers valid\n"
           "CRC:          CRC1 and full-frame CRC valid\n"
           "Audio blocks: structural frame verification complete; use FFmpeg regression for decode validation\n";
}

struct Layout {
    int channels;
    int acmod;
    bool lfe;
};

TEST(VerifyPeerStreams, EveryRateAndLayoutVerifies) {
    ASSERT_TRUE(program_available("ffmpeg"));
    TempDirectory dir;
    int verified = 0;
    for (const Layout layout : {Layout{1, 1, false}, Layout{2, 2, false}, Layout{6, 7, true}}) {
        for (size_t i = 0; i < kAc3Bitrates.size(); ++i) {
            const uint32_t kbps = kAc3Bitrates[i];
            SCOPED_TRACE(std::to_string(layout.channels) + " ch at " + std::to_string(kbps) + " kbps");
            const std::string path = dir.file("peer_" + std::to_string(layout.channels) + "_" + std::to_string(kbps) + ".ac3");
            const ProcessResult made = make_peer_stream(path, layout.channels, kbps);
            if (made.exit_code != 0) {
                // ffmpeg's own bit allocation gives up on 5.1 at the lowest rate.
                EXPECT_TRUE(layout.channels == 6 && kbps == 32) << made.err;
                continue;
            }
            const std::vector<uint8_t> bytes = file_bytes(path);
            ASSERT_GE(bytes.size(), 5u);
            // The frame size named by the first header, independently of the verifier.
            const uint32_t frmsizecod = bytes[4] & 0x3Fu;
            ASSERT_EQ(bytes[4] >> 6, 0) << "fscod";
            ASSERT_EQ(frmsizecod / 2, i);
            const size_t frame_bytes = size_t{2} * kAc3FrameWords[frmsizecod / 2];
            ASSERT_EQ(frame_bytes, kbps * 4u);
            ASSERT_EQ(bytes.size() % frame_bytes, 0u);

            const ProcessResult r = run_oskavi({"--verify", path});
            EXPECT_EQ(r.exit_code, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, expected_report(bytes.size() / frame_bytes, kbps, layout.acmod, layout.lfe));
            ++verified;
        }
    }
    EXPECT_GE(verified, 56);
}

struct Corruption {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string message;
};

TEST(VerifyPeerStreams, DamagedCopiesFailWithExactMessages) {
    ASSERT_TRUE(program_available("ffmpeg"));
    TempDirectory dir;
    ASSERT_EQ(make_peer_stream(dir.file("s448.ac3"), 2, 448).exit_code, 0);
    ASSERT_EQ(make_peer_stream(dir.file("s384.ac3"), 2, 384).exit_code, 0);
    ASSERT_EQ(make_peer_stream(dir.file("s441.ac3"), 2, 448, 44100).exit_code, 0);
    const std::vector<uint8_t> good = file_bytes(dir.file("s448.ac3"));
    const std::vector<uint8_t> other_rate = file_bytes(dir.file("s384.ac3"));
    const std::vector<uint8_t> cd_rate = file_bytes(dir.file("s441.ac3"));

    const size_t frame = 1792;  // 448 kbit/s
    const size_t region_5_8 = ((896 >> 1) + (896 >> 3)) * 2;  // bytes covered by crc1
    ASSERT_EQ(good.size() % frame, 0u);
    const size_t frames = good.size() / frame;
    ASSERT_GE(frames, 4u);
    const std::string end = std::to_string(good.size());

    const auto with = [&](auto change) {
        std::vector<uint8_t> copy = good;
        change(copy);
        return copy;
    };
    const auto appended = [&](std::vector<uint8_t> tail) {
        return with([&](std::vector<uint8_t>& b) { b.insert(b.end(), tail.begin(), tail.end()); });
    };
    const std::vector<uint8_t> header(good.begin(), good.begin() + 8);

    std::vector<Corruption> cases = {
        {"bit after the header fields", with([&](auto& b) { b[3 * frame + 20] ^= 0x10; }), "CRC1 failed at frame 3"},
        {"last bit covered by crc1", with([&](auto& b) { b[3 * frame + region_5_8 - 1] ^= 0x01; }),
         "CRC1 failed at frame 3"},
        {"first bit after the crc1 region", with([&](auto& b) { b[3 * frame + region_5_8] ^= 0x80; }),
         "CRC2/full-frame CRC failed at frame 3"},
        {"bit in crc2", with([&](auto& b) { b[4 * frame - 1] ^= 0x01; }), "CRC2/full-frame CRC failed at frame 3"},
        {"100 zero bytes appended", appended(std::vector<uint8_t>(100, 0)),
         "Frame " + std::to_string(frames) + " @ byte " + end + ": syncword is not 0x0B77"},
        {"6 header bytes appended", appended({header.begin(), header.begin() + 6}),
         "Frame " + std::to_string(frames) + " @ byte " + end + ": too short for AC-3 syncinfo/BSI"},
        {"7 header bytes appended", appended({header.begin(), header.begin() + 7}),
         "Frame " + std::to_string(frames) + " @ byte " + end + ": truncated AC-3 header"},
        {"8 header bytes appended", appended(header), "Truncated frame at byte " + end},
        {"last frame cut short", with([](auto& b) { b.pop_back(); }),
         "Truncated frame at byte " + std::to_string((frames - 1) * frame)},
        {"broken syncword", with([](auto& b) { b[0] = 0x0C; }), "Frame 0 @ byte 0: syncword is not 0x0B77"},
        {"bsid 9", with([&](auto& b) { b[frame + 5] = static_cast<uint8_t>((9 << 3) | (b[frame + 5] & 7)); }),
         "Frame 1 @ byte 1792: not a baseline AC-3 bsid <= 8 stream"},
        {"reserved frmsizecod",
         with([&](auto& b) { b[2 * frame + 4] = static_cast<uint8_t>((b[2 * frame + 4] & 0xC0) | 38); }),
         "Frame 2 @ byte 3584: reserved/invalid frmsizecod"},
        {"448 then 384 kbit/s", appended(other_rate), "Bitrate changed in CBR verification mode"},
        {"44.1 kHz stream", cd_rate, "Frame 0 @ byte 0: OSKAVI verifier currently accepts 48 kHz AC-3 only"},
        {"empty file", {}, "Empty AC-3 file"},
    };
    for (const Corruption& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("bad.ac3");
        write_file_bytes(path, c.bytes);
        const ProcessResult r = run_oskavi({"--verify", path});
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Error: " + c.message + "\n");
    }
}

}  // namespace
}  // namespace oskavi::test
