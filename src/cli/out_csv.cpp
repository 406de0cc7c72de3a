// read's readings to a CSV file: its header, then a line per reading, each flushed at once so
// that an interrupted run leaves whole lines. A file that exists is added to: a shift log
// grows run by run.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/options.h"
#include "cli/readings.h"
#include "cli/session.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

constexpr std::string_view kHeader = "time,address,value1,percent1,value2,percent2,value3,percent3,frequency\n";

// What goes into the file before its first new row.
enum class Start {
    kHeader,   // a new or empty file
    kNewline,  // its last line was cut short
    kRows,
};

Start start_of(const std::string& path)
{
    if (!file_io::stamp_of(path).present)
        return Start::kHeader;
    std::string head, tail, reason;
    if (!file_io::read_ends(path, kHeader.size(), head, tail, reason))
        throw UsageError("файл " + path + " не прочитан: " + reason);
    if (head.empty())
        return Start::kHeader;
    const std::string_view header = kHeader.substr(0, kHeader.size() - 1);
    if (std::string_view(head).substr(0, head.find('\n')) != header)
        throw UsageError("файл " + path + " не дописывается: в нём не показания с заголовком \"" +
                         std::string(header) + "\"; укажите другой файл");
    return tail.empty() || tail.back() == '\n' ? Start::kRows : Start::kNewline;
}

class CsvOutput : public ReadingsOutput {
public:
    CsvOutput(std::FILE* f, Start start) : f_(f)
    {
        if (start == Start::kHeader)
            std::fwrite(kHeader.data(), 1, kHeader.size(), f_);
        else if (start == Start::kNewline)
            std::fputc('\n', f_);
        std::fflush(f_);
    }
    ~CsvOutput() override
    {
        if (f_)
            std::fclose(f_);
    }
    void reading(const Reading& r) override
    {
        const Value row = reading_row(r);
        std::string line;
        for (const auto& [key, v] : row.members())
            line += (line.empty() ? "" : ",") + (v.kind() == Value::kNull ? std::string() : v.text());
        std::fprintf(f_, "%s\n", line.c_str());
        std::fflush(f_);
    }
    int finish() override
    {
        std::FILE* f = f_;
        f_ = nullptr;
        if (std::fclose(f) != 0) {
            std::fprintf(stderr, "файл не записан: %s\n", std::strerror(errno));
            return kExitDevice;
        }
        return kExitOk;
    }

private:
    std::FILE* f_;
};

}  // namespace

void check_csv_file(const std::string& path) { start_of(path); }

std::unique_ptr<ReadingsOutput> csv_output(const std::string& path)
{
    const Start start = start_of(path);
    std::string reason;
    std::FILE* f = file_io::open_for_writing(path, true, reason);
    if (!f) {
        std::fprintf(stderr, "файл %s не создаётся: %s\n", path.c_str(), reason.c_str());
        return nullptr;
    }
    return std::make_unique<CsvOutput>(f, start);
}

}  // namespace varnok::cli
