#include "cli/commands.h"

#include <charconv>
#include <cstdio>
#include <memory>

#include "cli/info.h"
#include "cli/session.h"
#include "cli/standard_output.h"
#include "ops/polling.h"
#include "ops/profile.h"
#include "ops/search.h"
#include "ops/write_records.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

// A setting's value in a file's or the device's words as the text output shows it: a parity in
// Russian, a coefficient or setpoint in plain decimals; anything else as it is.
std::string shown_text(const Setting& like, const std::string& text)
{
    if (like.name == Setting::kParity) {
        for (uint8_t code = 0; code < 3; ++code)
            if (text == parity_name(code))
                return Value::parity(code).shown();
        return text;
    }
    // Only a number in scientific notation is rewritten: "0.750" keeps the decimals of its point.
    if ((like.name == Setting::kCoefficient || like.name == Setting::kMax || like.name == Setting::kMin) &&
        text.find_first_of("eE") != std::string::npos) {
        float v = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
        if (!text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size())
            return Value::real(v).shown();
    }
    return text;
}

void no_arguments(const Options& o)
{
    if (!o.args.empty())
        throw UsageError(o.command + ": лишний аргумент " + o.args.front());
}

// The speed and the number being asked out of the range, on the progress line.
class ScanProgress : public SearchProgress {
public:
    ScanProgress(Session& s, long from, long to) : s_(s), range_(" из " + std::to_string(from) + ".." + std::to_string(to)) {}
    void number_done(uint8_t n, uint8_t code, bool, const SearchTimes&) override
    {
        found_ += code != 0 ? 1 : 0;
        s_.report.status("поиск на " + std::to_string(s_.link.settings().scor_obmena) + " бит/с: номер " +
                         std::to_string(n) + range_ + ", найдено " + std::to_string(found_));
    }
    void scan_over(const SearchTimes&) override { s_.report.end_progress(); }

private:
    Session& s_;
    std::string range_;
    int found_ = 0;
};

// The search's probes, which go past the report, shown as -v shows every exchange.
class ProbeFrames : public FrameTap {
public:
    explicit ProbeFrames(StderrReport& report) : report_(report) {}
    void sent(const uint8_t* bytes, size_t n) override { sent_.assign(bytes, bytes + n); }
    void received(const uint8_t* bytes, size_t n) override { report_.frames(sent_, {bytes, n}); }

private:
    StderrReport& report_;
    std::vector<uint8_t> sent_;
};

// The numbers asked, at the speed in force or at every speed, each probe shown with -v.
ScanResult scan_line(Session& s, bool every_speed, long from, long to)
{
    ScanProgress progress(s, from, to);
    // The search's own lines (its summary, where it was stopped) are the console's: the scan
    // words its outcome itself.
    VerboseLinesReport console_lines(s.report, true);
    Search search(s.dev, console_lines, progress, s.keys, s.notices);
    ProbeFrames probes(s.report);
    if (s.report.verbose())
        s.link.set_tap(&probes);
    const ScanResult r = search.poisk_pribor(!every_speed, uint8_t(from), uint8_t(to));
    s.link.set_tap(nullptr);
    return r;
}

// Each number found, addressed at the speed it answered at: its line, name and version.
Value read_found(Session& s, const std::vector<uint8_t>& numbers)
{
    Value found = Value::array();
    Polling polling(s.dev, s.report);
    for (uint8_t n : numbers) {
        const int32_t baud = scor[s.dev.scor_CN(n) <= 6 ? s.dev.scor_CN(n) : 0];
        s.link.set_speed(baud);
        s.link.set_up_port();
        s.address(n);
        Value& v = found.push(Value::object());
        v.set("address", Value::number(n));
        v.set("speed", Value::number(baud));
        v.set("parity", Value::parity(s.link.settings().parity));
        v.set("stopbits", Value::number(s.link.settings().stopbit));
        v.set("name", polling.read_name() ? Value::device_text(s.dev.tmp_text()) : Value());
        v.set("version", polling.read_version() ? Value::device_text(s.dev.tmp_text()) : Value());
    }
    return found;
}

// The devices found as JSON, or as a table when there are any.
void print_found(const Options& options, const Value& found)
{
    if (options.json) {
        print(options, found);
        return;
    }
    if (found.members().empty())
        return;
    std::vector<std::vector<std::string>> rows = {{"номер", "скорость", "паритет", "стоп", "имя", "версия"}};
    for (const auto& [key, v] : found.members()) {
        rows.emplace_back();
        for (const auto& [name, field] : v.members())
            rows.back().push_back(field.kind() == Value::kNull ? std::string("-") : field.text());
    }
    put_stdout(aligned(rows));
}

