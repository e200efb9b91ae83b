// The whole-file WAVE/RF64 reader on arbitrary bytes. Besides not crashing,
// the header-only walk must agree with the full read: the same header when
// the read succeeds, the same message when it fails.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "fuzz/fuzz_input_file.h"
#include "input/wave_reader.h"

namespace {

struct Outcome {
    bool ok = false;
    std::string message;
    oskavi::PcmBuffer pcm;
};

template <typename Read>
Outcome outcome_of(Read&& read) {
    Outcome outcome;
    try {
        outcome.pcm = read();
        outcome.ok = true;
    } catch (const std::exception& e) {
        outcome.message = e.what();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const oskavi::fuzz::FuzzInputFile file(data, size);
    uint64_t nan_samples = 0;
    const Outcome whole = outcome_of([&] { return oskavi::read_wave_file(file.path(), nan_samples); });
    const Outcome header = outcome_of([&] { return oskavi::read_wave_header(file.path()); });
    if (whole.ok != header.ok || whole.message != header.message) std::abort();
    if (whole.ok) {
        const oskavi::PcmBuffer& a = whole.pcm;
        const oskavi::PcmBuffer& b = header.pcm;
        if (a.sample_rate != b.sample_rate || a.channels != b.channels || a.layout != b.layout) std::abort();
        if (a.samples.size() % a.channels != 0 || nan_samples > a.samples.size()) std::abort();
        for (const float s : a.samples) {
            if (!(s >= -1.0f && s <= 1.0f)) std::abort();  // NaN fails both comparisons
        }
    }
    return 0;
}
