// varnok-cli check: the accuracy check of a unit's channels, as found or as left.
#include "cli/check.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "cli/commands.h"
#include "cli/host.h"
#include "cli/session.h"
#include "cli/standard_output.h"
#include "cli/value.h"
#include "ops/accuracy_check.h"
#include "ops/entry.h"
#include "ops/polling.h"
#include "record/history.h"
#include "record/protocol_files.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

// What `check` was asked, checked before the port is opened.
struct CheckArgs {
    CheckPlan plan;
    record::CheckKind kind = record::CheckKind::AsFound;
    CheckHeader header;
    std::string apply;                     // --apply CMD; empty: ask at each point
    std::optional<StoredCheck> found;    // --found FILE
    std::string protocol;                  // --protocol FILE.pdf|FILE.csv
    bool protocol_csv = false;
};

// A number typed or reported: a decimal point or comma, blanks around it; nothing else.
std::optional<double> parse_number(std::string t)
{
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r' || t.back() == '\n'))
        t.pop_back();
    size_t b = 0;
    while (b < t.size() && (t[b] == ' ' || t[b] == '\t'))
        ++b;
    t.erase(0, b);
    for (char& c : t)
        if (c == ',')
            c = '.';
    if (!t.empty() && t.front() == '+')
        t.erase(0, 1);
    double v = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double number_option(const std::string& option, const std::string& text)
{
    const std::optional<double> v = parse_number(text);
    if (!v)
        throw UsageError(option + ": " + text + " не число");
    return *v;
}

long integer_option(const std::string& option, const std::string& text)
{
    long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        throw UsageError(option + ": " + text + " не целое число");
    return v;
}

std::vector<std::string> split(const std::string& text, char by)
{
    std::vector<std::string> parts(1);
    for (char c : text)
        if (c == by)
            parts.emplace_back();
        else
            parts.back().push_back(c);
    return parts;
}

// Text the engineer typed that goes into the protocol: no control characters.
std::string typed_text(const std::string& option, const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            throw UsageError(option + ": управляющий символ в тексте");
    return text;
}

bool valid_date(const std::string& d)
{
    if (d.size() != 10 || d[4] != '-' || d[7] != '-')
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (d[i] < '0' || d[i] > '9')
            return false;
    const int y = std::stoi(d.substr(0, 4)), m = std::stoi(d.substr(5, 2)), day = std::stoi(d.substr(8, 2));
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || day < 1 || day > kDays[m - 1])
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return !(m == 2 && day == 29 && !leap);
}

bool ends_with(std::string s, const std::string& tail)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// --channels, --points, --tolerance, --samples: the plan, whole before anything else is read.
void read_plan(const CommandArgs& args, CheckPlan& plan)
{
    if (const auto v = args.value("--channels")) {
        plan.channels.clear();
        for (const std::string& c : split(*v, ','))
            plan.channels.push_back(int(integer_option("--channels", c)));
    }
    if (const auto v = args.value("--points")) {
        plan.points.clear();
        for (const std::string& p : split(*v, ','))
            plan.points.push_back(number_option("--points", p));
    }
    if (const auto v = args.value("--tolerance"))
        plan.tolerance = number_option("--tolerance", *v);
    if (const auto v = args.value("--samples")) {
        const long n = integer_option("--samples", *v);
        plan.samples = n < 1 || n > 100 ? 0 : unsigned(n);
        if (plan.samples == 0)
            throw UsageError("--samples: число отсчётов " + *v + " вне пределов 1..100");
    }
    if (const std::string fault = plan_fault(plan); !fault.empty())
        throw UsageError("check: " + fault);
}

record::CheckKind read_kind(const CommandArgs& args)
{
    const auto v = args.value("--as");
    if (!v || *v == "found")
        return record::CheckKind::AsFound;
    if (*v == "left")
        return record::CheckKind::AsLeft;
    throw UsageError("--as: found или left, а не " + *v);
}

// --unit-number, --engineer, --reference-instrument: who checks what against what.
void read_people(const CommandArgs& args, CheckHeader& h)
{
    if (const auto v = args.value("--unit-number"))
        h.unit.factory_number = typed_text("--unit-number", *v);
    if (const auto v = args.value("--engineer"))
        h.engineer = typed_text("--engineer", *v);
    if (const auto v = args.value("--reference-instrument")) {
        const std::vector<std::string> parts = split(typed_text("--reference-instrument", *v), ';');
        if (parts.size() != 3 || parts[0].empty())
            throw UsageError("--reference-instrument: нужно \"НАЗВАНИЕ;НОМЕР;ГГГГ-ММ-ДД\"");
        if (!valid_date(parts[2]))
            throw UsageError("--reference-instrument: срок поверки " + parts[2] + " не дата ГГГГ-ММ-ДД");
        h.reference = {parts[0], parts[1], parts[2]};
    }
}