// Why nobody answered, and what to try next.
std::string no_answer_hint(const std::string& range, bool every_speed, int32_t speed_asked)
{
    return every_speed ? "ни один номер из " + range + " не ответил ни на одной скорости; проверьте провода A и B "
                                                       "(не перепутаны ли) и параметры паритета и стоповых бит (-P, -s)"
                       : "ни один номер из " + range + " не ответил на " + std::to_string(speed_asked) +
                             " бит/с; попробуйте другую скорость (--speed 19200) или все (--speed all) и "
                             "проверьте провода A и B (не перепутаны ли)";
}

int scan(const Invocation& call, Session& s)
{
    const CommandArgs args = call.args();
    if (!args.positional().empty())
        throw UsageError("scan: лишний аргумент " + args.positional().front());
    const std::string speed = args.value("--speed").value_or("");
    const bool every_speed = speed == "all";
    const long from =
        args.value("--from") ? parse_number(*args.value("--from"), kMinSysNum, kMaxSysNum, "--from") : kMinSysNum;
    const long to = args.value("--to") ? parse_number(*args.value("--to"), from, kMaxSysNum, "--to") : kMaxSysNum;
    if (!speed.empty() && !every_speed) {
        s.link.set_speed(parse_speed(speed));
        s.link.set_up_port();
    }
    const int32_t speed_asked = s.link.settings().scor_obmena;
    const ScanResult r = scan_line(s, every_speed, from, to);
    if (r.port_failed_at)
        return kExitPort;
    print_found(call.options, read_found(s, r.found));
    const std::string range = std::to_string(from) + ".." + std::to_string(to);
    if (r.interrupted_at) {
        std::fprintf(stderr, "поиск прерван на номере %d из %s\n", int(r.interrupted_at), range.c_str());
        return kExitDevice;
    }
    if (r.found.empty()) {
        std::fprintf(stderr, "%s\n", no_answer_hint(range, every_speed, speed_asked).c_str());
        return kExitDevice;
    }
    return kExitOk;
}

// The line settings the device took go to the settings file; a new speed is told, with where
// the next run finds it.
void keep_line(Session& s, int32_t speed_before)
{
    const bool stored = s.store_line();
    const int32_t speed = s.link.settings().scor_obmena;
    if (speed == speed_before)
        return;
    const std::string next = " в следующий раз -b " + std::to_string(speed);
    std::fprintf(stderr, "дальше связь на %d: %s\n", int(speed),
                 s.port_is_path() ? next.substr(1).c_str()
                 : stored         ? ("файл настроек " + s.settings_path()).c_str()
                                  : ("файл настроек " + s.settings_path() + " не записан," + next).c_str());
}

int info(const Options& o, Session& s)
{
    no_arguments(o);
    Value all = Value::array();
    bool any_failed = false;
    for (uint8_t a : addresses_of(o, s)) {
        s.address(a);
        bool failed = false;
        all.push(read_info(s, failed));
        any_failed |= failed;
    }
    print(o, o.addresses.size() > 1 ? all : all.members().front().second);
    return any_failed ? kExitDevice : kExitOk;
}

int set(const Options& o, Session& s, const std::vector<Setting>& settings)
{
    bool changed_line = false;
    const int32_t speed_before = s.link.settings().scor_obmena;
    // The old values are read once before anything is written; a failed read leaves them unknown.
    const bool all = write_recorded(s, settings, old_values(s, settings), changed_line);
    if (changed_line)
        keep_line(s, speed_before);
    const LinkSettings& line = s.link.settings();
    Value now = Value::object();
    now.set("address", Value::number(line.sys_num));
    now.set("speed", Value::number(line.scor_obmena));
    now.set("parity", Value::parity(line.parity));
    now.set("stopbits", Value::number(line.stopbit));
    now.set("written", Value::boolean(all));
    print(o, now);
    return all ? kExitOk : kExitDevice;
}

int save(const Invocation& call, Session& s)
{
    const CommandArgs args = call.args();
    if (args.positional().size() != 1)
        throw UsageError("save: нужен один файл");
    const std::string path = args.positional().front();
    const DeviceProfile profile = read_device_profile(s.dev, s.report, s.sleeper);
    if (!profile.complete) {
        std::fprintf(stderr, "конфигурация прочитана не целиком, файл %s не записан\n", path.c_str());
        return kExitDevice;
    }
    file_io::Stamp stamp;
    std::string reason;
    if (!file_io::replace(path, profile.text, stamp, reason)) {
        std::fprintf(stderr, "файл %s не записан: %s\n", path.c_str(), reason.c_str());
        return kExitDevice;
    }
    for (const std::string& key : profile.left_out)
        std::fprintf(stderr,
                     "%s: в приборе не число (стёртые слова), в файл не записано; load оставит это значение "
                     "прибора как есть\n",
                     key.c_str());
    Value v = Value::object();
    v.set("file", Value::string(path));
    v.set("values", Value::number(long(profile.values)));
    print(call.options, v);
    return kExitOk;
}

// What `load` was asked, checked before the port is opened: nothing is sent for a bad file.
struct LoadArgs {
    std::vector<Setting> profile;
    unsigned sections = kLoadedSections;
    bool dry_run = false;
    bool chosen = false;  // --only or --with-calibration named the sections
    std::string path;
};

