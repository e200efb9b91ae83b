// Reading WAVE input: the whole-file reader against the 4096-frame streaming
// reader on a 10-minute 48 kHz stereo 24-bit file, and the streaming reader's
// peak memory on a 1 GiB file (run that one alone to read its RSS counter:
// --benchmark_filter=StreamingPeakMemory).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "input/streaming_wave_reader.h"
#include "input/wave_reader.h"
#include "platform/process_memory.h"

namespace {

void put_le(std::vector<char>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// Writes a 24-bit stereo 48 kHz WAVE file of `frames` frames filled with a
// cheap deterministic pattern, in 1 MiB pieces.
void write_wave(const std::string& path, uint64_t frames) {
    const uint64_t data_bytes = frames * 6;
    std::vector<char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    put_le(header, 36 + data_bytes, 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_le(header, 16, 4);
    put_le(header, 1, 2);
    put_le(header, 2, 2);
    put_le(header, 48000, 4);
    put_le(header, 48000 * 6, 4);
    put_le(header, 6, 2);
    put_le(header, 24, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    put_le(header, data_bytes, 4);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    std::vector<char> piece(1 << 20);
    uint32_t state = 12345;
    for (uint64_t written = 0; written < data_bytes; written += piece.size()) {
        for (char& c : piece) {
            state = state * 1664525u + 1013904223u;
            c = static_cast<char>(state >> 24);
        }
        const uint64_t n = std::min<uint64_t>(piece.size(), data_bytes - written);
        out.write(piece.data(), static_cast<std::streamsize>(n));
    }
}

// Created on first use and removed when the benchmark process exits.
struct GeneratedFile {
    std::string path;
    GeneratedFile(std::string p, uint64_t frames) : path(std::move(p)) { write_wave(path, frames); }
    ~GeneratedFile() { std::remove(path.c_str()); }
};

const std::string& ten_minute_file() {
    static const GeneratedFile file("/tmp/oskavi_read_bench_10min.wav", 48000ull * 600);
    return file.path;
}

void BM_ReadWaveWhole(benchmark::State& state) {
    const std::string& path = ten_minute_file();
    for (auto _ : state) {
        oskavi::PcmBuffer pcm = oskavi::read_wave_file(path);
        benchmark::DoNotOptimize(pcm.samples.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 48000 * 600 * 6);
}
BENCHMARK(BM_ReadWaveWhole)->Unit(benchmark::kMillisecond);

void BM_StreamWave4096(benchmark::State& state) {
    const std::string& path = ten_minute_file();
    std::vector<float> block;
    for (auto _ : state) {
        oskavi::StreamingWaveReader reader;
        reader.open(path);
        while (reader.read_frames(4096, block)) {
            benchmark::DoNotOptimize(block.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 48000 * 600 * 6);
}
BENCHMARK(BM_StreamWave4096)->Unit(benchmark::kMillisecond);

void BM_StreamingPeakMemory(benchmark::State& state) {
    const std::string path = "/tmp/oskavi_read_bench_1gib.wav";
    write_wave(path, (uint64_t{1} << 30) / 6);
    const uint64_t before = oskavi::peak_resident_bytes();
    std::vector<float> block;
    uint64_t frames = 0;
    for (auto _ : state) {
        oskavi::StreamingWaveReader reader;
        reader.open(path);
        while (reader.read_frames(4096, block)) {
            frames += block.size() / 2;
        }
    }
    std::remove(path.c_str());
    state.counters["frames"] = static_cast<double>(frames);
    state.counters["peak_rss_MiB_before"] = static_cast<double>(before) / (1 << 20);
    state.counters["peak_rss_MiB"] = static_cast<double>(oskavi::peak_resident_bytes()) / (1 << 20);
}
BENCHMARK(BM_StreamingPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
