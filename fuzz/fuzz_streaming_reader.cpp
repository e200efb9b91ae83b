// The block-wise WAVE/RF64 reader on arbitrary bytes, with a block size taken
// from the first input bytes: it either opens and delivers exactly its total
// frames in finite samples, or throws.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#include "fuzz/fuzz_input_file.h"
#include "input/streaming_wave_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint64_t block_frames = 1 + ((uint64_t{data[0]} << 8 | data[1]) % 5000);
    const oskavi::fuzz::FuzzInputFile file(data + 2, size - 2);
    uint64_t delivered = 0;
    oskavi::StreamingWaveReader reader;
    try {
        reader.open(file.path());
        std::vector<float> block;
        while (reader.read_frames(block_frames, block)) {
            if (block.empty() || block.size() % reader.channels() != 0) std::abort();
            if (block.size() / reader.channels() > block_frames) std::abort();
            delivered += block.size() / reader.channels();
            for (const float s : block) {
                if (!(s >= -1.0f && s <= 1.0f)) std::abort();
            }
        }
        if (delivered != reader.total_frames()) std::abort();
    } catch (const std::exception&) {
        // Every refusal is a runtime error with a message; nothing else.
    }
    return 0;
}
