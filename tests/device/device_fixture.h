#pragma once
// The device model on a link to the simulator, with real time-outs and recorded message boxes:
// the simulator on a pseudo-terminal (SimProcess), or in the test's own process (SimInProcess).

#include <gtest/gtest.h>

#include "device/device.h"
#include "support/fakes.h"
#include "support/sim_in_process.h"
#include "support/sim_process.h"

namespace varnok::test {

template <class Sim>
class DeviceOn : public ::testing::Test {
protected:
    explicit DeviceOn(std::vector<std::string> args = {"--noise", "0"})
        : sim(std::move(args)), link(notices, sleeper, ports), dev(link, notices)
    {
        sim.connect(ports, link);
    }
    // The port set up at `speed` with the time-outs of its row, addressing number 5.
    void open_at(int32_t speed)
    {
        link.set_speed(speed);
        link.set_sys_num(5);
        link.vich_timeout(link.settings().num_scor);
        ASSERT_EQ(link.dw(), 0u) << link.last_failure();
    }
    float dumped_float(const std::string& key) { return std::stof(sim.dump().at(key)); }

    Sim sim;
    PortMap ports;
    RecordingNotices notices;
    ThreadSleeper sleeper;
    ScriptedKeys keys;
    Link link;
    Device dev;
};

using DeviceOnSim = DeviceOn<SimProcess>;

}  // namespace varnok::test
