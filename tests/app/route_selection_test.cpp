// Order of the route tests, and that an eligibility test (which opens the
// input) is only asked when its route is still possible.

#include <gtest/gtest.h>

#include "app/driver.h"

namespace oskavi {
namespace {

struct Probes {
    bool matrix_answer = true;
    bool preprocess_answer = true;
    int matrix_calls = 0;
    int preprocess_calls = 0;

    EncodeRoute select(const CommandLine& cl) {
        return select_route(
            cl, [&] { return ++matrix_calls, matrix_answer; }, [&] { return ++preprocess_calls, preprocess_answer; });
    }
};

TEST(RouteSelection, StreamingIsRuledOutWithoutAskingTheInput) {
    for (int flag = 0; flag < 3; ++flag) {
        for (bool matrix : {false, true}) {
            CommandLine cl;
            cl.matrix_decode_enabled = matrix;
            cl.no_streaming = flag == 0;
            cl.preflight = flag == 1;
            cl.spectral_analysis = flag == 2;
            Probes probes;
            EXPECT_EQ(probes.select(cl), EncodeRoute::WholeFile);
            EXPECT_EQ(probes.matrix_calls + probes.preprocess_calls, 0);
        }
    }
}

TEST(RouteSelection, MatrixDecodeAsksOnlyTheMatrixTest) {
    CommandLine cl;
    cl.matrix_decode_enabled = true;
    Probes yes;
    EXPECT_EQ(yes.select(cl), EncodeRoute::StreamingMatrix);
    Probes no;
    no.matrix_answer = false;
    EXPECT_EQ(no.select(cl), EncodeRoute::WholeFile);
    EXPECT_EQ(no.matrix_calls, 1);
    EXPECT_EQ(no.preprocess_calls, 0);
}

TEST(RouteSelection, PlainEncodeAsksOnlyThePreprocessTest) {
    CommandLine cl;
    Probes yes;
    EXPECT_EQ(yes.select(cl), EncodeRoute::StreamingPreprocess);
    Probes no;
    no.preprocess_answer = false;
    EXPECT_EQ(no.select(cl), EncodeRoute::WholeFile);
    EXPECT_EQ(no.matrix_calls, 0);
    EXPECT_EQ(no.preprocess_calls, 1);
}

}  // namespace
}  // namespace oskavi
