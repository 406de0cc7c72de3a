// `read`: its arguments, its outputs, and the poll of its devices.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "cli/commands.h"
#include "cli/info.h"
#include "cli/publisher.h"
#include "cli/session.h"
#include "ops/polling.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

// What `read` was asked, checked before the port is opened.
struct ReadArgs {
    std::chrono::milliseconds every{1000};
    long count = 1;
    std::optional<std::string> out;
    std::optional<MqttTarget> mqtt;
    uint64_t spool_size = 10ull << 20;
};

ReadArgs parse_read(const Invocation& call)
{
    const CommandArgs args = call.args();
    if (!args.positional().empty())
        throw UsageError("read: лишний аргумент " + args.positional().front());
    ReadArgs r;
    if (const auto every = args.value("--every")) {
        // Seconds, with up to three decimals: 0.5 is half a second.
        const std::string bad = "--every \"" + *every + "\": нужно от 0.1 до 86400 секунд";
        const size_t dot = every->find('.');
        const std::string whole = every->substr(0, dot), frac = dot == std::string::npos ? "" : every->substr(dot + 1);
        if (whole.empty() || whole.size() > 5 || frac.size() > 3 || (dot != std::string::npos && frac.empty()) ||
            whole.find_first_not_of("0123456789") != std::string::npos ||
            frac.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError(bad);
        const long ms = std::stol(whole) * 1000 + (frac.empty() ? 0 : std::stol((frac + "00").substr(0, 3)));
        if (ms < 100 || ms > 86400L * 1000)
            throw UsageError(bad);
        r.every = std::chrono::milliseconds(ms);
    }
    r.count = args.value("--count") ? parse_number(*args.value("--count"), 0, 1L << 30, "--count") : 1;
    r.out = args.value("--out");
    const auto url = args.value("--mqtt");
    if (!url) {
        for (const char* only : {"--cafile", "--password-file", "--spool-size"})
            if (args.value(only))
                throw UsageError(std::string(only) + " только вместе с --mqtt");
        return r;
    }
    r.mqtt = parse_mqtt_url(*url);
    if (const auto ca = args.value("--cafile")) {
        if (!r.mqtt->tls)
            throw UsageError("--cafile только для mqtts://");
        r.mqtt->cafile = *ca;
    }
    if (const auto file = args.value("--password-file")) {
        std::string text, reason;
        file_io::Stamp stamp;
        if (!file_io::read_whole(*file, 4096, text, stamp, reason))
            throw UsageError("файл пароля " + *file + " не прочитан: " + reason);
        r.mqtt->password = text.substr(0, text.find_first_of("\r\n"));
    } else if (const char* env = std::getenv("VARNOK_MQTT_PASSWORD");
               env && !r.mqtt->password && !r.mqtt->user.empty()) {
        // Only for a named user: the variable left set does not spoil an anonymous broker.
        r.mqtt->password = env;
    }
    if (r.mqtt->password && r.mqtt->user.empty())
        throw UsageError("--mqtt: пароль без имени пользователя");
    if (const auto size = args.value("--spool-size"))
        r.spool_size = parse_size(*size, "--spool-size");
    return r;
}

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

// The JSON of a message, without the line end to_json gives a document.
std::string payload(const Value& v)
{
    std::string s = to_json(v);
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

struct ReadRun {
    ReadArgs args;
    MqttOut mqtt;

    // The broker is asked before the port is opened: a refused password sends nothing on the line.
    int connect(const Options& o, Session& s)
    {
        if (!args.mqtt)
            return kExitOk;
        mqtt = connect_mqtt(*args.mqtt, args.spool_size, s.port_name(), addresses_of(o, s));
        return mqtt.exit;
    }

    int run(const Options& o, Session& s)
    {
        const ReadArgs& r = args;
        std::FILE* csv = nullptr;
        if (r.out) {
            std::string reason;
            csv = file_io::open_for_writing(*r.out, false, reason);
            if (!csv) {
                std::fprintf(stderr, "файл %s не создаётся: %s\n", r.out->c_str(), reason.c_str());
                return kExitUsage;
            }
            std::fputs("time,address,value1,percent1,value2,percent2,value3,percent3,frequency\n", csv);
            std::fflush(csv);
        }
        const std::vector<uint8_t> addresses = addresses_of(o, s);
        std::vector<bool> scaled(addresses.size(), false);
        // One Device record serves every number: each one's scales and setpoints are kept here and
        // put back before its poll, so that its percentages are of its own scales.
        std::vector<decltype(s.dev.parScl)> scales(addresses.size());
        std::vector<decltype(s.dev.parUst)> setpoints(addresses.size());
        std::vector<Value> names(addresses.size()), versions(addresses.size());
        if (!mqtt.devices.empty()) {
            for (size_t i = 0; i < addresses.size() && !interrupted(); ++i) {
                s.address(addresses[i]);
                Polling polling(s.dev, s.report);
                names[i] = polling.read_name() ? Value::string(s.dev.tmp_text()) : Value();
                versions[i] = polling.read_version() ? Value::string(s.dev.tmp_text()) : Value();
            }
        }
        Value rows = Value::array();
        bool any_failed = false;
        auto due = std::chrono::steady_clock::now();
        for (long n = 0; (r.count == 0 || n < r.count) && !interrupted(); ++n) {
            if (n > 0 && !wait_until(due))
                break;
            due += r.every;
            for (size_t i = 0; i < addresses.size() && !interrupted(); ++i) {
                s.address(addresses[i]);
                s.dev.parScl = scales[i];
                s.dev.parUst = setpoints[i];
                Polling polling(s.dev, s.report);
                const auto when = std::chrono::system_clock::now();
                const unsigned long errors_before = s.report.lines();
                // The first poll of a device reads its scales too, for the percentages.
                const bool full = !scaled[i];
                const PollResult poll = polling.zapros_par(full);
                scales[i] = s.dev.parScl;
                setpoints[i] = s.dev.parUst;
                scaled[i] = scaled[i] || (poll.ch[1].scale && poll.ch[2].scale && poll.ch[3].scale);
                Value row = Value::object();
                row.set("time", Value::string(iso_time(when)));
                row.set("address", Value::number(addresses[i]));
                for (int k = 1; k <= kChannels; ++k) {
                    const PollResult::Channel& c = poll.ch[size_t(k)];
                    const TParChannel& ch = s.dev.Ch[size_t(k)];
                    row.set("value" + std::to_string(k), c.measured ? Value::number(float_text(ch.Urms_te)) : Value());
                    row.set("percent" + std::to_string(k), c.percent ? Value::number(float_text(ch.Urms_proc)) : Value());
                    any_failed |= !c.measured;
                }
                row.set("frequency", poll.freq ? Value::number(float_text(s.dev.freq.as_float())) : Value());
                any_failed |= !poll.freq;
                if (csv) {
                    std::string line;
                    for (const auto& [key, v] : row.members())
                        line += (line.empty() ? "" : ",") + v.text();
                    std::fprintf(csv, "%s\n", line.c_str());
                    std::fflush(csv);
                }
                if (!o.json && !csv && mqtt.devices.empty()) {
                    std::string line;
                    for (const auto& [key, v] : row.members())
                        line += (line.empty() ? "" : "  ") + (v.kind() == Value::kNull ? std::string("-") : v.text());
                    std::printf("%s\n", line.c_str());
                    std::fflush(stdout);
                }
                if (!mqtt.devices.empty()) {
                    Publisher& p = *mqtt.devices[i];
                    if (full) {
                        Value info = Value::object();
                        info.set("address", Value::number(addresses[i]));
                        info.set("name", names[i]);
                        info.set("version", versions[i]);
                        info.set("channels", channel_settings(s.dev, poll));
                        p.info(payload(info));
                    }
                    Value m = Value::object();
                    m.set("time", Value::string(iso_time(when)));
                    m.set("address", Value::number(addresses[i]));
                    m.set("poll", Value::number(n + 1));
                    Value& channels = m.set("channels", Value::array());
                    for (int k = 1; k <= kChannels; ++k) {
                        const PollResult::Channel& c = poll.ch[size_t(k)];
                        const TParChannel& ch = s.dev.Ch[size_t(k)];
                        Value& v = channels.push(Value::object());
                        v.set("channel", Value::number(k));
                        v.set("value", c.measured ? Value::number(float_text(ch.Urms_te)) : Value());
                        v.set("unit", scaled[i] ? Value::string(unit_name(s.dev.parScl[size_t(k)].Measure)) : Value());
                        v.set("percent", c.percent ? Value::number(float_text(ch.Urms_proc)) : Value());
                    }
                    m.set("frequency", poll.freq ? Value::number(float_text(s.dev.freq.as_float())) : Value());
                    m.set("error", s.report.lines() != errors_before ? Value::string(s.report.last_line()) : Value());
                    p.reading(payload(m));
                }
                rows.push(std::move(row));
            }
        }
        // What the broker has not taken yet gets a few seconds; the rest stays in the spool.
        for (auto& p : mqtt.devices)
            p->finish(std::chrono::seconds(5));
        if (csv && std::fclose(csv) != 0) {
            std::fprintf(stderr, "файл не записан: %s\n", std::strerror(errno));
            return kExitDevice;
        }
        if (o.json)
            print(o, rows);
        return any_failed ? kExitDevice : kExitOk;
    }
};

}  // namespace

Job read_command(const Invocation& call)
{
    auto r = std::make_shared<ReadRun>();
    r->args = parse_read(call);
    const Options& o = call.options;
    return {[&o, r](Session& s) { return r->run(o, s); }, [&o, r](Session& s) { return r->connect(o, s); }};
}

}  // namespace varnok::cli
