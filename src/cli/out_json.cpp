// read's readings as one JSON array on standard output once the run is over.
#include <cstdio>

#include "cli/readings.h"

namespace varnok::cli {

namespace {

class JsonOutput : public ReadingsOutput {
public:
    void reading(const Reading& r) override { rows_.push(reading_row(r)); }
    int finish() override
    {
        const std::string out = to_json(rows_);
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        return 0;
    }

private:
    Value rows_ = Value::array();
};

}  // namespace

std::unique_ptr<ReadingsOutput> json_output() { return std::make_unique<JsonOutput>(); }

}  // namespace varnok::cli
