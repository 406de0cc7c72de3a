#pragma once
// Device operations against the simulator, with what they report recorded.

#include <string>
#include <vector>

#include "device/device_fixture.h"
#include "support/hex.h"
#include "modbus/exchange.h"
#include "ops/report.h"

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

class OpsOnSim : public DeviceOnSim {
protected:
    using DeviceOnSim::DeviceOnSim;
    RecordingReport report;
};

}  // namespace varnok::test