// --found FILE: the as-found run this as-left run continues, of the same unit and tolerance.
void read_found(const CommandArgs& args, CheckArgs& a)
{
    const auto v = args.value("--found");
    if (!v)
        return;
    if (a.kind != record::CheckKind::AsLeft)
        throw UsageError("--found: только для проверки после калибровки (--as left)");
    a.found = read_found_document(*v);
    const std::string& was = a.found->header.unit.factory_number;
    if (!was.empty() && !a.header.unit.factory_number.empty() && was != a.header.unit.factory_number)
        throw UsageError("--found " + *v + ": заводской номер " + was + ", а проверяется " +
                         a.header.unit.factory_number);
    // One protocol, one tolerance: the as-found run's unless another is asked for.
    if (!args.value("--tolerance"))
        a.plan.tolerance = a.found->run.tolerance;
    else if (check_number(a.plan.tolerance) != check_number(a.found->run.tolerance))
        throw UsageError("--found " + *v + ": допуск до калибровки " + check_number(a.found->run.tolerance) +
                         " %, а теперь " + check_number(a.plan.tolerance) + " %");
    // What the as-left run does not say again comes from the as-found one.
    CheckHeader& h = a.header;
    if (h.unit.factory_number.empty())
        h.unit.factory_number = was;
    if (h.engineer.empty())
        h.engineer = a.found->header.engineer;
    if (h.reference.name.empty())
        h.reference = a.found->header.reference;
}

// --protocol FILE.pdf|FILE.csv: a file that can be written, checked before anything is measured.
void read_protocol(const CommandArgs& args, CheckArgs& a)
{
    const auto v = args.value("--protocol");
    if (!v)
        return;
    if (ends_with(*v, ".csv"))
        a.protocol_csv = true;
    else if (!ends_with(*v, ".pdf"))
        throw UsageError("--protocol: файл .pdf или .csv, а не " + *v);
    std::string reason;
    if (!file_io::check_target(*v, reason))
        throw UsageError("файл " + *v + " не записан: " + reason);
    a.protocol = *v;
}

CheckArgs parse_check(const Invocation& call)
{
    const CommandArgs args = call.args();
    if (!args.positional().empty())
        throw UsageError("check: лишнее " + args.positional().front());
    CheckArgs a;
    read_plan(args, a.plan);
    a.kind = read_kind(args);
    read_people(args, a.header);
    if (const auto v = args.value("--apply")) {
        if (v->empty())
            throw UsageError("--apply: пустая команда");
        a.apply = *v;
    }
    read_found(args, a);
    read_protocol(args, a);
    return a;
}

// The unit's text without the padding blank: "В".
std::string unit_suffix(const std::string& unit) { return unit.empty() ? "" : " " + unit; }

std::string point_name(int k, double percent)
{
    return "канал " + std::to_string(k) + ", " + check_number(percent, true) + " %";
}

void set_env(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

// Runs --apply's command for a point; the reference it reported on its last line, else the
// nominal. nullopt, with `failure`, when it did not run or did not end well.
std::optional<double> apply_point(const std::string& command, int k, const record::ChannelCheck& c,
                                  const record::CheckPoint& p, std::string& failure)
{
    set_env("VARNOK_CHANNEL", std::to_string(k));
    set_env("VARNOK_PERCENT", check_number(p.percent));
    set_env("VARNOK_NOMINAL", check_number(p.nominal));
    set_env("VARNOK_UNIT", c.unit);
    std::fflush(nullptr);
#ifdef _WIN32
    std::FILE* pipe = ::_popen(command.c_str(), "r");
#else
    std::FILE* pipe = ::popen(command.c_str(), "r");
#endif
    if (!pipe) {
        failure = "команда --apply не запущена";
        return std::nullopt;
    }
    std::string output;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        output.append(buf, n);
#ifdef _WIN32
    const int status = ::_pclose(pipe);
    if (status != 0) {
        failure = "команда --apply завершилась с кодом " + std::to_string(status);
        return std::nullopt;
    }
#else
    const int status = ::pclose(pipe);
    if (status == -1 || !WIFEXITED(status)) {
        failure = WIFSIGNALED(status) ? "команда --apply прервана сигналом " + std::to_string(WTERMSIG(status))
                                      : "команда --apply не завершилась";
        return std::nullopt;
    }
    if (WEXITSTATUS(status) != 0) {
        failure = "команда --apply завершилась с кодом " + std::to_string(WEXITSTATUS(status));
        return std::nullopt;
    }
#endif
    // Its last line that is not empty.
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r' || output.back() == ' '))
        output.pop_back();
    const size_t nl = output.find_last_of('\n');
    const std::optional<double> v = parse_number(nl == std::string::npos ? output : output.substr(nl + 1));
    return v ? *v : p.nominal;
}

// Asks the engineer for the reference value at a point: Enter for the nominal; nullopt when the
// input ends or Ctrl-C.
std::optional<double> ask_point(int k, const record::ChannelCheck& c, const record::CheckPoint& p)
{
    const std::string nominal = check_number(p.nominal, true);
    std::fprintf(stderr, "%s: подайте %s%s\n", point_name(k, p.percent).c_str(), nominal.c_str(),
                 unit_suffix(c.unit).c_str());
    for (;;) {
        std::fprintf(stderr, "показание образцового прибора (Enter: %s): ", nominal.c_str());
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line) || interrupted()) {
            std::fprintf(stderr, "\n");
            return std::nullopt;
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            return p.nominal;
        if (const std::optional<double> v = parse_number(line))
            return *v;
        std::fprintf(stderr, "«%s» не число: введите показание, например %s, или нажмите Enter\n", line.c_str(),
                     nominal.c_str());
    }
}

