#include "record/drift.h"

#include <cmath>
#include <map>

namespace varnok::record {

namespace {

// Points are matched by their percent, to a millionth of a percent.
long long point_key(double percent) { return std::llround(percent * 1e6); }

const ChannelCheck* channel_of(const CheckRun& run, int k)
{
    for (const ChannelCheck& c : run.channels)
        if (c.channel == k)
            return &c;
    return nullptr;
}

std::optional<double> mean_of(const CheckPoint& p) { return p.measured() ? std::optional<double>(p.mean) : std::nullopt; }

ChannelDrift channel_drift(int k, const ChannelCheck* left, const ChannelCheck* found)
{
    ChannelDrift d;
    d.channel = k;
    d.in_before = left != nullptr;
    d.in_now = found != nullptr;
    const ChannelCheck* scale = found && found->full_scale != 0 && std::isfinite(found->full_scale) ? found : left;
    if (scale) {
        d.full_scale = scale->full_scale;
        d.unit = scale->unit;
    }
    std::map<long long, PointDrift> points;
    if (left)
        for (const CheckPoint& p : left->points) {
            PointDrift& pd = points[point_key(p.percent)];
            pd.percent = p.percent;
            pd.in_before = true;
            pd.before = mean_of(p);
        }
    if (found)
        for (const CheckPoint& p : found->points) {
            PointDrift& pd = points[point_key(p.percent)];
            pd.percent = p.percent;
            pd.in_now = true;
            pd.now = mean_of(p);
        }
    for (auto& [key, pd] : points) {
        if (pd.before && pd.now) {
            pd.difference = *pd.now - *pd.before;
            if (d.full_scale != 0 && std::isfinite(d.full_scale))
                pd.of_span = *pd.difference / d.full_scale * 100.0;
        }
        d.points.push_back(pd);
    }
    return d;
}

}  // namespace

std::vector<ChannelDrift> drift(const CheckRun& left, const CheckRun& found)
{
    std::map<int, bool> channels;
    for (const ChannelCheck& c : left.channels)
        channels[c.channel] = true;
    for (const ChannelCheck& c : found.channels)
        channels[c.channel] = true;
    std::vector<ChannelDrift> out;
    for (const auto& [k, any] : channels)
        out.push_back(channel_drift(k, channel_of(left, k), channel_of(found, k)));
    return out;
}

bool same_unit(const Unit& unit, const Unit& of_record)
{
    if (!unit.factory_number.empty())
        return of_record.factory_number == unit.factory_number;
    return of_record.network_number == unit.network_number && of_record.line == unit.line;
}

HistoryQuery unit_query(const Unit& unit)
{
    HistoryQuery q;
    if (!unit.factory_number.empty())
        q.factory_number = unit.factory_number;
    else
        q.network_number = unit.network_number;
    return q;
}

std::optional<UnitDrift> unit_drift(const std::vector<HistoryRecord>& records, const Unit& unit, std::string& why)
{
    UnitDrift d;
    bool have_now = false;
    for (const HistoryRecord& r : records) {
        if (r.kind != kKindCheck || r.document.empty() || !same_unit(unit, r.unit))
            continue;
        StoredRecord s{r.id, r.time, r.protocol_number, {}};
        try {
            s.check = read_check_document(r.document, "протокол " + r.protocol_number);
        } catch (const DocumentError&) {
            continue;
        }
        if (!have_now) {
            if (s.check.run.kind == CheckKind::AsFound || s.check.found) {
                d.now = std::move(s);
                have_now = true;
            }
        } else if (s.check.run.kind == CheckKind::AsLeft) {
            d.before = std::move(s);
            const CheckRun& found = d.now.check.run.kind == CheckKind::AsFound ? d.now.check.run : *d.now.check.found;
            d.channels = drift(d.before.check.run, found);
            why.clear();
            return d;
        }
    }
    why = have_now ? "нет прошлой проверки после калибровки: дрейф не с чем сравнить"
                   : "нет проверки до калибровки: дрейф не с чем сравнить";
    return std::nullopt;
}

}  // namespace varnok::record
