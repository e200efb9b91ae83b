#pragma once
// Program entry: mode dispatch, the encode routes and the single place where
// failures become an "Error: " line and an exit status.

#include <functional>

#include "app/options.h"

namespace oskavi {

// Exit status: 0 success, 1 usage text shown for a wrong argument count,
// 2 any error (after "Error: " + message on standard error).
int run(int argc, char** argv);

enum class EncodeRoute {
    StreamingMatrix,      // --matrix-decode on a streamable stereo WAV/RF64 file
    StreamingPreprocess,  // any other streamable WAV/RF64 file
    WholeFile,            // everything else, and whenever streaming is ruled out
};

// Chooses the route in its fixed order of tests. The eligibility tests open
// the input, so each is asked only when its route is still possible.
EncodeRoute select_route(const CommandLine& cl, const std::function<bool()>& matrix_streamable,
                         const std::function<bool()>& preprocess_streamable);

}  // namespace oskavi
