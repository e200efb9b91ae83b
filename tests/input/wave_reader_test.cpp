// The whole-file and the streaming WAVE/RF64 readers on files built byte by
// byte: the refusals where the two readers differ or a size could wrap,
// sample scaling, layouts and the rules of the chunk walk.

#include "input/wave_reader.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "input/streaming_wave_reader.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {
namespace {

const Bytes kStereo16 = fmt_body(1, 2, 48000, 16);
const Bytes kFourBytes = {1, 0, 2, 0};

// Every sample of the file through the streaming reader, in blocks.
std::vector<float> read_streaming(const std::string& path, uint64_t block_frames = 4096) {
    StreamingWaveReader reader;
    reader.open(path);
    std::vector<float> all, block;
    while (reader.read_frames(block_frames, block)) all.insert(all.end(), block.begin(), block.end());
    return all;
}

// Skipping blocks moves through the data exactly as reading them does: the
// same counts, the later blocks' samples unchanged, the same refusal of a
// data chunk that the file cannot hold.
TEST(StreamingWaveReader, SkippingMovesAsReadingDoes) {
    const TempDirectory dir;
    std::vector<int32_t> samples(2 * 1000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i * 37 % 65536) - 32768;
    const Bytes data = pcm_bytes(samples, 2);
    const std::string whole = dir.file("whole.wav");
    write_file_bytes(whole, canonical_wave(kStereo16, data));
    const std::vector<float> all = read_streaming(whole);
    StreamingWaveReader reader;
    reader.open(whole);
    std::vector<float> block;
    uint64_t frame = 0;
    for (int k = 0; ; ++k) {
        if (k % 2 == 0) {
            const uint64_t skipped = reader.skip_frames(300);
            if (skipped == 0) break;
            EXPECT_EQ(skipped, std::min<uint64_t>(300, 1000 - frame));
            frame += skipped;
        } else {
            if (!reader.read_frames(300, block)) break;
            ASSERT_TRUE(std::equal(block.begin(), block.end(), all.begin() + static_cast<std::ptrdiff_t>(2 * frame)));
            frame += block.size() / 2;
        }
    }
    EXPECT_EQ(frame, 1000u);
    EXPECT_EQ(reader.skip_frames(300), 0u);
    EXPECT_TRUE(reader.whole_number_samples());

    // The header promises 1000 frames, the file holds 700 of them.
    Bytes cut = canonical_wave(kStereo16, data);
    cut.resize(cut.size() - 4 * 300);
    const std::string short_file = dir.file("short.wav");
    write_file_bytes(short_file, cut);
    for (const bool skip : {false, true}) {
        StreamingWaveReader r;
        r.open(short_file);
        uint64_t delivered = 0;
        const std::string message = error_of([&] {
            while (true) {
                const uint64_t n = skip ? r.skip_frames(256) : (r.read_frames(256, block) ? block.size() / 2 : 0);
                if (n == 0) break;
                delivered += n;
            }
        });
        EXPECT_EQ(message, "Truncated WAVE/RF64 data chunk") << skip;
        EXPECT_EQ(delivered, 512u) << skip;
    }
}

TEST(WaveReaderMessages, MalformedFilesWhereTheTwoReadersDiffer) {
    Bytes five_trailing_bytes = canonical_wave(kStereo16, kFourBytes);
    five_trailing_bytes.insert(five_trailing_bytes.end(), 5, 'x');
    const std::string unaligned = "WAVE data size is not aligned to complete sample frames";
    const struct {
        Bytes file;
        std::string whole_file, streaming;
    } cases[] = {
        // Four to seven bytes after the last chunk hold an id but not its
        // size. The streaming reader stops at `data`.
        {five_trailing_bytes, "Unexpected end of WAVE file", ""},
        // 12 x 0xFFFFFFFF entries must not wrap around to fit the chunk.
        {WaveBuilder("RF64").chunk("ds64", ds64_body(4, 0xFFFFFFFFu)).bytes(), "Malformed RF64 ds64 table",
         "Malformed RF64 ds64 table"},
        {WaveBuilder("RF64").chunk("ds64", ds64_body(uint64_t{1} << 32)).chunk("fmt ", kStereo16)
             .chunk_with_size("data", 0xFFFFFFFFu, kFourBytes).bytes(),
         "Audio data is too large for this build", "Truncated WAVE/RF64 data chunk"},
        {canonical_wave(kStereo16, Bytes(6, 0)), unaligned, unaligned},
    };
    TempDirectory dir;
    const std::string path = dir.file("bad.wav");
    for (const auto& c : cases) {
        write_file_bytes(path, c.file);
        EXPECT_EQ(error_of([&] { read_wave_file(path); }), c.whole_file) << &c - cases;
        EXPECT_EQ(error_of([&] { read_streaming(path); }), c.streaming) << &c - cases;
    }
    const std::string absent = dir.file("absent.wav");
    EXPECT_EQ(error_of([&] { read_wave_file(absent); }), "Cannot open input: " + absent);
    EXPECT_EQ(error_of([&] { read_streaming(absent); }), "Cannot open input: " + absent);
}

#if !defined(__SANITIZE_ADDRESS__)
[[noreturn]] void read_with_capped_memory(const std::string& path) {
    rlimit cap{};
    cap.rlim_cur = cap.rlim_max = rlim_t{2} << 30;
    setrlimit(RLIMIT_AS, &cap);
    const std::string truncated = "Truncated WAVE/RF64 data chunk";
    const bool expected = error_of([&] { read_wave_file(path); }) == truncated &&
                          error_of([&] { read_streaming(path); }) == truncated;
    std::_Exit(expected ? 0 : 1);
}
#endif

TEST(WaveReaderMessages, HugeDeclaredDataSizeFailsWithoutAllocatingIt) {
    // 0xFFFFFFF0 bytes announced in a 100-byte file must be refused before a
    // buffer of that size exists: the read runs in a child whose address
    // space is capped at 2 GiB, where such an allocation would throw bad_alloc.
    TempDirectory dir;
    const Bytes file = WaveBuilder().chunk("fmt ", kStereo16).chunk_with_size("data", 0xFFFFFFF0u, Bytes(56, 0)).bytes();
    ASSERT_EQ(file.size(), 100u);
    const std::string path = dir.file("huge.wav");
    write_file_bytes(path, file);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(error_of([&] { read_wave_file(path); }), "Truncated WAVE/RF64 data chunk");
#else
    EXPECT_EXIT(read_with_capped_memory(path), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(WaveReaderLayout, PlainAndExtensibleFilesGetTheirLayout) {
    const std::vector<std::pair<Bytes, ChannelLayout>> cases = {
        {fmt_body(1, 6, 48000, 16), ChannelLayout::Surround51},
        {fmt_body(1, 8, 48000, 16), ChannelLayout::Surround71},
        {fmt_body(1, 3, 48000, 16), ChannelLayout::Unknown},
        {fmt_extensible_body(6, 48000, 16, 0x60F, 1), ChannelLayout::Surround51},  // side surrounds
        {fmt_extensible_body(6, 48000, 16, 0x3F, 1), ChannelLayout::Surround51},   // back surrounds
        {fmt_extensible_body(6, 48000, 16, 0x33F, 1), ChannelLayout::Unknown},
        {fmt_extensible_body(8, 48000, 16, 0x63F, 1), ChannelLayout::Surround71},
        {fmt_extensible_body(8, 48000, 16, 0x6FF, 1), ChannelLayout::Unknown},
    };
    TempDirectory dir;
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [fmt, layout] = cases[i];
        const uint16_t channels = fmt[2];
        const std::string path = dir.file("layout" + std::to_string(i) + ".wav");
        write_file_bytes(path, canonical_wave(fmt, Bytes(2u * channels * 3, 0)));
        const PcmBuffer pcm = read_wave_file(path);
        StreamingWaveReader reader;
        reader.open(path);
        EXPECT_EQ(std::tuple(pcm.layout, reader.layout(), pcm.channels, pcm.frame_count()),
                  std::tuple(layout, layout, uint32_t{channels}, uint64_t{3}))
            << i;
    }
}

// Both readers' samples; the streaming reader's stay empty where it refuses
// the file (it stops at the first `data`).
TEST(WaveReaderSamples, ScalingAndTheRulesOfTheChunkWalk) {
    const std::vector<int32_t> s16 = {-32768, 32767, 0, 1};
    const std::vector<float> f32 = {1.5f, -2.0f, 0.25f, -1.0f};
    const std::vector<float> e16 = {-1.0f, 32767 / 32768.0f, 0.0f, 1 / 32768.0f};
    const std::vector<float> clipped = {1.0f, -1.0f, 0.25f, -1.0f};
    const std::vector<float> e24 = {-1.0f, 8388607 / 8388608.0f, -1 / 8388608.0f, 1 / 8388608.0f};
    const std::vector<float> e32 = {-1.0f, 1.0f, -1 / 2147483648.0f, 1.0f / 2048.0f};
    Bytes any_guid_tail = fmt_extensible_body(2, 44100, 16, 3, 1);
    for (size_t i = 26; i < 40; ++i) any_guid_tail[i] = static_cast<uint8_t>(0xA5 ^ i);
    const Bytes first = pcm_bytes(std::vector<int32_t>{100, -100}, 2), second = pcm_bytes(std::vector<int32_t>{7, 8}, 2);
    const std::vector<float> one = {100 / 32768.0f, -100 / 32768.0f}, two = {7 / 32768.0f, 8 / 32768.0f};
    const Bytes odd = {1, 2, 3};
    const struct {
        Bytes file;
        std::vector<float> whole, streamed;
    } cases[] = {
        {canonical_wave(fmt_body(1, 2, 44100, 16), pcm_bytes(s16, 2)), e16, e16},
        {canonical_wave(fmt_body(1, 2, 44100, 24), pcm_bytes(std::vector<int32_t>{-8388608, 8388607, -1, 1}, 3)), e24, e24},
        {canonical_wave(fmt_body(1, 2, 44100, 32), pcm_bytes(std::vector<int32_t>{INT32_MIN, INT32_MAX, -1, 1 << 20}, 4)),
         e32, e32},
        {canonical_wave(fmt_body(3, 2, 44100, 32), float32_bytes(f32)), clipped, clipped},
        // The sub-format GUID's first bytes decide: 03 00 is float, 01 00 is PCM, whatever its tail.
        {canonical_wave(fmt_extensible_body(2, 44100, 32, 3, 3), float32_bytes(f32)), clipped, clipped},
        {canonical_wave(any_guid_tail, pcm_bytes(s16, 2)), e16, e16},
        // An odd chunk before `fmt ` only parses when its pad byte is skipped.
        {WaveBuilder().chunk("junk", odd).chunk("fmt ", kStereo16).chunk("data", first).chunk("LIST", odd).bytes(), one, one},
        // `fmt ` after `data` serves the whole-file reader only.
        {WaveBuilder().chunk("data", first).chunk("fmt ", kStereo16).bytes(), one, {}},
        // The whole-file reader keeps the last `data`, the streaming one the first.
        {WaveBuilder().chunk("fmt ", kStereo16).chunk("data", second).chunk("data", first).bytes(), one, two},
        // A last chunk announcing more than the file holds ends the walk quietly.
        {WaveBuilder().chunk("fmt ", kStereo16).chunk("data", first).chunk_with_size("LIST", 1000, odd).bytes(), one, one},
        // RF64 table entries are skipped with the rest of ds64; in a RIFF file its size is not used.
        {WaveBuilder("RF64").chunk("ds64", ds64_body(first.size(), 2, 2)).chunk("fmt ", kStereo16)
             .chunk_with_size("data", 0xFFFFFFFFu, first).chunk("LIST", Bytes{9, 9}).bytes(), one, one},
        {WaveBuilder().chunk("ds64", ds64_body(2)).chunk("fmt ", kStereo16).chunk("data", first).bytes(), one, one},
    };
    TempDirectory dir;
    const std::string path = dir.file("case.wav");
    for (const auto& c : cases) {
        write_file_bytes(path, c.file);
        std::vector<float> streamed;
        error_of([&] { streamed = read_streaming(path, 1); });
        EXPECT_EQ(read_wave_file(path).samples, c.whole) << &c - cases;
        EXPECT_EQ(streamed, c.streamed) << &c - cases;
    }
    // A later `fmt ` overrides an earlier one.
    WaveBuilder().chunk("fmt ", fmt_body(1, 1, 8000, 16)).chunk("data", first).chunk("fmt ", fmt_body(1, 2, 96000, 16)).write(path);
    EXPECT_EQ(read_wave_file(path).sample_rate, 96000u);
}

}  // namespace
}  // namespace oskavi::test
