// The AC-3 header parser and the "--verify" walk on arbitrary bytes. The
// parser never throws; the walk either reports or throws a message.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <span>
#include <sstream>

#include "bitstream/frame_header.h"
#include "bitstream/verify.h"
#include "fuzz/fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const oskavi::Ac3FrameHeader h = oskavi::parse_frame_header(std::span<const uint8_t>(data, size));
    if (h.valid != h.error.empty()) std::abort();
    if (h.valid && (h.frame_bytes < 128 || h.frame_bytes > 3840 || h.sample_rate != 48000)) std::abort();

    const oskavi::fuzz::FuzzInputFile file(data, size);
    std::ostringstream report;
    try {
        if (oskavi::verify_ac3_file(file.path(), report) != 0) std::abort();
        if (report.str().empty()) std::abort();
    } catch (const std::exception&) {
        if (!report.str().empty()) std::abort();  // nothing is printed for a failed walk
    }
    return 0;
}