int load(const Options& o, Session& s, const LoadArgs& l)
{
    // Once, unless the sections were chosen: what is not loaded, and how to ask for it.
    if (!l.chosen && leaves_calibration(l.profile, l.sections))
        std::fprintf(stderr,
                     "калибровка из файла не загружается: ноль, коэффициент и точки ШИМ у каждого прибора "
                     "свои; загрузить её: --with-calibration или --only calibration\n");
    Configuration config(s.dev, s.report, s.sleeper);
    const int32_t speed_before = s.link.settings().scor_obmena;
    Changes written;
    record::Unit unit;
    // The differences are shown before anything is written; a dry run ends there.
    const ProfileLoad r = load_profile(config, l.profile, l.sections, [&](const Changes& changes) {
        if (!l.dry_run) {
            written = changes;
            unit = s.history().unit(s);
        }
        // JSON gives each change as {"old": ..., "new": ...}, numbers as numbers, "?" (none) as null.
        auto typed = [](const std::string& t) {
            double d = 0;
            const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
            return t == "?" ? Value() : !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size() ? Value::number(t) : Value::string(t);
        };
        Value shown = Value::object();
        for (const auto& [w, from] : changes) {
            if (o.json) {
                Value& change = shown.set(w.key(), Value::object());
                change.set("old", typed(from));
                change.set("new", typed(w.text()));
            } else {
                shown.set(w.key(), Value::string(shown_text(w, from) + " -> " + shown_text(w, w.text())));
            }
        }
        print(o, shown);
        return !l.dry_run;
    });
    switch (r.outcome) {
    case ProfileLoad::kReadFailed:
        std::fprintf(stderr, "конфигурация прибора прочитана не целиком, ничего не записано\n");
        return kExitDevice;
    case ProfileLoad::kAlreadyHeld:
        std::fprintf(stderr, "прибор уже соответствует файлу\n");
        print(o, Value::object());
        return kExitOk;
    case ProfileLoad::kDeclined: return kExitOk;
    case ProfileLoad::kApplied: break;
    }
    for (record::HistoryRecord& h : load_records(unit, l.path, written, r.done))
        s.history().append(h);
    if (r.done.changed_line)
        keep_line(s, speed_before);
    if (!r.done.all)
        return kExitDevice;
    for (const auto& [w, now] : r.done.left)
        std::fprintf(stderr, "%s: не принято (в приборе %s, нужно %s)\n", w.key().c_str(), shown_text(w, now).c_str(),
                     shown_text(w, w.text()).c_str());
    return r.complete() ? kExitOk : kExitDevice;
}

std::vector<Setting> read_profile(const std::string& path)
{
    ProfileFile file = read_profile_file(path);
    if (!file.checked)
        std::fprintf(stderr, "%s%s\n", path.c_str(), kUncheckedProfile);
    return std::move(file.settings);
}

}  // namespace

void print(const Options& o, const Value& v) { put_stdout(o.json ? to_json(v) : to_text(v)); }

std::vector<uint8_t> addresses_of(const Options& o, const Session& s)
{
    return o.addresses.empty() ? std::vector<uint8_t>{s.link.settings().sys_num} : o.addresses;
}

Job scan_command(const Invocation& call)
{
    return {[&call](Session& s) { return scan(call, s); }};
}

Job info_command(const Invocation& call)
{
    return {[&call](Session& s) { return info(call.options, s); }};
}

Job set_command(const Invocation& call)
{
    const Options& o = call.options;
    return {[&o, settings = parse_settings(o.args)](Session& s) {
        if (settings.empty())
            throw UsageError("set: нужен хотя бы один ИМЯ=ЗНАЧЕНИЕ");
        return set(o, s, settings);
    }};
}

Job save_command(const Invocation& call)
{
    // What may not be replaced is refused before the device is asked.
    const CommandArgs args = call.args();
    std::string reason;
    if (args.positional().size() == 1 && !file_io::check_target(args.positional().front(), reason))
        throw UsageError("файл " + args.positional().front() + " не записан: " + reason);
    return {[&call](Session& s) { return save(call, s); }};
}

Job load_command(const Invocation& call)
{
    const CommandArgs args = call.args();
    if (args.positional().size() != 1)
        throw UsageError("load: нужен один файл");
    auto l = std::make_shared<LoadArgs>();
    l->path = args.positional().front();
    l->profile = read_profile(args.positional().front());
    if (const auto only = args.value("--only"))
        l->sections = parse_sections(*only);
    if (args.flag("--with-calibration"))
        l->sections |= kCalibration;
    l->chosen = args.value("--only") || args.flag("--with-calibration");
    l->dry_run = args.flag("--dry-run");
    Job job{[&o = call.options, l](Session& s) { return load(o, s, *l); }};
    job.dry_run = l->dry_run;
    return job;
}

}  // namespace varnok::cli
