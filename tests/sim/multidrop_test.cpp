// Several devices on one line, seen by our master: each answers at its own number and line
// only, with its own registers and faults; two that answer at once garble the answer.

#include <algorithm>

#include "sim/sim_fixture.h"

namespace varnok::test {
namespace {

class MultiDrop : public SimMaster {
protected:
    MultiDrop()
        : SimMaster({"--noise", "0", "--device-at", "3", "--device-at", "17:9600:8N1", "--device-at", "9:38400:8E2"})
    {
    }

    // The code of an address read at `number`, and the number the answer carried.
    uint8_t ask(uint8_t number)
    {
        link.set_sys_num(number);
        sink.holding[0x800] = 0;
        return read(3, 0x800, 1);
    }
};

TEST_F(MultiDrop, EachDeviceAnswersAtItsOwnNumberAndLineOnly)
{
    const struct {
        int32_t speed;
        uint8_t parity, stop;
        std::vector<uint8_t> heard;
    } lines[] = {{9600, 0, 1, {3, 17}}, {38400, 2, 2, {9}}, {38400, 0, 2, {}}, {19200, 0, 1, {}}};
    for (const auto& l : lines) {
        open_at(l.speed, l.stop, l.parity);
        for (uint8_t number : {3, 5, 9, 17}) {
            const bool heard = std::find(l.heard.begin(), l.heard.end(), number) != l.heard.end();
            SCOPED_TRACE(std::to_string(l.speed) + " parity " + std::to_string(l.parity) + " number " +
                         std::to_string(number));
            EXPECT_EQ(ask(number), heard ? kOk : kNoAnswer);
            EXPECT_EQ(sink.holding[0x800], heard ? number : 0);
        }
    }
    EXPECT_EQ(sim.dump()["devices"], "3");
}

TEST_F(MultiDrop, RegistersAndFaultsBelongToTheSelectedDevice)
{
    ASSERT_EQ(sim.command("device 2"), "ok #2 17 9600 8N1");
    ASSERT_EQ(sim.command("set holding 1 2"), "ok");
    link.set_sys_num(17);
    ASSERT_EQ(read(3, 1, 1), kOk);
    EXPECT_EQ(sink.holding[1], 2);
    link.set_sys_num(3);
    ASSERT_EQ(read(3, 1, 1), kOk);
    EXPECT_EQ(sink.holding[1], 3);

    ASSERT_EQ(sim.command("fault exception 4 always"), "ok");
    EXPECT_EQ(ask(17), kDeviceFailure);
    EXPECT_EQ(ask(3), kOk);
    // A number written to one device moves only that one.
    link.set_sys_num(3);
    EXPECT_EQ(write(0x800, {4}), kOk);
    EXPECT_EQ(ask(3), kNoAnswer);
    EXPECT_EQ(ask(4), kOk);
    EXPECT_EQ(sim.command("device list"), "ok");
    EXPECT_EQ(sim.body(), (std::vector<std::string>{"#1 4 9600 8N1", "#2 17 9600 8N1 selected", "#3 9 38400 8E2"}));

    // Two devices at one number and line both answer: 00 03 AND 00 01 is 00 01, and the two
    // CRCs ANDed do not fit it.
    ASSERT_EQ(sim.command("device add 4:9600"), "ok #4 4 9600 8N1");
    ASSERT_EQ(sim.command("set holding 1 1"), "ok");
    link.set_sys_num(4);
    EXPECT_EQ(read(3, 1, 1), kBadCrc);
}

TEST(MultiDropOptions, DevicesAreNamedOneWayOnly)
{
    EXPECT_THROW(SimProcess({"--device-at", "3", "--address", "4"}), std::runtime_error);
    for (const char* bad : {"0", "3:1234", "3:9600:7N1", "3:9600:8X1", "3:9600:8N3", "x"})
        EXPECT_THROW(SimProcess({"--device-at", bad}), std::runtime_error) << bad;
    SimProcess sim({"--device-at", "3", "--device-at", "4:115200:8O1"});
    EXPECT_EQ(sim.dump()["selected"], "#1 3 9600 8N1");
    EXPECT_EQ(sim.command("device 3"),
              "error: usage: device add ADDR[:SPEED[:FORMAT]] | device N (1..2) | device list");
}

}  // namespace
}  // namespace varnok::test
