// The line-fault matrix of the request operations: every fault the simulator injects against
// every request the device model makes. Each case checks the code, that a failed request
// left the records as they were, that it took no longer than its time-outs allow, and that
// the request right after it gets its own answer, never a late one meant for the failed request.
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

#include "device/device_fixture.h"
#include "support/device_records.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;

// What a request operation is, for the table.
enum Kind { kRead, kWrite, kBits, kProbe, kSpeedProbe };

struct Op {
    const char* name;
    Kind kind;
    int exchanges;
    std::function<uint8_t(Device&)> run;
    // True when the records hold what the simulator was set to hold (after a good answer).
    std::function<bool(Device&)> fresh;
};

// Values the simulator holds, none of them equal to the records' sentinels.
const char* const kSimState[] = {
    "set holding 1 2",         "set holding 0x40 0x0203", "setf holding 0x41 123.5", "set holding 0x60 0x0104",
    "setf holding 0x61 77.25", "setf holding 0x43 11.5",  "setf holding 0x45 2.25",  "setf holding 0x63 33.5",
    "setf holding 0x65 4.75",  "set holding 0x4A 1111",   "set holding 0x4B 2222",   "set holding 0x6A 3333",
    "set holding 0x6B 4444",   "setf input 0x4C 6.5",     "setf input 0x6C 8.5",     "name Варнок",
    "version 2.0.3",           "set coil 0 0 1 1",        "switch XP1 closed",
};

bool is(float value, float want) { return value == want; }

const std::vector<Op>& ops()
{
    static const std::vector<Op> table = {
        {"zapros_adr", kRead, 1, [](Device& d) { return d.zapros_adr().err; },
         [](Device& d) { return d.link().settings().sys_num == 5; }},
        {"scale", kRead, 1, [](Device& d) { return d.zapros_pars_nastr_SCL_new(2).err; },
         [](Device& d) {
             return d.parScl(2).DecPosition == 2 && d.parScl(2).Measure == 3 &&
                    is(d.parScl(2).Ustavka.as_float(), 123.5f);
         }},
        {"scale of channel 3", kRead, 1, [](Device& d) { return d.zapros_pars_nastr_SCL_new(3).err; },
         [](Device& d) {
             return d.parScl(3).DecPosition == 1 && d.parScl(3).Measure == 4 &&
                    is(d.parScl(3).Ustavka.as_float(), 77.25f);
         }},
        {"setpoints", kRead, 1, [](Device& d) { return d.zapros_pars_nastr_UST_new(2).err; },
         [](Device& d) { return is(d.parUst(2).Max.as_float(), 11.5f) && is(d.parUst(2).Min.as_float(), 2.25f); }},
        {"PWM points", kRead, 1, [](Device& d) { return d.zapros_PWM(2).err; },
         [](Device& d) { return d.Ch(2).PWML == 1111 && d.Ch(2).PWMH == 2222; }},
        {"measured value", kRead, 1, [](Device& d) { return d.zapros_izm_znach_new(2).err; },
         [](Device& d) { return is(d.Ch(2).Urms_te, 6.5f); }},
        {"frequency", kRead, 1, [](Device& d) { return d.read_input(kRegFreq, 2).err; },
         [](Device& d) { return is(d.freq().as_float(), 50.0f); }},
        {"name", kRead, 1, [](Device& d) { return d.read_input(kRegName, kTextRegisters).err; },
         [](Device& d) { return d.tmp_text() == "Варнок"; }},
        {"brightness", kRead, 1, [](Device& d) { return d.read_holding(kRegLight, 1).err; },
         [](Device& d) { return d.light() == 2; }},
        {"stored speed", kRead, 1, [](Device& d) { return d.read_holding(kRegSpeed, 1).err; },
         [](Device& d) { return d.link().settings().num_scor == 2; }},
        {"brightness write", kWrite, 1, [](Device& d) { return d.write_holding(kRegLight, 2).err; }, nullptr},
        {"setpoint write", kWrite, 1, [](Device& d) { return d.write_holding_pair(0x43, 11.5f).err; }, nullptr},
        {"relays", kBits, 1,
         [](Device& d) { return d.exchange(opros_coils(0, 3)).err; },
         [](Device& d) { return !d.onoffK(1) && d.onoffK(2) && d.onoffK(3); }},
        {"switches", kBits, 1,
         [](Device& d) { return d.exchange(opros_discret_inputs(0, 3)).err; },
         [](Device& d) { return d.onoff_swXP1() && d.onoff_swJMP78() && !d.onoff_swXP3(); }},
        {"search probe", kProbe, 1, [](Device& d) { return d.zapros_adr_for_poisk().err; },
         [](Device& d) { return d.link().settings().sys_num == 5; }},
        {"speed probe", kSpeedProbe, 1, [](Device& d) { return d.otvet_ustsv(); }, nullptr},
    };
    return table;
}

