#include "cli/commission.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <set>
#include <thread>

#include "cli/session.h"
#include "ops/polling.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

constexpr const char* kReportHeader = "time,row,name,version,result,error\n";
constexpr const char* kDone = "готово";
constexpr const char* kFailed = "ошибка";

std::string csv_field(const std::string& s)
{
    if (s.find_first_of(",\"\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

// Rows the report already has as done.
std::set<int> done_rows(const std::string& report)
{
    std::set<int> done;
    std::string problem;  // a line cut short by an interrupted run is no row done
    for (const CsvRecord& r : csv_records(report, ',', problem))
        if (r.fields.size() == 6 && r.fields[4] == kDone)
            done.insert(std::atoi(r.fields[1].c_str()));
    return done;
}

// Waits for a device at the row's address and speed: the operator's Enter, or with `poll`
// an answer; false when the run is to end (end of input, Ctrl-C).
bool wait_for_device(Session& s, bool poll)
{
    Polling polling(s.dev, s.report);
    if (!poll) {
        std::fprintf(stderr, "подключите прибор и нажмите Enter\n");
        std::string answer;
        if (!std::getline(std::cin, answer) || interrupted())
            return false;
        return true;
    }
    while (!interrupted()) {
        if (polling.attach())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return false;
}

struct RowOutcome {
    std::string name, version;
    std::string error;  // empty when the row was written and read back
};

// Writes a row to the device that answered, then reads back what it wrote.
RowOutcome write_row(Session& s, const SheetRow& row)
{
    RowOutcome r;
    Polling polling(s.dev, s.report);
    r.name = polling.read_name() ? s.dev.tmp_text() : "";
    r.version = polling.read_version() ? s.dev.tmp_text() : "";
    Configuration config(s.dev, s.report, s.sleeper);
    bool changed_line = false;
    if (!config.write(row.settings, changed_line)) {
        r.error = s.report.last_line();
        return r;
    }
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
    else if (light && !(polling.read_light() && s.dev.light == *light))
        r.error = "brightness: не принято";
    return r;
}

}  // namespace

namespace {

// The sheet, read and checked whole before the port is opened: nothing is sent for a bad row.
std::vector<SheetRow> read_sheet(const std::string& path)
{
    std::string text, reason;
    file_io::Stamp stamp;
    if (!file_io::read_whole(path, 1 << 20, text, stamp, reason))
        throw UsageError("таблица " + path + " не прочитана: " + reason);
    Sheet sheet = parse_sheet(text);
    if (sheet.problems.empty())
        return std::move(sheet.rows);
    std::string all;
    for (const std::string& p : sheet.problems)
        all += p + "\n";
    throw UsageError(all + "таблица " + path + " не принята, в приборы ничего не записано");
}

int commission(const Invocation& call, Session& s, const std::vector<SheetRow>& rows)
{
    const CommandArgs args = call.args();
    const std::string sheet_path = args.positional().front();
    const std::string report_path = args.value("--report").value_or(sheet_path + ".report.csv");
    std::string reason, report_text;
    file_io::Stamp stamp;
    const bool had_report = file_io::read_whole(report_path, 1 << 24, report_text, stamp, reason);
    const std::set<int> done = had_report ? done_rows(report_text) : std::set<int>{};
    std::FILE* report = file_io::open_for_writing(report_path, true, reason);
    if (!report) {
        std::fprintf(stderr, "отчёт %s не открывается: %s\n", report_path.c_str(), reason.c_str());
        return kExitDevice;
    }
    if (!had_report || report_text.empty())
        std::fputs(kReportHeader, report);
    const LinkSettings start = s.link.settings();
    bool any_failed = false;
    int write_error = 0;  // the first the report met
    for (const SheetRow& row : rows) {
        if (interrupted())
            break;
        if (done.count(row.line)) {
            std::fprintf(stderr, "строка %d уже готова\n", row.line);
            continue;
        }
        // Each device is awaited where a new one answers.
        s.link.set_speed(row.from_speed.value_or(start.scor_obmena));
        s.address(row.from_address.value_or(start.sys_num));
        s.link.set_up_port();
        std::fprintf(stderr, "строка %d: прибор %d, %d бит/с\n", row.line, s.link.settings().sys_num,
                     s.link.settings().scor_obmena);
        if (!wait_for_device(s, args.flag("--yes"))) {
            std::fprintf(stderr, "работа прервана на строке %d\n", row.line);
            any_failed = true;
            break;
        }
        const RowOutcome outcome = write_row(s, row);
        const std::string& error = outcome.error;
        const char* result = error.empty() ? kDone : kFailed;
        any_failed |= !error.empty();
        std::fprintf(report, "%s,%d,%s,%s,%s,%s\n", iso_time(std::chrono::system_clock::now()).c_str(), row.line,
                     csv_field(outcome.name).c_str(), csv_field(outcome.version).c_str(), result,
                     csv_field(error).c_str());
        if (std::fflush(report) != 0 && write_error == 0)
            write_error = errno;
        std::fprintf(stderr, "строка %d: %s%s%s\n", row.line, result, error.empty() ? "" : ": ", error.c_str());
    }
    // A report that did not reach its file is no record of the rows done: the run failed.
    if (std::fclose(report) != 0 && write_error == 0)
        write_error = errno;
    if (write_error != 0) {
        std::fprintf(stderr, "отчёт %s не записан: %s\n", report_path.c_str(), std::strerror(write_error));
        return kExitDevice;
    }
    return any_failed ? kExitDevice : kExitOk;
}

}  // namespace

Job commission_command(const Invocation& call)
{
    const CommandArgs args = call.args();
    if (args.positional().size() != 1)
        throw UsageError("commission: нужна одна таблица");
    auto rows = std::make_shared<const std::vector<SheetRow>>(read_sheet(args.positional().front()));
    return {[&call, rows](Session& s) { return commission(call, s, *rows); }};
}

}  // namespace varnok::cli
