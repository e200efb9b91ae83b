#include "app/progress_meter.h"

#include <gtest/gtest.h>

#include <sstream>

namespace oskavi {
namespace {

// A meter on a string stream whose clock the test advances by hand.
struct MeterHarness {
    std::ostringstream out;
    uint64_t now = 1'000'000'000;
    ProgressMeter meter{out, false, [this] { return now; }};
    void advance_ms(uint64_t ms) { now += ms * 1'000'000; }
};

TEST(ProgressMeter, DrawsTheLineAndThrottlesRedraws) {
    MeterHarness h;
    h.meter.update(std::nullopt, 0, 100);
    h.advance_ms(10'000);
    h.meter.update(std::nullopt, 50, 100);  // 10 s later: redrawn
    const std::string after_half = h.out.str();
    h.advance_ms(100);
    h.meter.update(std::nullopt, 51, 100);  // within 250 ms: not redrawn
    EXPECT_EQ(h.out.str(), after_half);
    EXPECT_TRUE(after_half.ends_with(
        "\rEncoding        [##############--------------]  50.0%  elapsed 00:00:10  ETA 00:00:10"))
        << after_half;
    EXPECT_TRUE(h.meter.line_open());
}

TEST(ProgressMeter, NewStageEndsAnOpenLineAndTheLastDrawEndsItsOwn) {
    MeterHarness h;
    h.meter.update(std::string("Matrix analysis"), 1, 4);
    h.meter.update(std::string("Preprocessing"), 7, 7);
    h.meter.update(std::string("Preprocessing"), 9, 7);  // already finished: nothing
    EXPECT_TRUE(h.out.str().starts_with("\rMatrix analysis ["));
    EXPECT_TRUE(h.out.str().ends_with(
        "\n\rPreprocessing   [############################] 100.0%  elapsed 00:00:00  ETA 00:00:00\n"));
    EXPECT_FALSE(h.meter.line_open());

    // Nothing at all when disabled or when there is nothing to do.
    std::ostringstream out;
    ProgressMeter disabled(out, true, [] { return uint64_t{5}; });
    disabled.update(std::nullopt, 1, 2);
    MeterHarness empty;
    empty.meter.update(std::nullopt, 0, 0);
    EXPECT_EQ(out.str() + empty.out.str(), "");
}

TEST(ProgressMeter, DurationFormat) {
    EXPECT_EQ(format_duration(3599.5), "01:00:00");
    EXPECT_EQ(format_duration(360000.0), "100:00:00");
    EXPECT_EQ(format_duration(-1.0), "--:--:--");
    EXPECT_EQ(format_duration(1.0 / 0.0), "--:--:--");
}

}  // namespace
}  // namespace oskavi
