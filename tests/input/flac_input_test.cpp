// FLAC decoding through the real libFLAC loaded at run time, on files the
// flac tool writes, and the library search and its failures.

#include "input/flac_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "input/flac_library.h"
#include "input/input_selection.h"
#include "tests/support/error_of.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

const std::string kFixtures = std::string(OSKAVI_TEST_BUILD_DIR) + "/fixtures/";
const std::string kRequiredOnly = kFixtures + "libflac_required_only.so";
const std::string kMissingFinish = kFixtures + "libflac_missing_finish.so";

// Music-like integer samples of `bits` bits, peaking below full scale.
std::vector<int32_t> integer_signal(uint32_t channels, uint32_t frames, uint32_t bits) {
    tools::SignalShape shape{48000, channels, frames / 48000.0 + 0.001, 0.6, true, channels};
    std::vector<int32_t> out;
    for (const float s : tools::make_test_signal(shape)) out.push_back(std::lrint(s * 0.9 * std::ldexp(1.0, bits - 1)));
    out.resize(size_t{channels} * frames);
    return out;
}

std::vector<float> scaled(const std::vector<int32_t>& samples, uint32_t bits) {
    std::vector<float> out;
    for (const int32_t s : samples) out.push_back(static_cast<float>(s / std::ldexp(1.0, bits - 1)));
    return out;
}

// Encodes raw samples with the flac tool at 44.1 kHz and returns the file's path.
std::string flac_file(const TempDirectory& dir, const std::string& name, const std::vector<int32_t>& samples,
                      uint32_t channels, uint32_t bits) {
    const std::string raw = dir.file(name + ".raw");
    write_file_bytes(raw, pcm_bytes(samples, bits / 8));
    const ProcessResult r = run_process({"flac", "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed",
                                         "--channels=" + std::to_string(channels), "--bps=" + std::to_string(bits),
                                         "--sample-rate=44100", "-o", dir.file(name + ".flac"), raw});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return dir.file(name + ".flac");
}

TEST(FlacInput, DecodesEveryChannelCountAndDepthExactly) {
    TempDirectory dir;
    const std::tuple<uint32_t, uint32_t, ChannelLayout> cases[] = {
        {1, 16, ChannelLayout::Mono},       {2, 24, ChannelLayout::Stereo},     {6, 24, ChannelLayout::Surround51},
        {6, 16, ChannelLayout::Surround51}, {8, 16, ChannelLayout::Surround71}, {8, 24, ChannelLayout::Surround71},
        {4, 16, ChannelLayout::Unknown},
    };
    for (const auto& [channels, bits, layout] : cases) {
        const std::vector<int32_t> samples = integer_signal(channels, 10000, bits);
        const std::string name = std::to_string(channels) + "ch" + std::to_string(bits);
        const PcmBuffer pcm = read_flac_file(flac_file(dir, name, samples, channels, bits));
        EXPECT_EQ(std::tuple(pcm.sample_rate, pcm.channels, pcm.layout), std::tuple(44100u, channels, layout)) << name;
        EXPECT_EQ(pcm.samples, scaled(samples, bits)) << name;
    }
    // Full-scale 24-bit values, through the extension dispatch (case-insensitive).
    const std::vector<int32_t> extremes = {8388607, -8388608, 0, 1};
    std::filesystem::rename(flac_file(dir, "extremes", extremes, 2, 24), dir.file("EXTREMES.FLAC"));
    EXPECT_EQ(read_input(dir.file("EXTREMES.FLAC")).samples, scaled(extremes, 24));
}

