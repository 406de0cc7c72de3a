#include "cli/commission.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
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
constexpr const char* kRefused = "отказ";

std::string csv_field(const std::string& s)
{
    if (s.find_first_of(",\"\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> out;
    size_t from = 0;
    while (from < text.size()) {
        const size_t end = std::min(text.find('\n', from), text.size());
        std::string line = text.substr(from, end - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line);
        from = end + 1;
    }
    return out;
}

// Rows the report already has as done.
std::set<int> done_rows(const std::string& report)
{
    std::set<int> done;
    for (const std::string& line : lines_of(report)) {
        const std::vector<std::string> f = csv_fields(line);
        if (f.size() == 6 && f[4] == kDone)
            done.insert(std::atoi(f[1].c_str()));
    }
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

std::vector<std::string> csv_fields(const std::string& line)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                out.back() += line[++i];
            else if (c == '"')
                quoted = false;
            else
                out.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

std::vector<SheetRow> parse_sheet(const std::string& text)
{
    const std::vector<std::string> lines = lines_of(text);
    if (lines.empty())
        throw UsageError("таблица пуста");
    const std::vector<std::string> header = csv_fields(lines[0]);
    for (const std::string& name : header) {
        if (name == "from_address" || name == "from_speed")
            continue;
        Setting column{};
        try {
            column = setting_named(name, true);
        } catch (const UsageError&) {
            throw UsageError("таблица, строка 1: неизвестный столбец \"" + name + "\"");
        }
        // A unit's calibration is its own: a sheet of a batch never writes it.
        if (section_of(column.name) == kCalibration)
            throw UsageError("таблица, строка 1: столбец \"" + name +
                             "\": калибровка у каждого прибора своя, таблица её не записывает");
    }
    std::vector<SheetRow> rows;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        SheetRow row;
        row.line = int(i + 1);
        const std::vector<std::string> f = csv_fields(lines[i]);
        try {
            if (f.size() != header.size())
                throw UsageError(std::to_string(f.size()) + " столбцов вместо " + std::to_string(header.size()));
            for (size_t c = 0; c < f.size(); ++c) {
                if (f[c].empty())
                    continue;
                if (header[c] == "from_address")
                    row.from_address = uint8_t(parse_number(f[c], kMinSysNum, kMaxSysNum, header[c]));
                else if (header[c] == "from_speed")
                    row.from_speed = parse_speed(f[c]);
                else
                    row.settings.push_back(parse_setting(header[c], f[c], false));
            }
        } catch (const UsageError& e) {
            row.error = e.what();
            row.settings.clear();
        }
        std::stable_sort(row.settings.begin(), row.settings.end(),
                         [](const Setting& a, const Setting& b) { return a.name < b.name; });
        rows.push_back(std::move(row));
    }
    return rows;
}

namespace {

int commission(const Invocation& call, Session& s)
{
    const CommandArgs args = call.args();
    if (args.positional().size() != 1)
        throw UsageError("commission: нужна одна таблица");
    const std::string sheet_path = args.positional().front();
    const std::string report_path = args.value("--report").value_or(sheet_path + ".report.csv");
    std::string text, reason, report_text;
    file_io::Stamp stamp;
    if (!file_io::read_whole(sheet_path, 1 << 20, text, stamp, reason))
        throw UsageError("таблица " + sheet_path + " не прочитана: " + reason);
    const std::vector<SheetRow> rows = parse_sheet(text);
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
        std::string name, version, result = kDone, error = row.error;
        if (!row.error.empty()) {
            result = kRefused;
        } else {
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
            name = outcome.name;
            version = outcome.version;
            error = outcome.error;
            if (!error.empty())
                result = kFailed;
        }
        any_failed |= result != kDone;
        std::fprintf(report, "%s,%d,%s,%s,%s,%s\n", iso_time(std::chrono::system_clock::now()).c_str(), row.line,
                     csv_field(name).c_str(), csv_field(version).c_str(), result.c_str(), csv_field(error).c_str());
        if (std::fflush(report) != 0 && write_error == 0)
            write_error = errno;
        std::fprintf(stderr, "строка %d: %s%s%s\n", row.line, result.c_str(), error.empty() ? "" : ": ", error.c_str());
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
    return {[&call](Session& s) { return commission(call, s); }};
}

}  // namespace varnok::cli
