#pragma once
// A single self-overwriting console line for long-running stages: label, a
// 28-cell bar, the percentage, elapsed time and an estimate of what remains.
// Callers may report as often as they like; the meter redraws at most every
// 250 ms, always draws a stage's first call and its final (100 %) state.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace oskavi {

class ProgressMeter {
public:
    // `now_ns` reads a steady clock in nanoseconds (the platform clock by default).
    ProgressMeter(std::ostream& out, bool disabled, std::function<uint64_t()> now_ns = {});

    // label: the stage name, or none for the whole-file encoder ("Encoding").
    void update(const std::optional<std::string>& label, uint64_t done, uint64_t total);

    // The driver ends an open line with a newline when a route returns.
    bool line_open() const { return line_open_; }
    void close_line();

private:
    void draw(double fraction, uint64_t now, bool final_draw);

    std::ostream& out_;
    std::function<uint64_t()> now_ns_;
    bool disabled_;
    bool line_open_ = false;
    bool finished_ = false;
    std::string label_;
    uint64_t start_ns_ = 0;
    uint64_t last_draw_ns_ = 0;
};

// hh:mm:ss rounded to whole seconds; "--:--:--" for a negative or non-finite value.
std::string format_duration(double seconds);

}  // namespace oskavi
