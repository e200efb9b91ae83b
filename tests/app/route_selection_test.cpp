// Order of the route tests, and that an eligibility test (which opens the
// input) is only asked when its route is still possible.

#include <gtest/gtest.h>

#include "app/driver.h"

namespace oskavi {
namespace {

TEST(RouteSelection, EachEligibilityTestIsAskedOnlyWhenItsRouteIsPossible) {
    struct Case {
        bool no_streaming, preflight, spectral, matrix, answer;
        EncodeRoute route;
        int matrix_calls, preprocess_calls;
    };
    const Case cases[] = {
        {true, false, false, true, true, EncodeRoute::WholeFile, 0, 0},
        {false, true, false, false, true, EncodeRoute::WholeFile, 0, 0},
        {false, false, true, true, true, EncodeRoute::WholeFile, 0, 0},
        {false, false, false, true, true, EncodeRoute::StreamingMatrix, 1, 0},
        {false, false, false, true, false, EncodeRoute::WholeFile, 1, 0},
        {false, false, false, false, true, EncodeRoute::StreamingPreprocess, 0, 1},
        {false, false, false, false, false, EncodeRoute::WholeFile, 0, 1},
    };
    for (const Case& c : cases) {
        CommandLine cl;
        cl.no_streaming = c.no_streaming;
        cl.preflight = c.preflight;
        cl.spectral_analysis = c.spectral;
        cl.matrix_decode_enabled = c.matrix;
        int matrix_calls = 0;
        int preprocess_calls = 0;
        const EncodeRoute route = select_route(
            cl, [&] { return ++matrix_calls, c.answer; }, [&] { return ++preprocess_calls, c.answer; });
        EXPECT_EQ(route, c.route) << &c - cases;
        EXPECT_EQ(matrix_calls, c.matrix_calls) << &c - cases;
        EXPECT_EQ(preprocess_calls, c.preprocess_calls) << &c - cases;
    }
}

}  // namespace
}  // namespace oskavi
