// FLAC decoding through the real libFLAC loaded at run time, and the library
// search and its failures.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "input/flac_input.h"
#include "input/flac_library.h"
#include "input/input_selection.h"
#include "tests/input/input_test_files.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {
namespace {

const std::string kFixtures = std::string(OSKAVI_TEST_BUILD_DIR) + "/fixtures/";

std::string error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

// Encodes integer samples with the flac tool and returns the file's path.
std::string flac_file(const TempDir& dir, const std::string& name, const std::vector<int32_t>& samples,
                      uint32_t channels, uint32_t bits, uint32_t rate = 48000,
                      const std::vector<std::string>& extra = {}) {
    const std::string raw = dir.file(name + ".raw");
    const std::string flac = dir.file(name + ".flac");
    write_raw_int(raw, samples, bits);
    std::vector<std::string> argv = {"flac", "-s", "-f", "--force-raw-format", "--endian=little",
                                     "--sign=signed", "--channels=" + std::to_string(channels),
                                     "--bps=" + std::to_string(bits), "--sample-rate=" + std::to_string(rate)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {"-o", flac, raw});
    run_tool(argv);
    return flac;
}

std::vector<float> scaled(const std::vector<int32_t>& samples, uint32_t bits) {
    const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1);
    std::vector<float> out;
    for (const int32_t s : samples) out.push_back(static_cast<float>(s / scale));
    return out;
}

FlacLibrarySearch fixture_search(const std::string& directory, const std::string& name) {
    FlacLibrarySearch search;
    search.directories = {directory};
    search.names = {name};
    search.system_search = false;
    return search;
}

TEST(FlacInput, DecodesEveryChannelCountAndDepthExactly) {
    TempDir dir;
    struct Case {
        uint32_t channels;
        uint32_t bits;
        ChannelLayout layout;
    };
    const std::vector<Case> cases = {
        {1, 16, ChannelLayout::Mono},       {2, 16, ChannelLayout::Stereo},
        {6, 16, ChannelLayout::Surround51}, {8, 16, ChannelLayout::Surround71},
        {1, 24, ChannelLayout::Mono},       {2, 24, ChannelLayout::Stereo},
        {6, 24, ChannelLayout::Surround51}, {8, 24, ChannelLayout::Surround71},
        {4, 16, ChannelLayout::Unknown},
    };
    for (const Case& c : cases) {
        const std::vector<int32_t> samples = quantize(test_signal(c.channels, 10000, 44100), c.bits);
        const std::string name = "c" + std::to_string(c.channels) + "b" + std::to_string(c.bits);
        const PcmBuffer pcm = read_flac_file(flac_file(dir, name, samples, c.channels, c.bits, 44100));
        EXPECT_EQ(pcm.sample_rate, 44100u) << name;
        EXPECT_EQ(pcm.channels, c.channels) << name;
        EXPECT_EQ(pcm.layout, c.layout) << name;
        EXPECT_EQ(pcm.samples, scaled(samples, c.bits)) << name;
    }
}

TEST(FlacInput, TwentyFourBitExtremesAndExtensionDispatch) {
    TempDir dir;
    const std::vector<int32_t> samples = {8388607, -8388608, 0, 1};
    const std::string path = flac_file(dir, "extremes", samples, 2, 24);
    const std::string upper = dir.file("EXTREMES.FLAC");
    std::filesystem::copy_file(path, upper);
    const PcmBuffer pcm = read_input(upper);
    EXPECT_EQ(pcm.samples, (std::vector<float>{static_cast<float>(8388607.0 / 8388608.0), -1.0f, 0.0f,
                                               static_cast<float>(1.0 / 8388608.0)}));
    EXPECT_FALSE(can_stream_preprocess(upper).eligible);
    EXPECT_FALSE(can_stream_matrix(upper).eligible);
}

// Offset of the second frame of a FLAC file without padding: the metadata
// blocks are walked to the first frame, then its successor's sync code
// (0xFFF8, fixed block size) is searched for.
size_t second_frame_offset(const std::vector<uint8_t>& bytes) {
    size_t pos = 4;
    while (pos + 4 <= bytes.size()) {
        const bool last = (bytes[pos] & 0x80) != 0;
        pos += 4 + ((size_t{bytes[pos + 1]} << 16) | (size_t{bytes[pos + 2]} << 8) | bytes[pos + 3]);
        if (last) break;
    }
    for (size_t i = pos + 2; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xF8) return i;
    }
    return 0;
}

TEST(FlacInput, DecodeFailuresCarryTheirMessages) {
    TempDir dir;
    // A stream with STREAMINFO and padding but no frame.
    const std::string empty = flac_file(dir, "empty", {}, 2, 16);
    EXPECT_EQ(error_of([&] { read_flac_file(empty); }), "FLAC contained no audio frames");

    EXPECT_EQ(error_of([&] { read_flac_file(dir.file("absent.flac")); }), "libFLAC init failed: error opening file");

    // Three 4096-frame blocks with the first frame's CRC-16 (its last byte,
    // just before the second frame's sync code) damaged. libFLAC reports the
    // CRC mismatch and, since 1.4, also the lost sync of its rescan from
    // inside the damaged frame; the last report is the one that fails the decode.
    const std::vector<int32_t> samples = quantize(test_signal(2, 12000, 48000), 16);
    const std::string crc = flac_file(dir, "crc", samples, 2, 16, 48000, {"-b", "4096", "--no-padding"});
    std::vector<uint8_t> bytes = file_bytes(crc);
    const size_t second_frame = second_frame_offset(bytes);
    ASSERT_GT(second_frame, 0u);
    bytes[second_frame - 1] ^= 0x5A;
    write_file(crc, bytes);
    const std::string crc_message = error_of([&] { read_flac_file(crc); });
    EXPECT_TRUE(crc_message == "libFLAC decode error: frame CRC mismatch" ||
                crc_message == "libFLAC decode error: lost sync")
        << crc_message;

    const std::string wave = dir.file("wave.flac");
    write_file(wave, canonical_wave(fmt_body(1, 2, 48000, 16), Bytes(4000, 1)));
    const std::string message = error_of([&] { read_flac_file(wave); });
    EXPECT_EQ(message.rfind("libFLAC decode", 0), 0u) << message;
}

