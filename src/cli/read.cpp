// `read`: its arguments, its outputs, and the poll of its devices.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/host.h"
#include "cli/publisher.h"
#include "cli/readings.h"
#include "cli/session.h"

namespace varnok::cli {

namespace {

// What `read` was asked, checked before the port is opened.
struct ReadArgs {
    std::chrono::milliseconds every{1000};
    long count = 1;
    std::optional<std::string> out;
    CsvDialect csv = kSheetCsvByDefault ? CsvDialect::kSheet : CsvDialect::kStandard;
    std::optional<MqttTarget> mqtt;
    std::optional<std::string> line;
    uint64_t spool_size = 10ull << 20;
    bool ha_discovery = false;
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
    if (const auto csv = args.value("--csv")) {
        if (!r.out)
            throw UsageError("--csv только вместе с --out");
        if (*csv != "standard" && *csv != "excel")
            throw UsageError("--csv \"" + *csv + "\": допустимы standard и excel");
        r.csv = *csv == "excel" ? CsvDialect::kSheet : CsvDialect::kStandard;
    }
    if (r.out)
        check_csv_file(*r.out, r.csv);
    const auto url = args.value("--mqtt");
    if (!url) {
        for (const char* only : {"--cafile", "--password-file", "--spool-size", "--line"})
            if (args.value(only))
                throw UsageError(std::string(only) + " только вместе с --mqtt");
        if (args.flag("--ha-discovery"))
            throw UsageError("--ha-discovery только вместе с --mqtt");
        return r;
    }
    r.mqtt = parse_mqtt_url(*url);
    if (const auto ca = args.value("--cafile")) {
        if (!r.mqtt->tls)
            throw UsageError("--cafile только для mqtts://");
        r.mqtt->cafile = hold_cafile(*ca);
    }
    if (const auto file = args.value("--password-file")) {
        r.mqtt->password = read_password_file(*file);
    } else if (const char* env = std::getenv("VARNOK_MQTT_PASSWORD");
               env && !r.mqtt->password && !r.mqtt->user.empty()) {
        // Only for a named user: the variable left set does not spoil an anonymous broker.
        r.mqtt->password = env;
    }
    if (r.mqtt->password && r.mqtt->user.empty())
        throw UsageError("--mqtt: пароль без имени пользователя");
    if ((r.line = args.value("--line")))
        check_line_name(*r.line);
    if (const auto size = args.value("--spool-size"))
        r.spool_size = parse_size(*size, "--spool-size");
    r.ha_discovery = args.flag("--ha-discovery");
    return r;
}

struct ReadRun {
    ReadArgs args;
    MqttOut mqtt;

    // The broker is asked before the port is opened: a refused password sends nothing on the line.
    int connect(const Options& o, Session& s)
    {
        if (!args.mqtt)
            return kExitOk;
        // The topics name the line, never the way its port was spelled: a dashboard keeps
        // working when COM1 is given by its path or an adapter comes back under another name.
        const std::optional<std::string> line = args.line ? args.line : s.port_setting_name();
        if (!line)
            throw UsageError("порт " + s.port_name() +
                             " задан путём, и ни одно имя COM1..COM16 файла настроек на него не указывает: "
                             "назовите линию для тем MQTT (--line ИМЯ)");
        mqtt = connect_mqtt(*args.mqtt, args.spool_size, *line, addresses_of(o, s));
        mqtt.ha_discovery = args.ha_discovery;
        return mqtt.exit;
    }

    int run(const Options& o, Session& s)
    {
        std::vector<std::unique_ptr<ReadingsOutput>> outputs;
        if (!mqtt.devices.empty())
            outputs.push_back(mqtt_output(mqtt));
        if (args.out) {
            outputs.push_back(csv_output(*args.out, args.csv, addresses_of(o, s).size()));
            if (!outputs.back())
                return kExitUsage;
        }
        if (!o.json && !args.out && mqtt.devices.empty())
            outputs.push_back(text_output());
        if (o.json)
            outputs.push_back(json_output());

        DevicePoll poll(s, addresses_of(o, s));
        std::vector<ReadingsOutput*> to;
        bool names = false;
        for (const auto& out : outputs) {
            to.push_back(out.get());
            names |= out->wants_names();
        }
        if (names)
            poll.read_names();
        const bool all_read = poll.run(args.count, args.every, to);
        if (interrupted() && !poll.delivered())
            std::fprintf(stderr, "read: прервано до первого показания\n");
        // Every output ends (a file closed, the broker's spool handed over); the first failure
        // is the run's.
        int exit = kExitOk;
        for (const auto& out : outputs)
            if (const int e = out->finish(); e != kExitOk && exit == kExitOk)
                exit = e;
        return exit != kExitOk ? exit : all_read ? kExitOk : kExitDevice;
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
