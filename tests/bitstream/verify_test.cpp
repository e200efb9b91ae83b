// "--verify" on peer streams from ffmpeg's AC-3 encoder: every legal rate and
// every layout is accepted with the right report, and damaged copies fail with
// their exact messages.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bitstream/rate_table.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

// Writes a 0.2 s 440 Hz AC-3 stream with ffmpeg in the given channel layout;
// the exit code tells whether ffmpeg accepted the combination.
int make_peer_stream(const std::string& path, const std::string& layout, uint32_t kbps, int sample_rate = 48000) {
    return run_process({"ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=0.2", "-af",
                        "aformat=channel_layouts=" + layout, "-ar", std::to_string(sample_rate), "-c:a", "ac3", "-b:a",
                        std::to_string(kbps) + "k", path})
        .exit_code;
}

// Every rate in mono, stereo and 5.1; at 384 kbit/s also the layouts whose
// BSI carries other optional mix fields (acmod 3 to 6).
TEST(VerifyPeerStreams, EveryRateAndLayoutVerifies) {
    TempDirectory dir;
    int verified = 0;
    for (const auto& [layout, acmod, lfe] : {std::tuple{"mono", 1, "off"}, std::tuple{"stereo", 2, "off"},
                                             std::tuple{"5.1", 7, "on"}, std::tuple{"3.0", 3, "off"},
                                             std::tuple{"3.0(back)", 4, "off"}, std::tuple{"4.0", 5, "off"},
                                             std::tuple{"quad", 6, "off"}}) {
        for (const uint32_t kbps : kAc3Bitrates) {
            if (acmod >= 3 && acmod <= 6 && kbps != 384) continue;
            const std::string path = dir.file("peer.ac3");
            if (make_peer_stream(path, layout, kbps) != 0) {
                // ffmpeg's own bit allocation gives up on 5.1 at the lowest rate.
                EXPECT_TRUE(acmod == 7 && kbps == 32) << kbps;
                continue;
            }
            const size_t size = file_bytes(path).size();
            ASSERT_EQ(size % (kbps * 4), 0u) << kbps;  // 4 bytes per kbit/s at 48 kHz
            EXPECT_EQ(outcome(run_oskavi({"--verify", path})),
                      "exit 0\nAC-3 verify:  " + std::to_string(size / (kbps * 4)) + " frame(s), 48 kHz, " +
                          std::to_string(kbps) + " kbps CBR, acmod " + std::to_string(acmod) + ", LFE " + lfe +
                          "\nStructure:    sync/frame sizing/BSI headers valid\n"
                          "CRC:          CRC1 and full-frame CRC valid\n"
                          "Audio blocks: structural frame verification complete; use FFmpeg regression for "
                          "decode validation\n--\n");
            ++verified;
        }
    }
    EXPECT_EQ(verified, 60);
}

TEST(VerifyPeerStreams, DamagedCopiesFailWithExactMessages) {
    TempDirectory dir;
    ASSERT_EQ(make_peer_stream(dir.file("s448.ac3"), "stereo", 448), 0);
    ASSERT_EQ(make_peer_stream(dir.file("s384.ac3"), "stereo", 384), 0);
    ASSERT_EQ(make_peer_stream(dir.file("s441.ac3"), "stereo", 448, 44100), 0);
    const std::vector<uint8_t> good = file_bytes(dir.file("s448.ac3"));
    const size_t frame = 1792;                                 // 448 kbit/s
    const size_t region_5_8 = ((896 >> 1) + (896 >> 3)) * 2;  // bytes covered by crc1
    const size_t frames = good.size() / frame;
    ASSERT_GE(frames, 4u);
    const std::string end = "Frame " + std::to_string(frames) + " @ byte " + std::to_string(good.size()) + ": ";

    const auto flipped = [&](size_t byte, uint8_t mask) {
        std::vector<uint8_t> copy = good;
        copy[byte] ^= mask;
        return copy;
    };
    const auto appended = [&](const std::vector<uint8_t>& tail) {
        std::vector<uint8_t> copy = good;
        copy.insert(copy.end(), tail.begin(), tail.end());
        return copy;
    };
    const std::vector<uint8_t> header(good.begin(), good.begin() + 8);
    std::vector<uint8_t> bsid9 = good;
    bsid9[frame + 5] = static_cast<uint8_t>((9 << 3) | (bsid9[frame + 5] & 7));
    std::vector<uint8_t> frmsizecod38 = good;
    frmsizecod38[2 * frame + 4] = static_cast<uint8_t>((frmsizecod38[2 * frame + 4] & 0xC0) | 38);

    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
        {flipped(3 * frame + 20, 0x10), "CRC1 failed at frame 3"},
        {flipped(3 * frame + region_5_8 - 1, 0x01), "CRC1 failed at frame 3"},
        {flipped(3 * frame + region_5_8, 0x80), "CRC2/full-frame CRC failed at frame 3"},
        {flipped(4 * frame - 1, 0x01), "CRC2/full-frame CRC failed at frame 3"},
        {appended(std::vector<uint8_t>(100, 0)), end + "syncword is not 0x0B77"},
        {appended({header.begin(), header.begin() + 6}), end + "too short for AC-3 syncinfo/BSI"},
        {appended({header.begin(), header.begin() + 7}), end + "truncated AC-3 header"},  // 3/2 needs 8 bytes
        {appended(header), "Truncated frame at byte " + std::to_string(good.size())},
        {{good.begin(), good.end() - 1}, "Truncated frame at byte " + std::to_string((frames - 1) * frame)},
        {bsid9, "Frame 1 @ byte 1792: not a baseline AC-3 bsid <= 8 stream"},
        {frmsizecod38, "Frame 2 @ byte 3584: reserved/invalid frmsizecod"},
        {appended(file_bytes(dir.file("s384.ac3"))), "Bitrate changed in CBR verification mode"},
        {file_bytes(dir.file("s441.ac3")), "Frame 0 @ byte 0: OSKAVI verifier currently accepts 48 kHz AC-3 only"},
        {{}, "Empty AC-3 file"},
    };
    for (const auto& [bytes, message] : cases) {
        const std::string path = dir.file("bad.ac3");
        write_file_bytes(path, bytes);
        EXPECT_EQ(outcome(run_oskavi({"--verify", path})), refusal(message));
    }
}

}  // namespace
}  // namespace oskavi::test
