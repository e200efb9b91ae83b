#include "app/progress_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "platform/steady_clock.h"

namespace oskavi {
namespace {

constexpr uint64_t kRedrawIntervalNs = 250'000'000;
constexpr int kBarCells = 28;
constexpr size_t kLabelWidth = 15;

std::string two_digits(uint64_t value) {
    return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

}  // namespace

std::string format_duration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) return "--:--:--";
    const auto n = static_cast<uint64_t>(seconds + 0.5);
    return two_digits(n / 3600) + ":" + two_digits((n % 3600) / 60) + ":" + two_digits(n % 60);
}

ProgressMeter::ProgressMeter(std::ostream& out, bool disabled, std::function<uint64_t()> now_ns)
    : out_(out), now_ns_(now_ns ? std::move(now_ns) : std::function<uint64_t()>(steady_clock_ns)), disabled_(disabled) {}

void ProgressMeter::close_line() {
    if (!line_open_) return;
    out_ << '\n';
    out_.flush();
    line_open_ = false;
}

void ProgressMeter::update(const std::optional<std::string>& label, uint64_t done, uint64_t total) {
    if (disabled_ || total == 0) return;
    const uint64_t now = now_ns_();
    const std::string& name = label ? *label : std::string("Encoding");
    if (name != label_) {
        close_line();
        label_ = name;
        start_ns_ = now;
        last_draw_ns_ = 0;
        finished_ = false;
    }
    const bool final_draw = done >= total;
    if (final_draw) {
        if (finished_) return;
    } else if (last_draw_ns_ != 0 && (now < last_draw_ns_ || now - last_draw_ns_ < kRedrawIntervalNs)) {
        return;
    }
    last_draw_ns_ = now;
    const double fraction = std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
    draw(fraction, now, final_draw);
}

void ProgressMeter::draw(double fraction, uint64_t now, bool final_draw) {
    const double elapsed = static_cast<double>(now - start_ns_) / 1e9;
    const double eta = fraction > 1e-6 ? (1.0 - fraction) * elapsed / fraction : 0.0;
    const int filled = static_cast<int>(fraction * kBarCells + 0.5);
    std::string label = label_;
    if (label.size() < kLabelWidth) label.append(kLabelWidth - label.size(), ' ');
    char percent[16];
    std::snprintf(percent, sizeof percent, "%5.1f", fraction * 100.0);
    std::ostringstream line;
    line << '\r' << label << " [" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kBarCells - filled), '-') << "] " << percent << "%  elapsed "
         << format_duration(elapsed) << "  ETA " << (final_draw ? std::string("00:00:00") : format_duration(eta));
    out_ << line.str();
    out_.flush();
    line_open_ = true;
    if (final_draw) {
        finished_ = true;
        close_line();
    }
}

}  // namespace oskavi
