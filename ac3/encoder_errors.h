#pragma once
// The encoder failures that a caller acts on, told apart by type.

#include <stdexcept>

namespace oskavi {

// A frame packed at some csnroffst needs more bits than its bit rate's frame
// size holds; the SNR search reads it as "does not fit".
class FrameSizeOverflow : public std::runtime_error {
public:
    FrameSizeOverflow() : std::runtime_error("mantissa payload exceeds selected AC-3 frame size") {}
};

// A frame that does not fit even at csnroffst 0; the frame stages recover
// once by planning the frame again without exponent adaptation.
class FrameUnfittable : public std::runtime_error {
public:
    FrameUnfittable() : std::runtime_error("unable to fit AC-3 frame even at zero SNR allocation") {}
};

}  // namespace oskavi
