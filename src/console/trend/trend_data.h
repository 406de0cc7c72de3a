#pragma once
// The measured values of the three channels, and their percentages of the scales, as the
// polls brought them, kept for the longest window the trend shows.

#include <QString>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

namespace varnok {

struct TrendSample {
    int64_t ms = 0;                   // wall-clock time, ms since the epoch
    std::array<double, 3> value{};    // channels 1..3; NaN where that channel's read failed
    std::array<double, 3> percent{};  // the same in percent of the channel's scale; NaN also
                                      // where the scale is 0
};

class TrendData {
public:
    static constexpr int64_t kKeepMs = 60 * 60 * 1000;

    // Appends a sample and forgets those older than kKeepMs before it.
    void add(int64_t ms, const std::array<double, 3>& value, const std::array<double, 3>& percent);
    // The samples of the `minutes` up to `end_ms`, oldest first.
    std::vector<TrendSample> window(int64_t end_ms, int minutes) const;
    // The same as CSV: a header, then the local time to the millisecond and the three values
    // (an empty field for a failed read), comma-separated, with a decimal point.
    QString csv(int64_t end_ms, int minutes) const;

    size_t size() const { return samples_.size(); }

private:
    std::deque<TrendSample> samples_;
};

// A value axis's range: [lo, hi] widened, when asked, by a margin of at least 2 % of the
// values (so that the converter's noise on a steady value is not blown up to fill the plot),
// then out to whole steps of 1, 2 or 5 times a power of ten, about four steps in all; 0..1
// when there is no value (lo > hi).
struct AxisRange {
    double lo, hi, step;
};
AxisRange axis_range(double lo, double hi, bool margin);

}  // namespace varnok