// The request made right after each operation, with the same function and count where
// there is one, so that a late answer to the operation would pass its checks.
struct Twin {
    std::function<uint8_t(Device&)> run;
    std::function<bool(Device&)> fresh;
};

Twin twin_of(const Op& op)
{
    const std::string name = op.name;
    if (name == "scale")
        return {ops()[2].run, ops()[2].fresh};
    if (name == "zapros_adr" || name == "brightness")
        return {ops()[9].run, ops()[9].fresh};
    if (name == "setpoints")
        return {
            [](Device& d) { return d.zapros_pars_nastr_UST_new(3).err; },
            [](Device& d) { return is(d.parUst(3).Max.as_float(), 33.5f) && is(d.parUst(3).Min.as_float(), 4.75f); }};
    if (name == "PWM points")
        return {[](Device& d) { return d.zapros_PWM(3).err; },
                [](Device& d) { return d.Ch(3).PWML == 3333 && d.Ch(3).PWMH == 4444; }};
    if (name == "measured value" || name == "frequency")
        return {[](Device& d) { return d.zapros_izm_znach_new(3).err; },
                [](Device& d) { return is(d.Ch(3).Urms_te, 8.5f); }};
    if (name == "name")
        return {[](Device& d) { return d.read_input(kRegVersion, kTextRegisters).err; },
                [](Device& d) { return d.tmp_text() == "2.0.3"; }};
    if (name == "brightness write")
        return {[](Device& d) { return d.write_holding(0x4A, 1111).err; }, nullptr};
    if (name == "setpoint write")
        return {[](Device& d) { return d.write_holding_pair(0x63, 33.5f).err; }, nullptr};
    return {op.run, op.fresh};
}

// Everything an answer can change in the records, as text, and the values no answer gives.
std::string records(const Device& d)
{
    std::string s;
    for (int n = 1; n <= kChannels; ++n) {
        s += std::to_string(d.parScl(n).Ustavka.Long) + "," + std::to_string(d.parScl(n).DecPosition) + "," +
             std::to_string(d.parScl(n).Measure) + "," + std::to_string(d.parUst(n).Max.Long) + "," +
             std::to_string(d.parUst(n).Min.Long) + "," + std::to_string(d.Ch(n).Urms_te) + "," +
             std::to_string(d.Ch(n).PWML) + "," + std::to_string(d.Ch(n).PWMH) + "," + std::to_string(d.onoffK(n)) +
             ";";
    }
    return s + std::to_string(d.freq().Long) + "," + std::to_string(d.light()) + "," + std::to_string(d.onoff_swXP1()) +
           std::to_string(d.onoff_swJMP78()) + std::to_string(d.onoff_swXP3()) + "," +
           std::to_string(d.link().settings().sys_num) + "," + std::to_string(d.link().settings().num_scor) + "," +
           d.tmp_str();
}

void put_sentinels(Device& d)
{
    for (int n = 1; n <= kChannels; ++n) {
        test::set_ustavka(d, n, -1);
        test::set_format(d, n, 9, 9);
        test::set_max(d, n, -1);
        test::set_min(d, n, -1);
        test::set_urms_te(d, n, -1);
        test::set_pwm(d, n, 9, 9);
    }
    d.coil_byte(0);  // no relay energised
    test::set_freq(d, -1);
    test::set_light(d, 9);
    d.input_byte(3);  // XP1 and JMP78 open, XP3 closed
    d.link().set_sys_num(5);
    d.link().set_speed_code(2);
    const uint8_t sentinel[] = {'s', 'e', 'n', 't', 'i', 'n', 'e', 'l'};
    d.input_data(sentinel);
}

struct FaultClass {
    const char* name;
    const char* command;
    // The code of each kind of operation; for the speed probe, the speed code it gives.
    uint8_t read, write, bits, probe, speed_probe;
    // The device answers later than the whole hunt for the answer, and that is not waited
    // out (it would cost every exchange with an absent device as much again): the request
    // right after may fail on the late answer, but never takes it for its own.
    bool late = false;
};

