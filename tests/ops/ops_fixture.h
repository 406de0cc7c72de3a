#pragma once
// Device operations against the simulator, with what they report recorded. The simulator runs
// in the test's process; where the terminal's settings are what a test is about, on a
// pseudo-terminal (OpsOn<SimProcess>).

#include <string>
#include <vector>

#include "device/device_fixture.h"
#include "modbus/exchange.h"
#include "ops/report.h"
#include "support/hex.h"

namespace varnok::test {

class RecordingReport : public Report {
public:
    void exchange(const Exchange& x) override { requests.push_back(hex(Bytes(x.sent().begin(), x.sent().end()))); }
    void line(const std::string& text) override { lines.push_back(text); }
    void status(const std::string& text) override { statuses.push_back(text); }

    std::vector<std::string> requests;  // of the exchanges shown
    std::vector<std::string> lines;
    std::vector<std::string> statuses;
};

template <class Sim>
class OpsOn : public DeviceOn<Sim> {
protected:
    using DeviceOn<Sim>::DeviceOn;
    RecordingReport report;
};

using OpsOnSim = OpsOn<SimInProcess>;

}  // namespace varnok::test