TEST(FlacInput, Md5MismatchFailsOnlyWhereMd5CheckingExists) {
    TempDir dir;
    const std::vector<int32_t> samples = quantize(test_signal(2, 6000, 48000), 16);
    const std::string path = flac_file(dir, "md5", samples, 2, 16);
    // STREAMINFO's MD5 signature is its last 16 bytes: after "fLaC" (4), the
    // block header (4) and 18 bytes of stream parameters.
    std::vector<uint8_t> bytes = file_bytes(path);
    bytes[4 + 4 + 18] ^= 0xFF;
    write_file(path, bytes);

    const std::string message = error_of([&] { read_flac_file(path); });
    EXPECT_EQ(message.rfind("libFLAC decode failed", 0), 0u) << message;

    // Without FLAC__stream_decoder_set_md5_checking the signature is not checked.
    const FlacLibrary required_only(fixture_search(kFixtures, "libflac_required_only.so"));
    ASSERT_TRUE(required_only.available()) << required_only.error_message();
    EXPECT_EQ(required_only.entry_points().set_md5_checking, nullptr);
    EXPECT_EQ(required_only.entry_points().resolved_state_string, nullptr);
    EXPECT_EQ(flac_feature_text(required_only), "enabled (runtime libFLAC)");
    EXPECT_EQ(read_flac_file(path, required_only).samples, scaled(samples, 16));
}

TEST(FlacLibrarySearching, ProcessLibraryIsTheSystemOne) {
    EXPECT_TRUE(FlacLibrary::instance().available()) << FlacLibrary::instance().error_message();
    EXPECT_EQ(FlacLibrary::instance().error_message(), "");
    EXPECT_EQ(flac_feature_text(), "enabled (runtime libFLAC)");
}

TEST(FlacLibrarySearching, NothingFoundAndMissingExport) {
    TempDir dir;
    const FlacLibrary absent(fixture_search(dir.path().string() + "/", "libFLAC.so.12"));
    EXPECT_FALSE(absent.available());
    EXPECT_EQ(absent.error_message(),
              "libFLAC runtime DLL was not found beside oskavi.exe or in the Windows DLL search path");
    EXPECT_EQ(flac_feature_text(absent), "unavailable (place libFLAC.dll beside oskavi.exe)");
    EXPECT_EQ(error_of([&] { read_flac_file(dir.file("x.flac"), absent); }),
              "FLAC input requires libFLAC.dll at runtime: libFLAC runtime DLL was not found beside oskavi.exe "
              "or in the Windows DLL search path");

    // Directories are tried before the system search, names in order.
    FlacLibrarySearch search = fixture_search(kFixtures, "libflac_missing_finish.so");
    search.names.push_back("libflac_required_only.so");
    search.system_search = true;
    const FlacLibrary incomplete(search);
    EXPECT_FALSE(incomplete.available());
    EXPECT_EQ(incomplete.error_message(), "libFLAC missing required export: FLAC__stream_decoder_finish");
    EXPECT_EQ(flac_feature_text(incomplete), "unavailable (place libFLAC.dll beside oskavi.exe)");
    EXPECT_EQ(error_of([&] { read_flac_file(dir.file("x.flac"), incomplete); }),
              "FLAC input requires libFLAC.dll at runtime: libFLAC missing required export: "
              "FLAC__stream_decoder_finish");
}

// The executable's own directory comes first: an incomplete libFLAC.so.12
// placed beside a copy of oskavi wins over the system library.
TEST(FlacLibrarySearching, LibraryBesideTheExecutableComesFirst) {
    TempDir dir;
    const std::string binary = dir.file("oskavi");
    std::filesystem::copy_file(oskavi_binary(), binary);
    std::filesystem::copy_file(kFixtures + "libflac_missing_finish.so", dir.file("libFLAC.so.12"));
    const std::vector<int32_t> samples = quantize(test_signal(2, 2000, 48000), 16);
    const std::string input = flac_file(dir, "in", samples, 2, 16);

    const ProcessResult features = run_process({binary, "--features"});
    EXPECT_EQ(features.exit_code, 0) << features.err;
    EXPECT_NE(features.out.find("\nFLAC input: unavailable (place libFLAC.dll beside oskavi.exe)\n"),
              std::string::npos)
        << features.out;

    const ProcessResult encode = run_process({binary, input, dir.file("out.ac3"), "--quiet"});
    EXPECT_EQ(encode.exit_code, 2);
    EXPECT_EQ(encode.err,
              "Error: FLAC input requires libFLAC.dll at runtime: libFLAC missing required export: "
              "FLAC__stream_decoder_finish\n");

    // With the forwarding library in its place the same copy decodes.
    std::filesystem::copy_file(kFixtures + "libflac_required_only.so", dir.file("libFLAC.so.12"),
                               std::filesystem::copy_options::overwrite_existing);
    const ProcessResult enabled = run_process({binary, "--features"});
    EXPECT_NE(enabled.out.find("\nFLAC input: enabled (runtime libFLAC)\n"), std::string::npos) << enabled.out;
}

}  // namespace
}  // namespace oskavi::test
