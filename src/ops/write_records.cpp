#include "ops/write_records.h"

#include "device/device.h"
#include "ops/entry.h"
#include "ops/interface_params.h"

namespace varnok {

record::HistoryRecord write_record(const record::Unit& unit, const Setting& w, const std::string& old, bool taken)
{
    record::HistoryRecord r;
    r.unit = unit;
    r.kind = record::kKindWrite;
    r.what = w.key() + (taken ? "" : kNotTaken);
    r.old_value = old;
    r.new_value = w.text();
    return r;
}

std::vector<record::HistoryRecord> load_records(const record::Unit& unit, const std::string& path,
                                                const Changes& written, const Configuration::Applied& done)
{
    std::vector<record::HistoryRecord> out;
    for (const auto& [w, from] : written) {
        bool left = false;
        for (const auto& [l, now] : done.left)
            left |= l.key() == w.key();
        record::HistoryRecord r;
        r.unit = unit;
        r.kind = record::kKindProfile;
        r.what = w.key() + " из " + path + (!done.all ? kNotConfirmed : left ? kNotTaken : "");
        r.old_value = from == "?" ? "" : from;
        r.new_value = w.text();
        out.push_back(std::move(r));
    }
    return out;
}

Setting held_setting(const Device& d, Setting::Name name, int k)
{
    Setting s{};
    s.name = name;
    s.channel = k;
    const LinkSettings& ls = d.link().settings();
    const TParSCL& scl = d.parScl(k < 1 ? 1 : k);
    const TParUST& ust = d.parUst(k < 1 ? 1 : k);
    const TParChannel& ch = d.Ch(k < 1 ? 1 : k);
    switch (name) {
    case Setting::kBrightness: s.number = d.light(); break;
    case Setting::kScale:
        s.real = scl.Ustavka.as_float();
        s.entry = entry_of(s.real, scl.DecPosition).value_or(Entry{});
        break;
    case Setting::kUnit: s.number = scl.Measure; break;
    case Setting::kMax: s.real = ust.Max.as_float(); break;
    case Setting::kMin: s.real = ust.Min.as_float(); break;
    case Setting::kZero: s.number = ch.Ref; break;
    case Setting::kCoefficient: s.real = ch.Ncal.as_float(); break;
    case Setting::kPwmLow: s.number = ch.PWML; break;
    case Setting::kPwmHigh: s.number = ch.PWMH; break;
    case Setting::kParity: s.number = ls.parity; break;
    case Setting::kStopbits: s.number = ls.stopbit; break;
    case Setting::kSpeed: s.number = ls.num_scor >= 1 && ls.num_scor <= 6 ? scor[ls.num_scor] : 0; break;
    case Setting::kAddress: s.number = ls.sys_num; break;
    }
    return s;
}

}  // namespace varnok
