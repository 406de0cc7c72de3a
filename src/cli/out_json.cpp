// read's readings as JSON Lines on standard output: an object per reading, each line flushed at
// once so that a pipe sees the readings as they come; a line that could not be written ends the run.
#include <cstdio>

#include "cli/readings.h"
#include "cli/session.h"
#include "cli/standard_output.h"

namespace varnok::cli {

namespace {

class JsonOutput : public ReadingsOutput {
public:
    void reading(const Reading& r) override { put_stdout(to_json(reading_message(r))); }
    bool failed() const override { return stdout_failed(); }
    int finish() override { return stdout_failed() ? kExitDevice : kExitOk; }
};

}  // namespace

std::unique_ptr<ReadingsOutput> json_output() { return std::make_unique<JsonOutput>(); }

}  // namespace varnok::cli
