#include "cli/commission.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "cli/commands.h"
#include "cli/session.h"
#include "cli/value.h"
#include "ops/polling.h"
#include "settings/file_io.h"
#include "settings/utf8.h"

namespace varnok::cli {

namespace {

constexpr const char* kColumns[] = {"time", "row", "name", "version", "result", "error", "address", "speed"};
constexpr const char* kDone = "готово";
constexpr const char* kFailed = "ошибка";
constexpr long kDefaultWait = 60;  // seconds a device is awaited with --yes
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// How the report is written: the sheet's dialect for a new one, its own for one that goes on.
struct ReportForm {
    char separator = ',';
    bool bom = false;
    std::vector<std::string> columns{std::begin(kColumns), std::end(kColumns)};
    std::set<int> done;  // rows it has as done
};

// A field as RFC 4180 has it: in quotes when it holds the separator, a quote, CR or LF.
std::string csv_field(const std::string& s, char separator)
{
    if (s.find_first_of(std::string("\"\r\n") + separator) == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

// Text from the device or a message: its control characters as '?' (an escape sequence in a
// device's name must not reach whoever shows the report), and one that begins as a formula
// would in a spreadsheet (=, +, -, @) gets an apostrophe, which shows it as text.
std::string as_text(const std::string& text)
{
    const std::string s = utf8::visible(text);
    return !s.empty() && std::string_view("=+-@").find(s.front()) != std::string_view::npos ? "'" + s : s;
}

// The report's header with `separator`; without the address and speed columns, as reports
// before them had it, when `older`.
std::string report_header(char separator, bool older)
{
    std::string header;
    for (const char* c : kColumns) {
        if (older && (std::string_view(c) == "address" || std::string_view(c) == "speed"))
            continue;
        header += (header.empty() ? "" : std::string(1, separator)) + c;
    }
    return header;
}

// An existing report's form and its done rows; nullopt when its first line is not one of the
// report's headers (either separator, with or without the byte-order mark and CR). A report from
// before the address and speed columns keeps its own columns; a line cut short by an interrupted
// run is no row done.
std::optional<ReportForm> existing_report(std::string_view text)
{
    ReportForm form;
    form.bom = text.substr(0, kBom.size()) == kBom;
    if (form.bom)
        text.remove_prefix(kBom.size());
    std::string_view first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r')
        first.remove_suffix(1);
    form.separator = first.find(';') != std::string_view::npos ? ';' : ',';
    if (first != report_header(form.separator, false) && first != report_header(form.separator, true))
        return std::nullopt;
    std::string problem;
    const std::vector<CsvRecord> records = csv_records(text, form.separator, problem);
    if (records.empty())
        return std::nullopt;
    form.columns = records.front().fields;
    const auto column = [&](const char* name) {
        return size_t(std::find(form.columns.begin(), form.columns.end(), name) - form.columns.begin());
    };
    const size_t row = column("row"), result = column("result");
    if (row >= form.columns.size() || result >= form.columns.size())
        return form;
    for (size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& f = records[r].fields;
        if (f.size() == form.columns.size() && f[result] == kDone)
            form.done.insert(std::atoi(f[row].c_str()));
    }
    return form;
}

// The report's line: the fields by the names of its columns, those it has no column for left out.
std::string report_line(const ReportForm& form, const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string out;
    for (size_t c = 0; c < form.columns.size(); ++c) {
        if (c > 0)
            out += form.separator;
        for (const auto& [name, value] : fields)
            if (name == form.columns[c])
                out += csv_field(value, form.separator);
    }
    return out + "\n";
}

// "партия.csv" -> "партия-отчёт.csv", beside the sheet.
std::string report_beside(const std::string& sheet)
{
    const size_t slash = sheet.find_last_of("/\\");
    const size_t dot = sheet.rfind('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (extension ? sheet.substr(0, dot) : sheet) + "-отчёт.csv";
}

// Waits for a device at the row's address and speed: the operator's Enter, or with `poll` an
// answer within `limit`; false when the run is to end (end of input, Ctrl-C) or the time is up
// (`timed_out`).
bool wait_for_device(Session& s, bool poll, std::chrono::seconds limit, bool& timed_out)
{
    Polling polling(s.dev, s.report);
    timed_out = false;
    if (!poll) {
        std::fprintf(stderr, "подключите прибор и нажмите Enter\n");
        std::string answer;
        if (!std::getline(std::cin, answer) || interrupted())
            return false;
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!interrupted()) {
        if (polling.attach())
            return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            timed_out = true;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return false;
}

struct RowOutcome {
    std::string name, version;
    std::string error;  // empty when the row was written and read back
};

// "scale1=12.34 speed=19200": the row's settings with the values `value_of` gives ("?" for none).
template <class F>
std::string settings_text(const SheetRow& row, F value_of)
{
    std::string out;
    for (const Setting& w : row.settings) {
        const std::string v = value_of(w);
        out += (out.empty() ? "" : " ") + w.key() + "=" + (v.empty() ? "?" : v);
    }
    return out;
}

// The row as one record of the unit's history: the values before and after, and its outcome.
void record_row(Session& s, const SheetRow& row, const record::Unit& unit,
                const std::map<std::string, std::string>& old, const RowOutcome& outcome)
{
    record::HistoryRecord r;
    r.unit = unit;
    r.kind = record::kKindCommissioning;
    r.what = "строка " + std::to_string(row.line) + (outcome.error.empty() ? "" : ": " + outcome.error);
    r.old_value = settings_text(row, [&](const Setting& w) {
        const auto it = old.find(w.key());
        return it == old.end() ? std::string() : it->second;
    });
    r.new_value = settings_text(row, [](const Setting& w) { return w.text(); });
    s.history().append(r);
}

RowOutcome check_row(Session& s, Configuration& config, Polling& polling, const SheetRow& row);

// Writes a row to the device that answered, then reads back what it wrote.
RowOutcome write_row(Session& s, const SheetRow& row)
{
    RowOutcome r;
    Polling polling(s.dev, s.report);
    r.name = polling.read_name() ? s.dev.tmp_text() : "";
    r.version = polling.read_version() ? s.dev.tmp_text() : "";
    // The unit as it answered, before a new number or speed is written.
    record::Unit unit = s.history().unit(s, r.name, r.version);
    unit.factory_number = row.unit_number;
    const std::map<std::string, std::string> old = old_values(s, row.settings);
    Configuration config(s.dev, s.report, s.sleeper);
    bool changed_line = false;
    if (!config.write(row.settings, changed_line))
        r.error = s.report.last_line();
    else
        r.error = check_row(s, config, polling, row).error;
    record_row(s, row, unit, old, r);
    return r;
}

// Reads back what the row wrote; the error is empty when the device holds it all.
RowOutcome check_row(Session& s, Configuration& config, Polling& polling, const SheetRow& row)
{
    RowOutcome r;
    // The brightness is read on its own; everything else as the configuration gives it.
    std::vector<Setting> want;
    std::optional<long> light;
    unsigned sections = 0;
    for (const Setting& w : row.settings) {
        if (w.name == Setting::kBrightness) {
            light = w.number;
        } else {
            want.push_back(w);
            sections |= section_of(w.name);
        }
    }
    bool failed = false;
    const auto left = differences(config.read(sections, failed), want);
    if (failed)
        r.error = s.report.last_line();
    else if (!left.empty())
        r.error = left.front().first.key() + ": не принято";
    else if (light && !(polling.read_light() && s.dev.light() == *light))
        r.error = "brightness: не принято";
    return r;
}

}  // namespace

namespace {

// The sheet, read and checked whole before the port is opened: nothing is sent for a bad row.
Sheet read_sheet(const std::string& path)
{
    std::string text, reason;
    file_io::Stamp stamp;
    if (!file_io::read_whole(path, 1 << 20, text, stamp, reason))
        throw UsageError("таблица " + path + " не прочитана: " + reason);
    Sheet sheet = parse_sheet(text);
    if (sheet.problems.empty())
        return sheet;
    std::string all;
    for (const std::string& p : sheet.problems)
        all += p + "\n";
    throw UsageError(all + "таблица " + path + " не принята, в приборы ничего не записано");
}

// The report a run goes on with, chosen and checked before the port is opened: nothing is sent
// for a report the run may not write.
struct ReportPlan {
    std::string path;
    bool goes_on = false;  // it has its header already
    bool cut = false;      // its last line was cut short (a run killed mid-write)
    ReportForm form;
};

ReportPlan plan_report(const CommandArgs& args, const std::string& sheet_path, const Sheet& sheet)
{
    ReportPlan plan;
    plan.path = args.value("--report").value_or(report_beside(sheet_path));
    // A report under the name earlier versions gave it goes on where it is.
    if (!args.value("--report") && !file_io::stamp_of(plan.path).present) {
        const std::string older = sheet_path + ".report.csv";
        if (file_io::stamp_of(older).present)
            plan.path = older;
    }
    const std::string head = "отчёт " + plan.path + " не ведётся: ";
    std::string reason, text;
    // Another's file, or one anyone may write to, may hold rows marked done that no run did.
    if (!file_io::check_target(plan.path, reason))
        throw UsageError(head + reason);
    const file_io::Stamp report = file_io::stamp_of(plan.path), of_sheet = file_io::stamp_of(sheet_path);
    if (report.present && report.dev == of_sheet.dev && report.ino == of_sheet.ino)
        throw UsageError(head + "это сама таблица; укажите другой --report");
    file_io::Stamp stamp;
    if (report.present && !file_io::read_whole(plan.path, 1 << 24, text, stamp, reason))
        throw UsageError(head + reason);
    if (!text.empty()) {
        const std::optional<ReportForm> form = existing_report(text);
        if (!form)
            throw UsageError(head + "первая строка не заголовок отчёта \"" + report_header(',', false) +
                             "\"; укажите другой --report");
        plan.form = *form;
        plan.goes_on = true;
        plan.cut = text.back() != '\n';
    } else {
        plan.form.separator = sheet.separator;
        // A spreadsheet reads UTF-8 as such only after the mark: a sheet of its own dialect
        // (with the mark, or in Windows-1251) gets a report with it.
        plan.form.bom = sheet.bom || sheet.cp1251;
    }
    return plan;
}

// The report's file: each line whole and on the disk before the next device, or the run stops
// there; a report that did not reach its file is no record of the rows done.
class ReportFile {
public:
    explicit ReportFile(std::FILE* file) : file_(file) {}
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    void put(const std::string& line)
    {
        std::string reason;
        if (error_.empty() && !(file_io::append_record(file_, line, reason) && file_io::sync(file_, reason)))
            error_ = reason;
    }
    bool failed() const { return !error_.empty(); }
    // Closes the file; the first error the report met, empty when none.
    std::string close()
    {
        if (std::fclose(file_) != 0 && error_.empty())
            error_ = std::strerror(errno);
        return error_;
    }

private:
    std::FILE* file_;
    std::string error_;  // the first the report met
};

// A report that goes on ends its cut line first; a new one gets its header.
void start_report(ReportFile& report, const ReportPlan& plan)
{
    if (plan.cut)
        report.put("\n");
    if (!plan.goes_on)
        report.put((plan.form.bom ? std::string(kBom) : std::string()) +
                   report_header(plan.form.separator, false) + "\n");
}

// Awaits the row's device where a new one answers, at the row's address and speed or those the
// run began with, and writes the row to it; nullopt when the run is to end there.
std::optional<RowOutcome> commission_row(Session& s, const SheetRow& row, const LinkSettings& start, bool poll,
                                         std::chrono::seconds wait)
{
    s.link.set_speed(row.from_speed.value_or(start.scor_obmena));
    s.address(row.from_address.value_or(start.sys_num));
    s.link.set_up_port();
    if (poll)
        std::fprintf(stderr, "строка %d: жду прибор %d на %d бит/с (до %lld с)\n", row.line,
                     s.link.settings().sys_num, s.link.settings().scor_obmena, static_cast<long long>(wait.count()));
    else
        std::fprintf(stderr, "строка %d: прибор %d, %d бит/с\n", row.line, s.link.settings().sys_num,
                     s.link.settings().scor_obmena);
    bool timed_out = false;
    RowOutcome outcome;
    if (wait_for_device(s, poll, wait, timed_out)) {
        outcome = write_row(s, row);
    } else if (timed_out) {
        outcome.error = "прибор " + std::to_string(s.link.settings().sys_num) + " не ответил на " +
                        std::to_string(s.link.settings().scor_obmena) + " бит/с за " + std::to_string(wait.count()) +
                        " с";
    } else {
        std::fprintf(stderr, "работа прервана на строке %d\n", row.line);
        return std::nullopt;
    }
    return outcome;
}

// The row's line in the report, with the number and speed the device answers at now: those
// the row gave it.
std::string outcome_line(const ReportForm& form, const SheetRow& row, const LinkSettings& now,
                         const RowOutcome& outcome)
{
    return report_line(form, {{"time", iso_time(std::chrono::system_clock::now())},
                              {"row", std::to_string(row.line)},
                              {"address", std::to_string(now.sys_num)},
                              {"speed", std::to_string(now.scor_obmena)},
                              {"name", as_text(outcome.name)},
                              {"version", as_text(outcome.version)},
                              {"result", outcome.error.empty() ? kDone : kFailed},
                              {"error", as_text(outcome.error)}});
}

struct Tally {
    long done = 0, failed = 0, skipped = 0;
    bool stopped = false;  // the run ended before the last row
};

// The summary goes with the command's output, not into the report: a spreadsheet and a
// re-run read the report as rows only.
void print_summary(const Options& options, const Tally& tally)
{
    Value summary = Value::object();
    summary.set("done", Value::number(tally.done));
    summary.set("failed", Value::number(tally.failed));
    summary.set("skipped", Value::number(tally.skipped));
    print(options, summary);
}

int commission(const Invocation& call, Session& s, const Sheet& sheet, const ReportPlan& plan,
               std::chrono::seconds wait)
{
    const bool poll = call.args().flag("--yes");
    std::string reason;
    std::FILE* file = file_io::open_for_writing(plan.path, true, reason);
    if (!file) {
        std::fprintf(stderr, "отчёт %s не открывается: %s\n", plan.path.c_str(), reason.c_str());
        return kExitDevice;
    }
    std::fprintf(stderr, "отчёт: %s\n", plan.path.c_str());
    ReportFile report(file);
    start_report(report, plan);
    const LinkSettings start = s.link.settings();
    Tally tally;
    for (const SheetRow& row : sheet.rows) {
        if (interrupted() || report.failed()) {
            tally.stopped = true;
            break;
        }
        if (plan.form.done.count(row.line)) {
            std::fprintf(stderr, "строка %d уже готова\n", row.line);
            ++tally.skipped;
            continue;
        }
        const std::optional<RowOutcome> outcome = commission_row(s, row, start, poll, wait);
        if (!outcome) {
            tally.stopped = true;
            break;
        }
        const std::string& error = outcome->error;
        ++(error.empty() ? tally.done : tally.failed);
        report.put(outcome_line(plan.form, row, s.link.settings(), *outcome));
        std::fprintf(stderr, "строка %d: %s%s%s\n", row.line, error.empty() ? kDone : kFailed,
                     error.empty() ? "" : ": ", utf8::visible(error).c_str());
    }
    print_summary(call.options, tally);
    const std::string write_error = report.close();
    if (!write_error.empty()) {
        std::fprintf(stderr, "отчёт %s не записан: %s\n", plan.path.c_str(), write_error.c_str());
        return kExitDevice;
    }
    return tally.failed > 0 || tally.stopped ? kExitDevice : kExitOk;
}

}  // namespace

Job commission_command(const Invocation& call)
{
    const CommandArgs args = call.args();
    if (args.positional().size() != 1)
        throw UsageError("commission: нужна одна таблица");
    const std::chrono::seconds wait(args.value("--wait") ? parse_number(*args.value("--wait"), 1, 86400, "--wait")
                                                         : kDefaultWait);
    auto sheet = std::make_shared<const Sheet>(read_sheet(args.positional().front()));
    auto plan = std::make_shared<const ReportPlan>(plan_report(args, args.positional().front(), *sheet));
    return {[&call, sheet, plan, wait](Session& s) { return commission(call, s, *sheet, *plan, wait); }};
}

}  // namespace varnok::cli
