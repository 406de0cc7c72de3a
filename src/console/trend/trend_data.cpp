#include "console/trend/trend_data.h"

#include <QDateTime>
#include <algorithm>

namespace varnok {

void TrendData::add(int64_t ms, const std::array<double, 3>& value, const std::array<double, 3>& percent)
{
    samples_.push_back({ms, value, percent});
    while (!samples_.empty() && samples_.front().ms < ms - kKeepMs)
        samples_.pop_front();
}

std::vector<TrendSample> TrendData::window(int64_t end_ms, int minutes) const
{
    const int64_t start = end_ms - int64_t(minutes) * 60 * 1000;
    std::vector<TrendSample> out;
    for (const TrendSample& s : samples_)
        if (s.ms >= start && s.ms <= end_ms)
            out.push_back(s);
    return out;
}

QString TrendData::csv(int64_t end_ms, int minutes) const
{
    QString out = QStringLiteral("время,1 канал,2 канал,3 канал\n");
    for (const TrendSample& s : window(end_ms, minutes)) {
        out += QDateTime::fromMSecsSinceEpoch(s.ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        for (const double v : s.value) {
            out += QLatin1Char(',');
            // Nine significant digits give back the single-precision value read exactly.
            if (!std::isnan(v))
                out += QString::number(v, 'g', 9);
        }
        out += QLatin1Char('\n');
    }
    return out;
}

namespace {

// 1, 2 or 5 times a power of ten: the next one up from x, or the nearest one.
double nice_number(double x, bool up)
{
    const double p = std::pow(10.0, std::floor(std::log10(x)));
    const double q = x / p;
    if (up)
        return (q <= 1 ? 1 : q <= 2 ? 2 : q <= 5 ? 5 : 10) * p;
    return (q < 1.5 ? 1 : q < 3 ? 2 : q < 7 ? 5 : 10) * p;
}

}  // namespace

AxisRange axis_range(double lo, double hi, bool margin)
{
    if (!(lo <= hi)) {
        lo = 0;
        hi = 1;
    }
    if (margin) {
        double m = std::max((hi - lo) * 0.05, std::max(std::abs(lo), std::abs(hi)) * 0.02);
        if (m == 0)
            m = 0.5;
        lo -= m;
        hi += m;
    }
    if (hi == lo) {
        lo -= 0.5;
        hi += 0.5;
    }
    const double step = nice_number(nice_number(hi - lo, true) / 4, false);
    return {std::floor(lo / step) * step, std::ceil(hi / step) * step, step};
}

}  // namespace varnok