// Decided where the Parts leave it open: an answer from another address is skipped by the
// address hunt, so it is no answer; an over-long answer fails its CRC where the receiver
// reads past the frame (the search probe reads exactly the frame and takes it); a byte count
// or an echoed count that lies is a format error even with a right CRC.
const FaultClass kClasses[] = {
    {"silence", "fault silence", kNoAnswer, kNoAnswer, kNoAnswer, kInterrupted, 0},
    {"noise", "fault noise 3", kOk, kOk, kOk, kInterrupted, 0},
    {"crc", "fault crc", kBadCrc, kBadCrc, kBadCrc, kBadCrc, 0},
    {"address", "fault address", kNoAnswer, kNoAnswer, kNoAnswer, kInterrupted, 0},
    {"function", "fault function", kWrongFunction, kWrongFunction, kWrongFunction, kWrongFunction, 0},
    {"exception1", "fault exception 1", 1, 1, 1, 1, 0},
    {"exception2", "fault exception 2", 2, 2, 2, 2, 0},
    {"exception3", "fault exception 3", 3, 3, 3, 3, 0},
    {"exception4", "fault exception 4", 4, 4, 4, 4, 0},
    {"exception5", "fault exception 5", kBusy, kBusy, kBusy, kBusy, 0},
    {"busy", "fault busy", kBusy, kBusy, kBusy, kBusy, 0},
    {"truncate", "fault truncate 4", kBadCrc, kBadCrc, kBadCrc, kBadCrc, 0},
    {"long", "fault long 3", kBadCrc, kBadCrc, kBadCrc, kOk, 2},
    {"slow", "fault slow 600", kNoAnswer, kNoAnswer, kNoAnswer, kInterrupted, 0, true},
    {"count", "fault count 2", kBadFormat, kBadFormat, kBadFormat, kBadFormat, 0},
};

void PrintTo(const FaultClass& c, std::ostream* os) { *os << c.name; }

uint8_t expected(const FaultClass& c, const Op& op)
{
    // The other device's answer to a read of the address register carries our address as its
    // data: the hunt starts there, and what follows fails the CRC.
    if (std::string(c.name) == "address" && std::string(op.name) == "zapros_adr")
        return kBadCrc;
    const uint8_t by_kind[] = {c.read, c.write, c.bits, c.probe, c.speed_probe};
    return by_kind[op.kind];
}

// The longest an exchange at 9600 bit/s may take, with room for a busy machine: pauses,
// six one-byte reads of the hunt, the rest of the answer, the wait after a failure.
constexpr auto kExchangeBudget = 1500ms;

class FaultMatrix : public DeviceOnSim, public ::testing::WithParamInterface<FaultClass> {
protected:
    FaultMatrix() : DeviceOnSim({"--noise", "0", "--whole-answers"}) {}
    void SetUp() override
    {
        for (const char* c : kSimState)
            ASSERT_EQ(sim.command(c), "ok") << c;
        open_at(9600);
    }
};

TEST_P(FaultMatrix, EveryRequestOperation)
{
    const FaultClass& c = GetParam();
    for (const Op& op : ops()) {
        SCOPED_TRACE(std::string(c.name) + " against " + op.name);
        ASSERT_EQ(sim.command("fault clear"), "ok");
        ASSERT_EQ(sim.command(c.command), "ok");
        put_sentinels(dev);
        const std::string before = records(dev);

        const auto start = std::chrono::steady_clock::now();
        const uint8_t code = op.run(dev);
        EXPECT_LT(std::chrono::steady_clock::now() - start, op.exchanges * kExchangeBudget);
        const uint8_t want = expected(c, op);
        EXPECT_EQ(int(code), int(want));
        const bool failed = op.kind == kSpeedProbe ? code == 0 : code != kOk;
        if (failed) {
            EXPECT_EQ(records(dev), before) << "a failed request changed the records";
        } else if (op.fresh) {
            EXPECT_TRUE(op.fresh(dev)) << "a good answer was not decoded";
        }

        // Right away, as the console goes on: the next request gets its own answer.
        const Twin twin = twin_of(op);
        put_sentinels(dev);
        const uint8_t next = twin.run(dev);
        const uint8_t good = op.kind == kSpeedProbe ? 2 : kOk;
        if (c.late && next != good)
            continue;
        EXPECT_EQ(int(next), int(good)) << "the request after it";
        if (twin.fresh) {
            EXPECT_TRUE(twin.fresh(dev)) << "the request after it took another answer";
        }
    }
    EXPECT_TRUE(notices.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kClasses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnok::test