// The point's outcome as one line on standard error.
void tell_point(int k, const record::ChannelCheck& c, const record::CheckPoint& p)
{
    if (!p.failure.empty()) {
        std::fprintf(stderr, "%s\n", p.failure.c_str());
        return;
    }
    std::fprintf(stderr, "%s: среднее %s%s, погрешность %s%s (%s %%), %s\n", point_name(k, p.percent).c_str(),
                 check_number(p.mean, true).c_str(), unit_suffix(c.unit).c_str(), check_number(p.error, true).c_str(),
                 unit_suffix(c.unit).c_str(), check_number(p.reduced_error, true).c_str(),
                 p.fit ? record::kFit : record::kUnfit);
}

std::string with_comma(std::string s)
{
    for (char& c : s)
        if (c == '.')
            c = ',';
    return s;
}

// The run as a table: a row per point, then each channel's verdict and the run's.
std::string run_table(const record::CheckRun& run)
{
    std::vector<std::vector<std::string>> rows = {{"канал", "точка, %", "опорное", "среднее", "мин", "макс", "СКО",
                                                   "погрешность", "приведённая, %", "вердикт"}};
    auto n = [](const record::CheckPoint& p, double v) { return p.measured() ? check_number(v, true) : "-"; };
    for (const record::ChannelCheck& c : run.channels)
        for (const record::CheckPoint& p : c.points)
            rows.push_back({std::to_string(c.channel), check_number(p.percent, true), check_number(p.reference, true),
                            n(p, p.mean), n(p, p.min), n(p, p.max), n(p, p.stdev), n(p, p.error),
                            n(p, p.reduced_error), p.fit ? record::kFit : record::kUnfit});
    std::string out = aligned(rows);
    for (const record::ChannelCheck& c : run.channels)
        out += "канал " + std::to_string(c.channel) + " (" + check_number(c.full_scale, true) + unit_suffix(c.unit) +
               ", ноль " + (c.constants.read ? std::to_string(c.constants.zero) : "-") + ", коэффициент " +
               (c.constants.read ? with_comma(float_text(c.constants.coefficient)) : "-") + "): " + c.verdict() + "\n";
    out += std::string("итог: ") + (run.fit() ? record::kFit : record::kUnfit) + "\n";
    return out;
}

// Writes the protocol; empty on success, else the line that says why.
// The protocol of this run: one number and time of issue for its file and its record.
record::Protocol protocol_of(const CheckArgs& a, const record::CheckRun& run, const std::string& issued)
{
    record::Protocol p;
    p.issued = issued;
    p.unit = a.header.unit;
    p.number = record::protocol_number(p.unit, p.issued);
    p.engineer = a.header.engineer;
    p.reference = a.header.reference;
    p.tolerance = run.tolerance;
    (run.kind == record::CheckKind::AsFound ? p.as_found : p.as_left) = run;
    if (a.found)
        p.as_found = a.found->run;
    return p;
}

std::string write_protocol(const CheckArgs& a, const record::Protocol& p)
{
    if (!a.protocol_csv)
        return record::write_protocol_pdf(p, a.protocol);
    const std::string csv = record::protocol_csv(p);
    if (csv.empty())
        return "файл " + a.protocol + " не записан: протокол пуст";
    file_io::Stamp stamp;
    std::string reason;
    if (!file_io::replace(a.protocol, csv, stamp, reason))
        return "файл " + a.protocol + " не записан: " + reason;
    return {};
}

