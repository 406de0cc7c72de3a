// read's readings as aligned text on standard output, a line each, "-" for a failed read.
#include <cstdio>

#include "cli/readings.h"
#include "cli/session.h"
#include "cli/standard_output.h"

namespace varnok::cli {

namespace {

class TextOutput : public ReadingsOutput {
public:
    void reading(const Reading& r) override
    {
        const Value row = reading_row(r);
        std::string line;
        for (const auto& [key, v] : row.members())
            line += (line.empty() ? "" : "  ") + (v.kind() == Value::kNull ? std::string(v.text().empty() ? "-" : "нет значения") : v.text());
        put_stdout(line + "\n");
    }
    bool failed() const override { return stdout_failed(); }
    int finish() override { return stdout_failed() ? kExitDevice : kExitOk; }
};

}  // namespace

std::unique_ptr<ReadingsOutput> text_output() { return std::make_unique<TextOutput>(); }

}  // namespace varnok::cli
