#include "cli/readings.h"

#include <algorithm>
#include <thread>

#include "cli/session.h"
#include "cli/host.h"
#include "ops/entry.h"

namespace varnok::cli {

namespace {

// Waits until `due` unless Ctrl-C comes first; false then.
bool wait_until(std::chrono::steady_clock::time_point due)
{
    while (!interrupted()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due)
            return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(due - now, std::chrono::milliseconds(20)));
    }
    return false;
}

}  // namespace

Value reading_row(const Reading& r)
{
    Value row = Value::object();
    row.set("time", Value::string(iso_time(r.when)));
    row.set("address", Value::number(r.device.address));
    for (int k = 1; k <= kChannels; ++k) {
        const PollResult::Channel& c = r.result.ch[size_t(k)];
        const TParChannel& ch = r.device.dev.Ch(size_t(k));
        row.set("value" + std::to_string(k), c.measured ? Value::reading(ch.Urms_te) : Value());
        row.set("percent" + std::to_string(k), c.percent ? Value::reading(c.Urms_proc) : Value());
    }
    row.set("frequency", r.result.freq ? Value::reading(r.device.dev.freq().as_float()) : Value());
    return row;
}

Value reading_message(const Reading& r)
{
    const Device& dev = r.device.dev;
    Value m = Value::object();
    m.set("time", Value::string(iso_time(r.when)));
    m.set("address", Value::number(r.device.address));
    m.set("poll", Value::number(r.poll));
    for (int k = 1; k <= kChannels; ++k) {
        const PollResult::Channel& c = r.result.ch[size_t(k)];
        const std::string n = std::to_string(k);
        const uint8_t unit = dev.parScl(size_t(k)).Measure;
        m.set("value" + n, c.measured ? Value::reading(dev.Ch(size_t(k)).Urms_te) : Value());
        m.set("unit" + n, r.device.scaled ? Value::string(unit_name(unit)) : Value());
        m.set("unit" + n + "_si", r.device.scaled ? Value::string(unit_symbol(unit)) : Value());
        m.set("percent" + n, c.percent ? Value::reading(c.Urms_proc) : Value());
    }
    m.set("frequency", r.result.freq ? Value::reading(dev.freq().as_float()) : Value());
    if (r.error) {
        Value& e = m.set("error", Value::object());
        e.set("code", r.error->code ? Value::number(*r.error->code) : Value());
        e.set("text", Value::string(r.error->text));
    } else {
        m.set("error", Value());
    }
    return m;
}

DevicePoll::DevicePoll(Session& s, const std::vector<uint8_t>& addresses) : s_(s)
{
    for (uint8_t a : addresses)
        devices_.push_back(std::make_unique<PolledDevice>(s.link, s.notices, a));
}

void DevicePoll::read_missing_names(PolledDevice& d)
{
    Polling polling(d.dev, s_.report);
    if (!d.name && polling.read_name())
        d.name = d.dev.tmp_text();
    if (!d.version && polling.read_version())
        d.version = d.dev.tmp_text();
}

void DevicePoll::read_names()
{
    names_ = true;
    for (size_t i = 0; i < devices_.size() && !interrupted(); ++i) {
        PolledDevice& d = *devices_[i];
        s_.address(d.address);
        read_missing_names(d);
    }
}

bool DevicePoll::run(long count, std::chrono::milliseconds every, const std::vector<ReadingsOutput*>& outputs)
{
    bool any_failed = false;
    delivered_ = false;
    auto due = std::chrono::steady_clock::now();
    for (long n = 0; (count == 0 || n < count) && !interrupted(); ++n) {
        if (n > 0 && !wait_until(due))
            break;
        due += every;
        for (size_t i = 0; i < devices_.size() && !interrupted(); ++i) {
            PolledDevice& d = *devices_[i];
            s_.address(d.address);
            Polling polling(d.dev, s_.report);
            const auto when = std::chrono::system_clock::now();
            const unsigned long errors_before = s_.report.lines();
            // The first poll of a device reads its scales too, for the percentages.
            const bool full = !d.settled;
            const PollResult poll = polling.zapros_par(full);
            // A poll Ctrl-C cut short is no reading: the outputs get whole readings or none.
            if (interrupted())
                return !any_failed && delivered_;
            bool scales = true, setpoints = true, answered = poll.freq;
            for (int k = 1; k <= kChannels; ++k) {
                scales &= poll.ch[size_t(k)].scale;
                setpoints &= poll.ch[size_t(k)].setpoints;
                answered |= poll.ch[size_t(k)].measured || poll.ch[size_t(k)].scale;
            }
            d.scaled = d.scaled || scales;
            d.settled = d.settled || (full && scales && setpoints);
            std::optional<Reading::Failure> error;
            if (s_.report.lines() != errors_before)
                error =
                    Reading::Failure{s_.report.last_code() >= 0 ? std::optional(s_.report.last_code()) : std::nullopt,
                                     s_.report.last_reason()};
            const Reading r{d, i, when, n + 1, full, poll, answered, error};
            // A device silent at the start gives its name once it is back; this poll's error
            // stays the poll's own.
            if (names_ && answered && (!d.name || !d.version))
                read_missing_names(d);
            for (int k = 1; k <= kChannels; ++k)
                any_failed |= !poll.ch[size_t(k)].measured;
            any_failed |= !poll.freq;
            // Without the scales and setpoints the percentages are not there: the poll failed.
            any_failed |= full && !(scales && setpoints);
            for (ReadingsOutput* out : outputs)
                out->reading(r);
            delivered_ = true;
            // No more readings that nothing would keep.
            for (const ReadingsOutput* out : outputs)
                if (out->failed())
                    return false;
        }
    }
    // Ctrl-C before any reading: nothing was read.
    return !any_failed && (delivered_ || !interrupted());
}

}  // namespace varnok::cli
