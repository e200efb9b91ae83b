#pragma once
// Stopping an encode on SIGINT or SIGTERM. The work loops report progress
// once per frame or block; that report is where a pending interrupt ends the
// run, so the output stops on a whole frame.

#include <stdexcept>

namespace oskavi {

class Interrupted : public std::runtime_error {
public:
    Interrupted() : std::runtime_error("Interrupted") {}
};

// Throws Interrupted once an interrupt has arrived.
void throw_if_interrupted();

}  // namespace oskavi
