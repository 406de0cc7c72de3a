// read's readings as JSON Lines on standard output: an object per reading, each line flushed at
// once so that a pipe sees the readings as they come.
#include <cstdio>

#include "cli/readings.h"

namespace varnok::cli {

namespace {

class JsonOutput : public ReadingsOutput {
public:
    void reading(const Reading& r) override
    {
        const std::string line = to_json(reading_message(r));
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
};

}  // namespace

std::unique_ptr<ReadingsOutput> json_output() { return std::make_unique<JsonOutput>(); }

}  // namespace varnok::cli