TEST(FlacInput, DecodeFailuresCarryTheirMessages) {
    TempDirectory dir;
    // STREAMINFO and padding but no frame.
    EXPECT_EQ(error_of([&] { read_flac_file(flac_file(dir, "empty", {}, 2, 16)); }), "FLAC contained no audio frames");
    EXPECT_EQ(error_of([&] { read_flac_file(dir.file("absent.flac")); }), "libFLAC init failed: error opening file");

    // Copies of a good file with the first `size` bytes kept and one of them changed.
    const std::vector<int32_t> samples = integer_signal(2, 12000, 16);
    const std::vector<uint8_t> whole = file_bytes(flac_file(dir, "whole", samples, 2, 16));
    const auto damaged = [&](const std::string& name, size_t byte, uint8_t mask, size_t size) {
        std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        bytes[byte] ^= mask;
        write_file_bytes(dir.file(name), bytes);
        return dir.file(name);
    };
    // A byte in the middle of the frames damaged: libFLAC reports the CRC
    // mismatch of that frame and, since 1.4, also the lost sync of its rescan
    // from inside it; the last report is the one that fails the decode.
    const std::string crc = damaged("crc.flac", whole.size() / 2, 0x5A, whole.size());
    const std::string crc_message = error_of([&] { read_flac_file(crc); });
    EXPECT_TRUE(crc_message == "libFLAC decode error: frame CRC mismatch" ||
                crc_message == "libFLAC decode error: lost sync")
        << crc_message;
    // STREAMINFO's MD5 signature is its last 16 bytes: after "fLaC" (4), the
    // block header (4) and 18 bytes of stream parameters.
    const std::string md5 = damaged("md5.flac", 4 + 4 + 18, 0xFF, whole.size());
    EXPECT_EQ(error_of([&] { read_flac_file(md5); }), "libFLAC decode failed: MD5 signature mismatch");
    // Cut inside the padding block the flac tool writes after the metadata:
    // the stream ends before its first frame.
    const std::string cut = damaged("cut.flac", 0, 0, 2000);
    EXPECT_EQ(error_of([&] { read_flac_file(cut); }), "libFLAC decode failed: decoded 0 of 12000 declared samples");

    // Without FLAC__stream_decoder_set_md5_checking the signature is not checked.
    const FlacLibrary required_only(FlacLibrarySearch{{kFixtures}, {"libflac_required_only.so"}, false});
    ASSERT_TRUE(required_only.available()) << required_only.error_message();
    EXPECT_EQ(required_only.entry_points().set_md5_checking, nullptr);
    EXPECT_EQ(flac_feature_text(required_only), "enabled (runtime libFLAC)");
    EXPECT_EQ(read_flac_file(md5, required_only).samples, scaled(samples, 16));
}

// The executable's own directory comes first: an incomplete libFLAC.so.12
// placed beside a copy of oskavi wins over the system library.
TEST(FlacLibrarySearching, LibraryBesideTheExecutableComesFirst) {
    TempDirectory dir;
    const std::string binary = dir.file("oskavi");
    std::filesystem::copy_file(oskavi_binary(), binary);
    std::filesystem::copy_file(kMissingFinish, dir.file("libFLAC.so.12"));
    const std::string input = flac_file(dir, "in", integer_signal(2, 2000, 16), 2, 16);

    const ProcessResult features = run_process({binary, "--features"});
    EXPECT_EQ(lines_of(features.out).at(1), "FLAC input: unavailable (place libFLAC.dll beside oskavi.exe)");
    EXPECT_EQ(outcome(run_process({binary, input, dir.file("out.ac3"), "--quiet"})),
              refusal("FLAC input requires libFLAC.dll at runtime: libFLAC missing required export: "
                      "FLAC__stream_decoder_finish"));

    // With the forwarding library in its place the same copy decodes.
    std::filesystem::copy_file(kRequiredOnly, dir.file("libFLAC.so.12"), std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(lines_of(run_process({binary, "--features"}).out).at(1), "FLAC input: enabled (runtime libFLAC)");
    EXPECT_EQ(run_process({binary, input, dir.file("out.ac3"), "--quiet"}).exit_code, 0);
}

}  // namespace
}  // namespace oskavi::test