// The unit's name and version from the device, its number and line from the link; false,
// told, when the device did not give them.
bool read_unit(Session& s, record::Unit& unit)
{
    Polling polling(s.dev, s.report);
    const bool named = polling.read_name();
    unit.name = named ? s.dev.tmp_text() : "";
    const bool versioned = named && polling.read_version();
    if (!versioned) {
        std::fprintf(stderr, "имя и версия прибора не прочитаны, проверка не начата\n");
        return false;
    }
    unit.version = s.dev.tmp_text();
    unit.network_number = s.link.settings().sys_num;
    unit.line = s.unit_line();
    return true;
}

// Each point of the run: its reference applied by the command or typed, then measured; false,
// told, when the check stopped before its end.
bool measure_run(Session& s, const CheckArgs& a, AccuracyCheck& checker, record::CheckRun& run)
{
    std::string failure;
    for (record::ChannelCheck& c : run.channels) {
        for (record::CheckPoint& p : c.points) {
            if (interrupted())
                return false;
            std::optional<double> reference;
            if (!a.apply.empty()) {
                reference = apply_point(a.apply, c.channel, c, p, failure);
                if (!reference) {
                    std::fprintf(stderr, "%s: %s; проверка остановлена, ничего не записано\n",
                                 point_name(c.channel, p.percent).c_str(), failure.c_str());
                    return false;
                }
            } else if (!(reference = ask_point(c.channel, c, p))) {
                std::fprintf(stderr, "ввод закончился: проверка остановлена, ничего не записано\n");
                return false;
            }
            p.reference = *reference;
            s.report.new_step();
            checker.measure(c, p, run.tolerance);
            if (interrupted())
                return false;
            tell_point(c.channel, c, p);
        }
    }
    return true;
}

int check(const Options& o, Session& s, CheckArgs& a)
{
    // A check is kept for its record: a store that cannot be used (told in its one line) stops
    // it before anything is measured.
    if (!s.history().keeper().history())
        return kExitDevice;
    if (!read_unit(s, a.header.unit))
        return kExitDevice;
    AccuracyCheck checker(s.dev, s.report, s.sleeper);
    std::string failure;
    record::CheckRun run = checker.begin(a.plan, a.kind, failure);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s; проверка не начата\n", failure.c_str());
        return kExitDevice;
    }
    if (!measure_run(s, a, checker, run))
        return kExitDevice;
    const record::CheckRun* found = a.found ? &a.found->run : nullptr;
    const std::string document = record::check_document(a.header, run, found);
    const record::Protocol protocol = protocol_of(a, run, record::local_time_now());
    // The document and the protocol are written where asked even when the record cannot be.
    bool written = put_stdout(o.json ? document : run_table(run));
    if (!a.protocol.empty())
        if (const std::string why = write_protocol(a, protocol); !why.empty()) {
            std::fprintf(stderr, "%s\n", why.c_str());
            written = false;
        }
    record::HistoryRecord r;
    r.time = protocol.issued;
    r.unit = a.header.unit;
    r.kind = record::kKindCheck;
    r.what = std::string(run.kind == record::CheckKind::AsFound ? "проверка до калибровки" : "проверка после калибровки") +
             ": " + (run.fit() ? record::kFit : record::kUnfit);
    r.protocol_number = protocol.number;
    r.document = document;
    // A check is kept for its record: one that is not stored is no finished check.
    if (!s.history().append(r)) {
        std::fprintf(stderr, "проверка не записана в историю %s\n", s.history().path().c_str());
        return kExitDevice;
    }
    if (!o.json)
        std::fprintf(stderr, "протокол %s записан в историю\n", protocol.number.c_str());
    if (!written)
        return kExitDevice;
    return run.fit() ? kExitOk : kExitDevice;
}

}  // namespace

Job check_command(const Invocation& call)
{
    auto a = std::make_shared<CheckArgs>(parse_check(call));
    // A reference instrument past its own calibration is told before anything is measured.
    const std::string today = record::local_time_now("%Y-%m-%d");
    if (!a->header.reference.due_date.empty() && a->header.reference.due_date < today)
        std::fprintf(stderr, "образцовый прибор %s № %s: срок поверки %s истёк\n", a->header.reference.name.c_str(),
                     a->header.reference.number.c_str(), a->header.reference.due_date.c_str());
    return {[&o = call.options, a](Session& s) { return check(o, s, *a); }};
}

}  // namespace varnok::cli
