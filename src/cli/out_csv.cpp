// read's readings to a CSV file: its header, then a line per reading, each flushed at once so
// that an interrupted run leaves whole lines.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/readings.h"
#include "cli/session.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

class CsvOutput : public ReadingsOutput {
public:
    explicit CsvOutput(std::FILE* f) : f_(f)
    {
        std::fputs("time,address,value1,percent1,value2,percent2,value3,percent3,frequency\n", f_);
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

std::unique_ptr<ReadingsOutput> csv_output(const std::string& path)
{
    std::string reason;
    std::FILE* f = file_io::open_for_writing(path, false, reason);
    if (!f) {
        std::fprintf(stderr, "файл %s не создаётся: %s\n", path.c_str(), reason.c_str());
        return nullptr;
    }
    return std::make_unique<CsvOutput>(f);
}

}  // namespace varnok::cli
