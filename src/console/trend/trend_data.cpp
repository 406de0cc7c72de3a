#include "console/trend/trend_data.h"

#include <QDateTime>

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

}  // namespace varnok
