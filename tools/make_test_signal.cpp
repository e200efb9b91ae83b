// make_test_signal OUT.wav [seconds] [channels] [rate] [bits] [correlation]
// Writes the deterministic music-like test signal used by the demo and the
// speed comparison.

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "tools/test_signal.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: make_test_signal OUT.wav [seconds] [channels] [rate] [bits] [correlation]\n";
        return 1;
    }
    try {
        oskavi::tools::SignalShape shape;
        if (argc > 2) shape.seconds = std::stod(argv[2]);
        if (argc > 3) shape.channels = static_cast<uint32_t>(std::stoul(argv[3]));
        if (argc > 4) shape.sample_rate = static_cast<uint32_t>(std::stoul(argv[4]));
        const uint32_t bits = argc > 5 ? static_cast<uint32_t>(std::stoul(argv[5])) : 16;
        if (argc > 6) shape.correlation = std::stod(argv[6]);
        const auto samples = oskavi::tools::make_test_signal(shape);
        oskavi::tools::write_wav(argv[1], samples, shape.sample_rate, shape.channels, bits);
    } catch (const std::exception& e) {
        std::cerr << "make_test_signal: " << e.what() << "\n";
        return 2;
    }
    return 0;
}
