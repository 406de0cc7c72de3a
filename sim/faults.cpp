#include "sim/faults.h"

namespace varnok::sim {

const std::array<FaultInfo, 11> kFaultKinds = {{
    {FaultKind::Silence, "silence", nullptr, 0, 0, 0, "no answer; the request is not acted on"},
    {FaultKind::Noise, "noise", "COUNT", 2, 1, 64, "COUNT noise bytes (never the device address) before the answer"},
    {FaultKind::BadCrc, "crc", nullptr, 0, 0, 0, "the answer's CRC is wrong"},
    {FaultKind::WrongAddress, "address", nullptr, 0, 0, 0, "the answer carries another device address (CRC right)"},
    {FaultKind::WrongFunction, "function", nullptr, 0, 0, 0, "the answer carries another function code (CRC right)"},
    {FaultKind::Exception, "exception", "CODE", 4, 1, 255,
     "exception CODE instead of the answer; the request is not acted on"},
    {FaultKind::Busy, "busy", "MS", 100, 0, 10000, "exception 5 (busy), then MS later the real answer, unasked"},
    {FaultKind::Truncate, "truncate", "K", 3, 0, 255, "only the first K bytes of the answer"},
    {FaultKind::Slow, "slow", "MS", 100, 0, 10000, "the answer starts MS later than usual"},
    {FaultKind::Long, "long", "COUNT", 2, 1, 64, "COUNT stray FF bytes right after the answer"},
    {FaultKind::Count, "count", "DELTA", 2, -255, 255,
     "the byte count of a read answer, or the count a write answer echoes, is off by DELTA (CRC right)"},
}};

const FaultInfo* find_fault(const std::string& name)
{
    for (const auto& f : kFaultKinds)
        if (name == f.name)
            return &f;
    return nullptr;
}

const FaultInfo& fault_info(FaultKind kind)
{
    for (const auto& f : kFaultKinds)
        if (f.kind == kind)
            return f;
    return kFaultKinds[0];
}

Request request_of(std::span<const uint8_t> pdu)
{
    Request r;
    r.function = pdu.empty() ? 0 : pdu[0];
    const bool ranged = r.function == 1 || r.function == 2 || r.function == 3 || r.function == 4 || r.function == 16;
    if (ranged && pdu.size() >= 5) {
        r.has_range = true;
        r.start = uint16_t(pdu[1] << 8 | pdu[2]);
        r.count = uint16_t(pdu[3] << 8 | pdu[4]);
    }
    return r;
}

bool Fault::aims_at(const Request& r) const
{
    if (function && r.function != function)
        return false;
    return address < 0 || (r.has_range && r.start <= address && address < int(r.start) + r.count);
}

void Faults::add(const Fault& f)
{
    std::erase_if(list_, [&f](const Fault& o) { return o.same_aim(f); });
    list_.push_back(f);
}

bool Faults::clear(FaultKind kind)
{
    const auto n = std::erase_if(list_, [kind](const Fault& f) { return f.kind == kind; });
    return n != 0;
}

Mischief Faults::take(const Request& r)
{
    Mischief m;
    for (Fault& f : list_) {
        if (!f.aims_at(r))
            continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        apply(m, f.kind, f.arg);
        if (f.remaining > 0)
            --f.remaining;
    }
    std::erase_if(list_, [](const Fault& f) { return f.remaining == 0; });
    if (random_percent_ > 0 && std::uniform_real_distribution<double>(0, 100)(random_rng_) < random_percent_) {
        const auto kind = FaultKind(std::uniform_int_distribution<int>(0, int(kFaultKinds.size()) - 1)(random_rng_));
        int arg = fault_info(kind).default_arg;
        if (kind == FaultKind::Exception)
            arg = std::uniform_int_distribution<int>(1, 4)(random_rng_);
        else if (kind == FaultKind::Slow)
            arg = std::uniform_int_distribution<int>(0, 500)(random_rng_);
        apply(m, kind, arg);
    }
    count(m);
    return m;
}

void Faults::apply(Mischief& m, FaultKind kind, int arg)
{
    switch (kind) {
    case FaultKind::Silence: m.silence = true; break;
    case FaultKind::Noise: m.noise = arg; break;
    case FaultKind::BadCrc: m.bad_crc = true; break;
    case FaultKind::WrongAddress: m.wrong_address = true; break;
    case FaultKind::WrongFunction: m.wrong_function = true; break;
    case FaultKind::Exception: m.exception = arg; break;
    case FaultKind::Busy: m.busy_ms = arg; break;
    case FaultKind::Truncate: m.truncate = arg; break;
    case FaultKind::Slow: m.slow_ms = arg; break;
    case FaultKind::Long: m.extra = arg; break;
    case FaultKind::Count: m.count_delta = arg; break;
    }
}

void Faults::count(const Mischief& m)
{
    const bool spoilt[] = {m.silence,        m.noise > 0,      m.bad_crc,         m.wrong_address,
                           m.wrong_function, m.exception != 0, m.busy_ms >= 0,    m.truncate >= 0,
                           m.slow_ms > 0,    m.extra > 0,      m.count_delta != 0};
    for (size_t k = 0; k < injected_.size(); ++k)
        injected_[k] += spoilt[k] ? 1 : 0;
}

void Faults::set_random(double percent, uint32_t seed)
{
    random_percent_ = percent;
    random_rng_.seed(seed);
}

}  // namespace varnok::sim
