// FLAC input through the real libFLAC, loaded at run time as the program
// loads it, on arbitrary bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>

#include "fuzz/fuzz_input_file.h"
#include "input/flac_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const oskavi::fuzz::FuzzInputFile file(data, size);
    try {
        const oskavi::PcmBuffer pcm = oskavi::read_flac_file(file.path());
        if (pcm.channels < 1 || pcm.channels > 8 || pcm.samples.size() % pcm.channels != 0) std::abort();
        for (const float s : pcm.samples) {
            if (!(s >= -1.0f && s < 1.0f)) std::abort();
        }
    } catch (const std::exception&) {
    }
    return 0;
}
