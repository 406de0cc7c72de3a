// read's readings to a CSV file (or to standard output, "-"): its header, then a line per
// reading, each written at once and whole, so that an interrupted run or a full disk leaves whole
// lines. A file that exists is added to: a shift log
// grows run by run. Two dialects: the standard one for scripts (`,`, a decimal point, ISO
// times, LF) and a spreadsheet's (a BOM, the regional separators, local times, CRLF, units in
// the header), which a spreadsheet opens as a table when the file is double-clicked.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "cli/host.h"
#include "cli/options.h"
#include "cli/readings.h"
#include "cli/session.h"
#include "cli/standard_output.h"
#include "ops/entry.h"
#include "settings/file_io.h"

namespace varnok::cli {

// A field as RFC 4180 has it: quoted when it holds the separator, a quote or a line end.
std::string csv_field(const std::string& text, char sep)
{
    if (text.find_first_of(std::string{sep, '"', '\r', '\n'}) == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr const char* kStandardOutput = "-";
constexpr std::string_view kStandardHeader = "time,address,value1,percent1,value2,percent2,value3,percent3,frequency";

// What goes into the file before its first new row.
enum class Start {
    kHeader,   // a new or empty file
    kNewline,  // its last line was cut short
    kRows,
};

struct Dialect {
    bool sheet;
    Separators sep;
    std::string_view eol;
};

Dialect dialect_of(CsvDialect d)
{
    if (d == CsvDialect::kSheet)
        return {true, regional_separators(), "\r\n"};
    return {false, {',', '.'}, "\n"};
}

// The spreadsheet header's titles with each channel's unit, where one is known ("" where not):
// "Значение 1, мА".
std::vector<std::string> sheet_titles(const std::array<std::string, kChannels + 1>& units)
{
    std::vector<std::string> titles = {"Время", "Прибор"};
    for (int k = 1; k <= kChannels; ++k) {
        const std::string& unit = units[size_t(k)];
        titles.push_back("Значение " + std::to_string(k) + (unit.empty() ? "" : ", " + unit));
        titles.push_back("Процент " + std::to_string(k));
    }
    titles.push_back("Частота, Гц");
    return titles;
}

std::string sheet_header(const Dialect& d, const std::array<std::string, kChannels + 1>& units)
{
    std::string line;
    for (const std::string& title : sheet_titles(units))
        line += (line.empty() ? "" : std::string(1, d.sep.list)) + csv_field(title, d.sep.list);
    return line;
}

// The fields of one CSV line, quotes taken off.
std::vector<std::string> fields_of(std::string_view line, char sep)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == sep && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

// Whether `line` is a spreadsheet header of these separators, whatever units it names.
bool is_sheet_header(const Dialect& d, std::string_view line)
{
    const std::vector<std::string> titles = sheet_titles({}), cells = fields_of(line, d.sep.list);
    if (cells.size() != titles.size())
        return false;
    for (size_t i = 0; i < titles.size(); ++i)
        if (cells[i] != titles[i] &&
            !(titles[i].rfind("Значение ", 0) == 0 && cells[i].rfind(titles[i] + ", ", 0) == 0))
            return false;
    return true;
}

Start start_of(const std::string& path, const Dialect& d)
{
    std::string head, tail, reason;
    if (path == kStandardOutput)
        return Start::kHeader;
    if (!file_io::check_target(path, reason))
        throw UsageError("файл " + path + " не дописывается: " + reason);
    if (!file_io::stamp_of(path).present)
        return Start::kHeader;
    if (!file_io::read_ends(path, 1024, head, tail, reason))
        throw UsageError("файл " + path + " не прочитан: " + reason);
    if (head.empty())
        return Start::kHeader;
    std::string_view first = std::string_view(head).substr(0, head.find('\n'));
    bool ours = false;
    if (d.sheet) {
        if (first.substr(0, kBom.size()) == kBom)
            first.remove_prefix(kBom.size());
        if (!first.empty() && first.back() == '\r')
            first.remove_suffix(1);
        ours = is_sheet_header(d, first);
    } else {
        ours = first == kStandardHeader;
    }
    if (!ours)
        throw UsageError("файл " + path + " не дописывается: в нём не показания с заголовком \"" +
                         (d.sheet ? sheet_header(d, {}) : std::string(kStandardHeader)) + "\"; укажите другой файл");
    return tail.empty() || tail.back() == '\n' ? Start::kRows : Start::kNewline;
}

class CsvOutput : public ReadingsOutput {
public:
    // `f` nullptr: standard output.
    CsvOutput(std::string path, std::FILE* f, Start start, const Dialect& d, size_t devices)
        : path_(std::move(path)), f_(f), start_(start), d_(d), devices_(devices)
    {
        if (start_ == Start::kNewline)
            put(d_.eol);
        if (start_ == Start::kHeader && !d_.sheet)
            put(std::string(kStandardHeader) + "\n");
        if (start_ != Start::kHeader || !d_.sheet)
            started_ = true;
    }
    ~CsvOutput() override
    {
        if (f_)
            std::fclose(f_);
    }
    void reading(const Reading& r) override
    {
        const std::string line = row_of(r);
        if (started_) {
            put(line);
            return;
        }
        // The spreadsheet header names the units, known once each device has had its first poll.
        note_units(r);
        held_.push_back(line);
        if (held_.size() == devices_)
            start();
    }
    bool failed() const override { return failed_ || (!f_ && stdout_failed()); }
    int finish() override
    {
        if (!started_)
            start();
        if (!f_)
            return stdout_failed() ? kExitDevice : kExitOk;
        std::FILE* f = f_;
        f_ = nullptr;
        // The readings of the run on the disk before it ends, and the close checked.
        std::string reason;
        if (!failed_ && !file_io::sync(f, reason))
            fail(reason);
        if (std::fclose(f) != 0)
            fail(std::strerror(errno));
        return failed_ ? kExitDevice : kExitOk;
    }

private:
    // Each line whole or not at all: a write that fails takes its part back, is told once, and
    // nothing more is written.
    void put(std::string_view text)
    {
        std::string reason;
        if (!f_)
            put_stdout(std::string(text));
        else if (!failed_ && !file_io::append_record(f_, std::string(text), reason))
            fail(reason);
    }

    void fail(const std::string& reason)
    {
        if (!failed_)
            std::fprintf(stderr, "файл %s не записан: %s\n", path_.c_str(), reason.c_str());
        failed_ = true;
    }

    std::string row_of(const Reading& r) const
    {
        const Value row = reading_row(r);
        std::string line;
        for (const auto& [key, v] : row.members()) {
            std::string cell;
            if (v.kind() == Value::kNull)
                cell.clear();
            else if (d_.sheet && key == "time")
                cell = sheet_time(r.when);
            else
                cell = v.text();
            if (d_.sheet && v.kind() == Value::kNumber)
                for (char& c : cell)
                    if (c == '.')
                        c = d_.sep.decimal;
            line += (line.empty() ? "" : std::string(1, d_.sep.list)) + csv_field(cell, d_.sep.list);
        }
        return line + std::string(d_.eol);
    }

    // A channel's unit in the header only when every device read names the same one.
    void note_units(const Reading& r)
    {
        if (!r.device.scaled)
            return;
        for (int k = 1; k <= kChannels; ++k) {
            const uint8_t code = r.device.dev.parScl(size_t(k)).Measure;
            const std::string unit = code == 0 ? "" : unit_name(code);
            std::string& known = units_[size_t(k)];
            if (!seen_)
                known = unit;
            else if (known != unit)
                known.clear();
        }
        seen_ = true;
    }

    void start()
    {
        put(std::string(kBom) + sheet_header(d_, units_) + std::string(d_.eol));
        for (const std::string& line : held_)
            put(line);
        held_.clear();
        started_ = true;
    }

    std::string path_;
    std::FILE* f_;
    bool failed_ = false;
    Start start_;
    Dialect d_;
    size_t devices_;
    bool started_ = false;
    bool seen_ = false;
    std::array<std::string, kChannels + 1> units_;
    std::vector<std::string> held_;
};

}  // namespace

void check_csv_file(const std::string& path, CsvDialect dialect) { start_of(path, dialect_of(dialect)); }

std::unique_ptr<ReadingsOutput> csv_output(const std::string& path, CsvDialect dialect, size_t devices)
{
    const Dialect d = dialect_of(dialect);
    const Start start = start_of(path, d);
    if (path == kStandardOutput)
        return std::make_unique<CsvOutput>(path, nullptr, start, d, devices);
    std::string reason;
    std::FILE* f = file_io::open_for_writing(path, true, reason);
    if (!f) {
        std::fprintf(stderr, "файл %s не создаётся: %s\n", path.c_str(), reason.c_str());
        return nullptr;
    }
    return std::make_unique<CsvOutput>(path, f, start, d, devices);
}

}  // namespace varnok::cli
