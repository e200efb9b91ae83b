#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "input/streaming_wave_reader.h"
#include "input/wave_reader.h"
#include "tests/input/input_test_files.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {
namespace {

const Bytes kStereo16 = fmt_body(1, 2, 48000, 16);

std::vector<float> stream_all(const std::string& path, uint64_t block_frames) {
    StreamingWaveReader reader;
    reader.open(path);
    std::vector<float> all;
    std::vector<float> block;
    while (reader.read_frames(block_frames, block)) {
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

TEST(WaveReaderLayout, ClassifiesByCountAndMask) {
    EXPECT_EQ(classify_layout(1, 0x4), ChannelLayout::Mono);
    EXPECT_EQ(classify_layout(2, 0x123), ChannelLayout::Stereo);
    EXPECT_EQ(classify_layout(6, 0x3F), ChannelLayout::Surround51);
    EXPECT_EQ(classify_layout(6, 0x60F), ChannelLayout::Surround51);
    EXPECT_EQ(classify_layout(6, 0), ChannelLayout::Surround51);
    EXPECT_EQ(classify_layout(6, 0x63F), ChannelLayout::Unknown);
    EXPECT_EQ(classify_layout(8, 0x63F), ChannelLayout::Surround71);
    EXPECT_EQ(classify_layout(8, 0), ChannelLayout::Surround71);
    EXPECT_EQ(classify_layout(8, 0x3F), ChannelLayout::Unknown);
    for (uint32_t channels : {0u, 3u, 4u, 5u, 7u, 9u}) {
        EXPECT_EQ(classify_layout(channels, 0), ChannelLayout::Unknown) << channels;
    }
    EXPECT_EQ(layout_display_name(ChannelLayout::Unknown), "unknown");
    EXPECT_EQ(layout_display_name(ChannelLayout::Mono), "mono");
    EXPECT_EQ(layout_display_name(ChannelLayout::Stereo), "stereo");
    EXPECT_EQ(layout_display_name(ChannelLayout::Surround51), "5.1");
    EXPECT_EQ(layout_display_name(ChannelLayout::Surround71), "7.1");
    EXPECT_EQ(layout_display_name(static_cast<ChannelLayout>(9)), "unknown");
}

TEST(WaveReaderLayout, PlainAndExtensibleFilesGetTheirLayout) {
    TempDir dir;
    struct Case {
        Bytes fmt;
        ChannelLayout layout;
    };
    const std::vector<Case> cases = {
        {fmt_body(1, 6, 48000, 16), ChannelLayout::Surround51},
        {fmt_body(1, 8, 48000, 16), ChannelLayout::Surround71},
        {fmt_body(1, 3, 48000, 16), ChannelLayout::Unknown},
        {fmt_body(1, 4, 48000, 16), ChannelLayout::Unknown},
        {fmt_body(1, 5, 48000, 16), ChannelLayout::Unknown},
        {fmt_body(1, 7, 48000, 16), ChannelLayout::Unknown},
        {fmt_extensible_body(6, 48000, 16, 0x60F, 1), ChannelLayout::Surround51},
        {fmt_extensible_body(6, 48000, 16, 0x3F, 1), ChannelLayout::Surround51},
        {fmt_extensible_body(6, 48000, 16, 0x33F, 1), ChannelLayout::Unknown},
        {fmt_extensible_body(8, 48000, 16, 0x63F, 1), ChannelLayout::Surround71},
        {fmt_extensible_body(8, 48000, 16, 0x6FF, 1), ChannelLayout::Unknown},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const uint16_t channels = static_cast<uint16_t>(cases[i].fmt[2]);
        const std::string path = dir.file("layout" + std::to_string(i) + ".wav");
        write_file(path, canonical_wave(cases[i].fmt, Bytes(2u * channels * 3, 0)));
        const PcmBuffer pcm = read_wave_file(path);
        EXPECT_EQ(pcm.layout, cases[i].layout) << i;
        EXPECT_EQ(pcm.channels, channels) << i;
        EXPECT_EQ(pcm.frame_count(), 3u) << i;
        StreamingWaveReader reader;
        reader.open(path);
        EXPECT_EQ(reader.layout(), cases[i].layout) << i;
    }
}

TEST(WaveReaderSamples, IntegerAndFloatScaling) {
    TempDir dir;
    const std::vector<int16_t> s16 = {-32768, 32767, 0, 1};
    const std::vector<int32_t> s24 = {-8388608, 8388607, -1, 1};
    const std::vector<int32_t> s32 = {INT32_MIN, INT32_MAX, -1, 1 << 20};
    const std::vector<float> f32 = {1.5f, -2.0f, 0.25f, -1.0f};
    struct Case {
        Bytes file;
        std::vector<float> expected;
    };
    const std::vector<Case> cases = {
        {canonical_wave(fmt_body(1, 2, 44100, 16), pcm16_bytes(s16)),
         {-1.0f, 0.999969482421875f, 0.0f, 3.0517578125e-5f}},
        {canonical_wave(fmt_body(1, 2, 44100, 24), pcm24_bytes(s24)),
         {-1.0f, static_cast<float>(8388607.0 / 8388608.0), static_cast<float>(-1.0 / 8388608.0),
          static_cast<float>(1.0 / 8388608.0)}},
        {canonical_wave(fmt_body(1, 2, 44100, 32), pcm32_bytes(s32)),
         {-1.0f, 1.0f, static_cast<float>(-1.0 / 2147483648.0), 1.0f / 2048.0f}},
        {canonical_wave(fmt_body(3, 2, 44100, 32), float32_bytes(f32)), {1.0f, -1.0f, 0.25f, -1.0f}},
        // The sub-format GUID decides: 03 00 is float, 01 00 is PCM, whatever its tail.
        {canonical_wave(fmt_extensible_body(2, 44100, 32, 3, 3), float32_bytes(f32)), {1.0f, -1.0f, 0.25f, -1.0f}},
        {canonical_wave(
             [] {
                 Bytes fmt = fmt_extensible_body(2, 44100, 16, 3, 1);
                 for (size_t i = 26; i < 40; ++i) fmt[i] = static_cast<uint8_t>(0xA5 ^ i);
                 return fmt;
             }(),
             pcm16_bytes(s16)),
         {-1.0f, 0.999969482421875f, 0.0f, 3.0517578125e-5f}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string path = dir.file("scale" + std::to_string(i) + ".wav");
        write_file(path, cases[i].file);
        const PcmBuffer pcm = read_wave_file(path);
        EXPECT_EQ(pcm.sample_rate, 44100u);
        EXPECT_EQ(pcm.samples, cases[i].expected) << i;
        EXPECT_EQ(stream_all(path, 1), cases[i].expected) << i;
    }
}

TEST(WaveReaderChunks, WalkRulesOfTheWholeFileReader) {
    TempDir dir;
    const std::vector<int16_t> first = {100, -100, 200, -200};
    const std::vector<int16_t> second = {7, 8};
    const Bytes odd = {1, 2, 3};
    const std::vector<float> expected = {100 / 32768.0f, -100 / 32768.0f, 200 / 32768.0f, -200 / 32768.0f};

    // An odd chunk before `fmt ` only parses when its pad byte is skipped.
    const std::string padded = WaveBuilder()
                                   .chunk("junk", odd)
                                   .chunk("fmt ", kStereo16)
                                   .chunk("data", pcm16_bytes(first))
                                   .chunk("LIST", odd)
                                   .write(dir.file("padded.wav"));
    EXPECT_EQ(read_wave_file(padded).samples, expected);
    EXPECT_EQ(stream_all(padded, 4096), expected);

    const std::string fmt_last =
        WaveBuilder().chunk("data", pcm16_bytes(first)).chunk("fmt ", kStereo16).write(dir.file("fmt_last.wav"));
    EXPECT_EQ(read_wave_file(fmt_last).samples, expected);
    StreamingWaveReader reader;
    EXPECT_THROW(
        {
            try {
                reader.open(fmt_last);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Incomplete WAVE/RF64 file");
                throw;
            }
        },
        std::runtime_error);

    const std::string two_data = WaveBuilder()
                                     .chunk("fmt ", kStereo16)
                                     .chunk("data", pcm16_bytes(second))
                                     .chunk("data", pcm16_bytes(first))
                                     .write(dir.file("two_data.wav"));
    EXPECT_EQ(read_wave_file(two_data).samples, expected);
    EXPECT_EQ(stream_all(two_data, 4096), (std::vector<float>{7 / 32768.0f, 8 / 32768.0f}));

    // A last chunk announcing more than the file holds ends the walk quietly.
    const std::string long_tail = WaveBuilder()
                                      .chunk("fmt ", kStereo16)
                                      .chunk("data", pcm16_bytes(first))
                                      .chunk_with_size("LIST", 1000, odd)
                                      .write(dir.file("long_tail.wav"));
    EXPECT_EQ(read_wave_file(long_tail).samples, expected);

    // A later `fmt ` overrides an earlier one.
    const std::string two_fmt = WaveBuilder()
                                    .chunk("fmt ", fmt_body(1, 1, 8000, 16))
                                    .chunk("data", pcm16_bytes(first))
                                    .chunk("fmt ", fmt_body(1, 2, 96000, 16))
                                    .write(dir.file("two_fmt.wav"));
    const PcmBuffer pcm = read_wave_file(two_fmt);
    EXPECT_EQ(pcm.sample_rate, 96000u);
    EXPECT_EQ(pcm.channels, 2u);
}

TEST(WaveReaderChunks, Rf64SizesComeFromDs64) {
    TempDir dir;
    const std::vector<int16_t> samples = {1, 2, 3, 4, 5, 6};
    const Bytes data = pcm16_bytes(samples);
    const std::vector<float> expected = {1 / 32768.0f, 2 / 32768.0f, 3 / 32768.0f,
                                         4 / 32768.0f, 5 / 32768.0f, 6 / 32768.0f};
    // The table entries are skipped with the rest of the ds64 chunk.
    const std::string rf64 = WaveBuilder("RF64")
                                 .chunk("ds64", ds64_body(data.size(), 2, 2))
                                 .chunk("fmt ", kStereo16)
                                 .chunk_with_size("data", 0xFFFFFFFFu, data)
                                 .chunk("LIST", Bytes{9, 9})
                                 .write(dir.file("table.rf64"));
    EXPECT_EQ(read_wave_file(rf64).samples, expected);
    EXPECT_EQ(stream_all(rf64, 2), expected);

    // In a plain RIFF file the ds64 size is parsed but not used.
    const std::string riff = WaveBuilder()
                                 .chunk("ds64", ds64_body(4))
                                 .chunk("fmt ", kStereo16)
                                 .chunk("data", data)
                                 .write(dir.file("riff_ds64.wav"));
    EXPECT_EQ(read_wave_file(riff).samples, expected);
}

TEST(StreamingWaveReaderBlocks, DeliversBlocksUntilTheEnd) {
    TempDir dir;
    std::vector<int16_t> samples(5000 * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 7);
    const std::string path = dir.file("blocks.wav");
    write_file(path, canonical_wave(kStereo16, pcm16_bytes(samples)));

    StreamingWaveReader reader;
    reader.open(path);
    EXPECT_EQ(reader.sample_rate(), 48000u);
    EXPECT_EQ(reader.channels(), 2u);
    EXPECT_EQ(reader.layout(), ChannelLayout::Stereo);
    EXPECT_EQ(reader.total_frames(), 5000u);
    std::vector<float> block(17, 1.0f);
    EXPECT_FALSE(reader.read_frames(0, block));
    EXPECT_TRUE(block.empty());
    std::vector<size_t> sizes;
    std::vector<float> all;
    while (reader.read_frames(1792, block)) {
        sizes.push_back(block.size() / 2);
        all.insert(all.end(), block.begin(), block.end());
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{1792, 1792, 1416}));
    EXPECT_TRUE(block.empty());
    EXPECT_EQ(all, read_wave_file(path).samples);

    const std::string empty = dir.file("empty.wav");
    write_file(empty, canonical_wave(kStereo16, {}));
    StreamingWaveReader empty_reader;
    empty_reader.open(empty);
    EXPECT_EQ(empty_reader.total_frames(), 0u);
    EXPECT_FALSE(empty_reader.read_frames(4096, block));
}

TEST(StreamingWaveReaderBlocks, ShortFileFailsOnTheBlockThatReachesItsEnd) {
    TempDir dir;
    std::vector<int16_t> samples(3000 * 2, 5);
    const std::string path = dir.file("short.wav");
    WaveBuilder()
        .chunk("fmt ", kStereo16)
        .chunk_with_size("data", 5000 * 4, pcm16_bytes(samples))
        .write(path);
    StreamingWaveReader reader;
    reader.open(path);
    EXPECT_EQ(reader.total_frames(), 5000u);
    std::vector<float> block;
    EXPECT_TRUE(reader.read_frames(1792, block));
    EXPECT_EQ(block.size(), 1792u * 2);
    try {
        reader.read_frames(1792, block);
        ADD_FAILURE() << "second block should not fit";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Truncated WAVE/RF64 data chunk");
    }
}

}  // namespace
}  // namespace oskavi::test
