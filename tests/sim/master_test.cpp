// The simulator against our own master: what it answers, what it refuses, what it ignores,
// and what each injected fault looks like to the answer check.

#include "sim/sim_fixture.h"

namespace varnok::test {
namespace {

using Sim = SimMaster;

// ---------------------------------------------------------------- reads

TEST_F(Sim, ReadsOfEveryKindDecodeTheDeviceOutOfTheBox)
{
    ASSERT_EQ(read(3, 1, 1), kOk);
    EXPECT_EQ(sink.holding[1], 3);  // brightness
    ASSERT_EQ(read(3, 0x800, 4), kOk);
    EXPECT_EQ(sink.holding[0x800], 5);
    EXPECT_EQ(sink.holding[0x801], 2);
    EXPECT_EQ(sink.holding[0x802], 0);
    EXPECT_EQ(sink.holding[0x803], 1);

    ASSERT_EQ(read(4, 2, 12), kOk);
    EXPECT_EQ(input_float(2), 50.0f);
    ASSERT_EQ(sink.text.size(), 24u);
    EXPECT_EQ(sink.text.substr(4, 10), "\xC2\xE0\xF0\xED\xEE\xEA \xCF\xCC\x33");  // "Варнок ПМ3", Windows-1251
    EXPECT_EQ(sink.text.substr(14), "V2.07 2026");

    // Out of the box the stored zero is the true zero and Ncal = top / gain, so every channel
    // reads its signal's share of its scale. The zero reading is the converter's raw reading,
    // signal included (channel 2's passes the top of its register).
    struct Expect {
        uint16_t format;
        float top;
        uint16_t ref;
        uint32_t adc;
        float value;
        uint16_t zero_reading;
    };
    const Expect channels[] = {{0x0201, 250.0f, 1012, 42500, 106.25f, 43512},
                               {0x0004, 5.0f, 873, 73100, 3.655f, 65535},
                               {0x0103, 20.0f, 1530, 12000, 2.4f, 13530}};
    for (int ch = 1; ch <= 3; ++ch) {
        SCOPED_TRACE("channel " + std::to_string(ch));
        const Expect& e = channels[ch - 1];
        const uint16_t b = uint16_t(32 * ch);
        ASSERT_EQ(read(3, b, 12), kOk);
        EXPECT_EQ(sink.holding[b], e.format);
        EXPECT_EQ(holding_float(b + 1), e.top);
        EXPECT_EQ(sink.holding[b + 7], e.ref);
        EXPECT_FLOAT_EQ(holding_float(b + 8), e.top / 100000.0f);
        ASSERT_EQ(read(4, b + 12, 5), kOk);
        EXPECT_FLOAT_EQ(input_float(b + 12), e.value);
        EXPECT_EQ(sink.input[b + 14], e.zero_reading);
        EXPECT_EQ(wire_u32(sink.input[b + 15], sink.input[b + 16]), e.adc);
    }

    ASSERT_EQ(request(opros_coils(0, 3)), kOk);
    EXPECT_EQ(sink.coils.back(), 0x04);  // only channel 3 (2.4 below its Min 3) trips its relay
    ASSERT_EQ(request(opros_discret_inputs(0, 3)), kOk);
    EXPECT_EQ(sink.inputs.back(), 0x05);  // JMP78 closed reads 0
    ASSERT_EQ(sim.command("switch XP1 closed"), "ok");
    ASSERT_EQ(request(opros_discret_inputs(0, 3)), kOk);
    EXPECT_EQ(sink.inputs.back(), 0x04);
}

TEST_F(Sim, FloatsTravelLeastSignificantByteFirst)
{
    ASSERT_EQ(sim.command("set holding 32 0x0205"), "ok");
    read(3, 0x20, 3);
    EXPECT_EQ(received(), "05 03 06 02 05 00 00 7A 43 BC C6");

    ASSERT_EQ(sim.command("setf holding 35 1.0"), "ok");
    ASSERT_EQ(read(3, 35, 2), kOk);
    EXPECT_EQ(sink.holding[35], 0x0000);
    EXPECT_EQ(sink.holding[36], 0x803F);
}

// ---------------------------------------------------------------- refusals

TEST_F(Sim, OtherFunctionsAreRefusedWithExceptionOne)
{
    // Function 6 is not the device's; the frame ends at the silence after it.
    EXPECT_EQ(hex(raw({5, 6, 0, 1, 0, 2}, 8)), hex(with_crc({5, 0x86, 1})));
    EXPECT_EQ(hex(raw({5, 0x2B, 0x0E, 1, 0}, 8)), hex(with_crc({5, 0xAB, 1})));
}

TEST_F(Sim, RangesTouchingAnAddressOutsideTheMapAreRefusedWithExceptionTwo)
{
    EXPECT_EQ(read(3, 1, 2), kIllegalAddress);
    EXPECT_EQ(read(3, 0x2B, 2), kIllegalAddress);
    EXPECT_EQ(read(3, 0x804, 1), kIllegalAddress);
    EXPECT_EQ(read(4, 0x2C, 6), kIllegalAddress);
    EXPECT_EQ(read(4, 1, 1), kIllegalAddress);
    EXPECT_EQ(request(opros_coils(1, 3)), kIllegalAddress);
    EXPECT_EQ(write(0x2B, {100, 100}), kIllegalAddress);
    EXPECT_EQ(sim.command("get holding 0x2B"), "ok 1480");  // nothing of a refused write is stored
}

TEST_F(Sim, BadCountsAndValuesAreRefusedWithExceptionThreeAndNotStored)
{
    EXPECT_EQ(read(3, 1, 0), kIllegalValue);
    EXPECT_EQ(hex(raw({5, 3, 0, 1, 0, 126}, 8)), hex(with_crc({5, 0x83, 3})));
    EXPECT_EQ(hex(raw({5, 16, 0, 1, 0, 1, 3, 0, 2, 0}, 8)), hex(with_crc({5, 0x90, 3})));  // byte count not 2n

    struct Case {
        uint16_t address;
        std::vector<uint16_t> values;
    };
    const uint16_t nan_first = 0x0000, nan_second = 0xC07F;  // 7FC00000, a NaN
    const Case cases[] = {{1, {0}},
                          {1, {4}},
                          {0x20, {0x0407}},
                          {0x40, {0x0007}},
                          {0x800, {0}},
                          {0x800, {248}},
                          {0x801, {0}},
                          {0x801, {7}},
                          {0x802, {3}},
                          {0x803, {0}},
                          {0x803, {3}},
                          {0x800, {6, 9}},
                          {0x21, {nan_first, nan_second}}};
    for (const Case& c : cases) {
        SCOPED_TRACE("register " + std::to_string(c.address) + " value " + std::to_string(c.values.back()));
        const std::string before = sim.command("get holding " + std::to_string(c.address));
        EXPECT_EQ(write(c.address, c.values), kIllegalValue);
        EXPECT_EQ(sim.command("get holding " + std::to_string(c.address)), before);
    }
}

// ---------------------------------------------------------------- writes

TEST_F(Sim, StoredCalibrationAndSetpointsDriveTheReadings)
{
    ASSERT_EQ(sim.command("signal 1 100"), "ok");
    ASSERT_EQ(read(4, 0x2C, 5), kOk);
    EXPECT_EQ(wire_u32(sink.input[0x2F], sink.input[0x30]), 100000u);
    EXPECT_FLOAT_EQ(input_float(0x2C), 250.0f);

    EXPECT_EQ(write(0x27, {1012 + 500}), kOk);      // a zero 500 counts too high
    EXPECT_EQ(write(0x28, {0x6F12, 0x833A}), kOk);  // Ncal 0.001 (3A83126F)
    ASSERT_EQ(read(4, 0x2C, 5), kOk);
    EXPECT_EQ(wire_u32(sink.input[0x2F], sink.input[0x30]), 99500u);
    EXPECT_FLOAT_EQ(input_float(0x2C), 99.5f);
    EXPECT_EQ(sink.input[0x2E], 65535);  // the converter's raw reading, not the stored zero

    ASSERT_EQ(sim.command("signal 1 -10"), "ok");
    ASSERT_EQ(read(4, 0x2F, 2), kOk);
    EXPECT_EQ(wire_u32(sink.input[0x2F], sink.input[0x30]), 0u);  // never below zero

    // Relay K1 is energised above Max and below Min.
    ASSERT_EQ(sim.command("signal 1 50"), "ok");  // 49.5 with this calibration
    const auto relays = [&] {
        EXPECT_EQ(request(opros_coils(0, 3)), kOk);
        return sink.coils.back() & 1;
    };
    EXPECT_EQ(relays(), 0);
    EXPECT_EQ(write(0x23, {0x0000, 0x4042}), kOk);  // Max 48.0
    EXPECT_EQ(relays(), 1);
    EXPECT_EQ(write(0x23, {0x0000, 0x6143}), kOk);  // Max 225.0
    EXPECT_EQ(write(0x25, {0x0000, 0x5C42}), kOk);  // Min 55.0
    EXPECT_EQ(relays(), 1);

    EXPECT_EQ(write(1, {1}), kOk);
    EXPECT_EQ(sim.command("get holding 1"), "ok 1");
}

// A line the master may be on: number, speed, parity, stop bits.
struct Line {
    uint8_t address;
    int32_t speed;
    uint8_t parity, stop;
};

struct LineWrite {
    uint16_t reg, value;
    std::vector<Line> deaf;  // where the device no longer answers
    Line heard;
    const char* seen;  // the terminal line as the simulator then sees it
};

class SimLine : public SimMaster, public ::testing::WithParamInterface<LineWrite> {
protected:
    uint8_t probe(const Line& l)
    {
        open_at(l.speed, l.stop, l.parity);
        link.set_sys_num(l.address);
        return read(3, 0x800, 4);
    }
};

TEST_P(SimLine, AWrittenLineSettingTakesEffectAfterItsAnswer)
{
    const LineWrite& c = GetParam();
    EXPECT_EQ(write(c.reg, {c.value}), kOk);  // answered on the old line
    for (const Line& l : c.deaf)
        EXPECT_EQ(probe(l), kNoAnswer) << l.speed << " " << int(l.parity) << " " << int(l.stop);
    ASSERT_EQ(probe(c.heard), kOk);
    EXPECT_EQ(sink.holding[c.reg], c.value);
    EXPECT_EQ(sim.dump()["terminal line"], c.seen);
}

// Parity on a pseudo-terminal: the kernel keeps PARODD and our port's INPCK, so all three tell.
INSTANTIATE_TEST_SUITE_P(
    Registers, SimLine,
    ::testing::Values(LineWrite{0x801, 3, {{5, 9600, 0, 1}}, {5, 19200, 0, 1}, "19200 bit/s 8N1"},
                      LineWrite{0x802, 1, {{5, 9600, 0, 1}, {5, 9600, 2, 1}}, {5, 9600, 1, 1}, "9600 bit/s 8O1"},
                      LineWrite{0x802, 2, {{5, 9600, 0, 1}, {5, 9600, 1, 1}}, {5, 9600, 2, 1}, "9600 bit/s 8E1"},
                      LineWrite{0x803, 2, {{5, 9600, 0, 1}}, {5, 9600, 0, 2}, "9600 bit/s 8N2"},
                      LineWrite{0x800, 7, {{5, 9600, 0, 1}}, {7, 9600, 0, 1}, "9600 bit/s 8N1"}));

TEST_F(Sim, TheStoredSpeedMayDifferFromTheLineInForce)
{
    ASSERT_EQ(sim.command("stored speed 38400"), "ok 5 38400 8N1");
    ASSERT_EQ(read(3, 0x801, 1), kOk);  // still heard at 9600
    EXPECT_EQ(sink.holding[0x801], 4);
    // A write puts in force only what it wrote.
    EXPECT_EQ(write(0x802, {0}), kOk);
    EXPECT_EQ(read(3, 0x801, 1), kOk);
    EXPECT_EQ(sim.dump()["stored line"], "5 38400 8N1");
}

// ---------------------------------------------------------------- calibration and scripted readings

// A calibration as the console makes it: the zero reading taken as the stored zero, then at
// 100 % the coefficient top / converter output.
TEST_F(Sim, ACalibrationMadeAtZeroAndFullScaleReadsTheScale)
{
    const struct {
        double zero_at;                                  // signal while the zero is taken
        double at_0, at_50, at_100;                      // readings afterwards, in parts of the top
    } rows[] = {{0, 0, 0.5, 1}, {30, 0, 0.2 / 0.7, 1}};  // with a signal on, the zero is visibly wrong
    const float tops[] = {250.0f, 5.0f, 20.0f};
    ASSERT_EQ(sim.command("noise 3"), "ok");
    for (const auto& row : rows) {
        for (int ch = 1; ch <= 3; ++ch) {
            SCOPED_TRACE("zero at " + std::to_string(row.zero_at) + " %, channel " + std::to_string(ch));
            const uint16_t b = uint16_t(32 * ch);
            const std::string signal = "signal " + std::to_string(ch) + " ";
            ASSERT_EQ(sim.command(signal + std::to_string(row.zero_at)), "ok");
            ASSERT_EQ(read(4, b + 14, 1), kOk);
            ASSERT_EQ(write(b + 7, {sink.input[b + 14]}), kOk);
            ASSERT_EQ(sim.command(signal + "100"), "ok");
            ASSERT_EQ(read(4, b + 15, 2), kOk);
            const float ncal = tops[ch - 1] / float(wire_u32(sink.input[b + 15], sink.input[b + 16]));
            const uint32_t bits = std::bit_cast<uint32_t>(ncal);
            ASSERT_EQ(write(b + 8, {uint16_t((bits & 0xFF) << 8 | (bits >> 8 & 0xFF)),
                                    uint16_t((bits >> 16 & 0xFF) << 8 | bits >> 24)}),
                      kOk);
            for (const auto& [percent, expect] : {std::pair{"0", row.at_0}, {"50", row.at_50}, {"100", row.at_100}}) {
                ASSERT_EQ(sim.command(signal + percent), "ok");
                ASSERT_EQ(read(4, b + 12, 2), kOk);
                EXPECT_NEAR(input_float(b + 12), expect * tops[ch - 1], 1e-4 * tops[ch - 1]) << percent << " %";
            }
        }
    }
}

TEST_F(Sim, ScriptedReadingsComeOnePerRequestThenTheLiveValue)
{
    const struct {
        const char* script;
        uint16_t start, count, at;
        bool wide;
        std::vector<uint32_t> readings;  // the last one live
    } cases[] = {
        {"script input 0x2E 450*3 451", 0x2E, 1, 0x2E, false, {450, 450, 450, 451, 43512}},
        {"scriptl input 0x4F 100000*2 99998", 0x4C, 5, 0x4F, true, {100000, 100000, 99998, 73100}},
        {"scriptf input 0x6C 1.5 -2", 0x6C, 2, 0x6C, true, {0x3FC00000, 0xC0000000, 0x40199999}},  // live 2.4
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        ASSERT_EQ(sim.command(c.script).substr(0, 2), "ok");
        for (const uint32_t expect : c.readings) {
            ASSERT_EQ(read(4, c.start, c.count), kOk);
            EXPECT_EQ(c.wide ? wire_u32(sink.input[c.at], sink.input[c.at + 1]) : sink.input[c.at], expect);
        }
    }

    // Looking does not take a reading, nor does a request the device does not act on; an
    // override is what stays after the script.
    ASSERT_EQ(sim.command("set input 0x4E 500"), "ok");
    ASSERT_EQ(sim.command("script input 0x4E 450 451"), "ok 2 readings");
    EXPECT_EQ(sim.command("get input 0x4E"), "ok 450");
    ASSERT_EQ(sim.command("fault silence"), "ok");
    EXPECT_EQ(read(4, 0x4E, 1), kNoAnswer);
    for (const uint16_t expect : {450, 451, 500}) {
        ASSERT_EQ(read(4, 0x4E, 1), kOk);
        EXPECT_EQ(sink.input[0x4E], expect);
    }
    EXPECT_EQ(sim.command("script input 0x20 1"), "error: input register 32 is not in the map");
    ASSERT_EQ(sim.command("scriptl input 0x2F 1"), "ok 1 reading");
    EXPECT_EQ(sim.command("script input 0x30 1"), "error: it overlaps the script at 47");
}

// ---------------------------------------------------------------- ignored requests

TEST_F(Sim, RequestsItMustNotAnswerGetSilence)
{
    ASSERT_EQ(sim.command("line speed 19200"), "ok 5 19200 8N1");
    EXPECT_EQ(read(3, 1, 1), kNoAnswer);
    ASSERT_EQ(sim.command("line speed 9600 stop 2"), "ok 5 9600 8N2");
    EXPECT_EQ(read(3, 1, 1), kNoAnswer);
    ASSERT_EQ(sim.command("line stop 1"), "ok 5 9600 8N1");

    Bytes bad_crc = with_crc({5, 3, 0, 1, 0, 1});
    bad_crc.back() ^= 1;
    Frame ozuper{};
    std::copy(bad_crc.begin(), bad_crc.end(), ozuper.begin() + 1);
    link.tuda(ozuper, 8);
    EXPECT_EQ(link.suda({5, 7}).pr_out, 2);
    link.set_sys_num(6);
    EXPECT_EQ(read(3, 1, 1), kNoAnswer);
    EXPECT_EQ(sim.dump()["ignored"], "4");

    link.set_sys_num(5);
    EXPECT_EQ(read(3, 1, 1), kOk);
}

// ---------------------------------------------------------------- faults

struct FaultCase {
    const char* command;
    uint8_t code;
};

class SimFault : public SimMaster, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimFault, SpoilsOneAnswerTheWayTheAnswerCheckSeesIt)
{
    ASSERT_EQ(sim.command(GetParam().command), "ok");
    EXPECT_EQ(read(3, 0x20, 3), GetParam().code);
    EXPECT_EQ(read(3, 0x20, 3), kOk);
    EXPECT_EQ(holding_float(0x21), 250.0f);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SimFault,
                         ::testing::Values(FaultCase{"fault silence", kNoAnswer}, FaultCase{"fault noise 2", kOk},
                                           FaultCase{"fault noise 5", kOk}, FaultCase{"fault crc", kBadCrc},
                                           FaultCase{"fault function", kWrongFunction},
                                           FaultCase{"fault exception 1", 1}, FaultCase{"fault exception 2", 2},
                                           FaultCase{"fault exception 3", 3}, FaultCase{"fault exception 4", 4},
                                           FaultCase{"fault exception 5", 5}, FaultCase{"fault truncate 5", kBadCrc},
                                           FaultCase{"fault slow 40", kOk}, FaultCase{"fault long 2", kBadCrc},
                                           FaultCase{"fault count 2", kBadFormat},
                                           FaultCase{"fault count -6", kBadFormat}));

// A request as a test sends it: a read of `count` registers, or a write of `values`.
struct Asked {
    uint8_t function;
    uint16_t start, count;
    std::vector<uint16_t> values;
};

TEST_F(Sim, AimedFaultsSpoilOnlyTheRequestsTheyAimAt)
{
    const Asked channels[] = {{3, 0x27, 3, {}}, {3, 0x47, 3, {}}, {3, 0x67, 3, {}}};
    const struct {
        const char* fault;
        std::vector<Asked> requests;
        std::vector<uint8_t> codes;
    } cases[] = {
        {"fault silence after 2", {channels[0], channels[0], channels[0], channels[0]}, {kOk, kOk, kNoAnswer, kOk}},
        {"fault silence at 0x67 function 3 always",
         {channels[0], channels[1], channels[2], channels[0], channels[1], channels[2], {4, 0x6C, 2, {}}},
         {kOk, kOk, kNoAnswer, kOk, kOk, kNoAnswer, kOk}},
        {"fault crc at 0x6D times 2 after 1",
         {{4, 0x6C, 2, {}}, {4, 0x4C, 2, {}}, {4, 0x6C, 2, {}}, {4, 0x6D, 1, {}}, {4, 0x6C, 2, {}}},
         {kOk, kOk, kBadCrc, kBadCrc, kOk}},
        {"fault exception 4 function 16",
         {{3, 0x21, 2, {}}, {16, 0x21, 2, {0, 0x4842}}, {16, 0x20, 1, {0x0201}}},
         {kOk, kDeviceFailure, kOk}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_EQ(sim.command(c.fault), "ok");
        for (size_t i = 0; i < c.requests.size(); ++i) {
            const Asked& r = c.requests[i];
            EXPECT_EQ(r.function == 16 ? write(r.start, r.values) : read(r.function, r.start, r.count), c.codes[i])
                << "request " << i + 1;
        }
        ASSERT_EQ(sim.command("fault clear"), "ok");
    }
    EXPECT_EQ(sim.command("get holding 0x22"), "ok 31299") << "the refused write of 50.0 left 250.0";
}

TEST_F(Sim, AnAnswerFromAnotherAddressIsSoundButNeverHeard)
{
    ASSERT_EQ(sim.command("fault address"), "ok");
    const Bytes request = with_crc({5, 3, 0, 1, 0, 1});
    Frame ozuper{};
    std::copy(request.begin(), request.end(), ozuper.begin() + 1);
    link.tuda(ozuper, 8);
    const Received r = link.suda({6, 6});  // listen for the address the answer carries
    EXPECT_EQ(hex(Bytes(r.buf.begin() + 1, r.buf.begin() + 1 + r.kpb)), hex(with_crc({6, 3, 2, 0, 3})));

    // Our receiver hunts for its own address, so to the answer check this is no answer.
    ASSERT_EQ(sim.command("fault address"), "ok");
    EXPECT_EQ(read(3, 1, 1), kNoAnswer);
    EXPECT_EQ(read(3, 1, 1), kOk);
}

TEST_F(Sim, ABusyDeviceSendsTheAnswerLaterUnasked)
{
    ASSERT_EQ(sim.command("fault busy"), "ok");
    const Exchange busy = mb.tuda_suda(write_holding_registers(1, 2));
    EXPECT_EQ(busy.err, kBusy);
    EXPECT_EQ(mb.receive_again(busy).err, kOk);
    EXPECT_EQ(sim.command("get holding 1"), "ok 2");
}

TEST_F(Sim, RandomFaultsSpoilTheirShareAndAreCountedByKind)
{
    ASSERT_EQ(sim.command("random 100 seed 3"), "ok");
    for (int i = 0; i < 6; ++i)
        read(3, 1, 1);
    auto spoilt = [this] {
        int n = 0;
        for (const auto& [key, value] : sim.dump())
            if (key.rfind("injected ", 0) == 0)
                n += std::stoi(value);
        return n;
    };
    EXPECT_EQ(spoilt(), 6);
    EXPECT_EQ(sim.dump()["random faults"], "100 %");
    ASSERT_EQ(sim.command("random 0"), "ok");
    EXPECT_EQ(read(3, 1, 1), kOk);
    EXPECT_EQ(read(3, 1, 1), kOk);
    EXPECT_EQ(spoilt(), 6);
    EXPECT_EQ(sim.command("random 101"), "error: usage: random PERCENT [seed N], PERCENT 0..100");
}

TEST_F(Sim, FaultsLastTheirCountOrUntilCleared)
{
    ASSERT_EQ(sim.command("fault crc times 2"), "ok");
    EXPECT_EQ(read(3, 1, 1), kBadCrc);
    EXPECT_EQ(sim.dump()["fault crc"], "times 1");
    EXPECT_EQ(read(3, 1, 1), kBadCrc);
    EXPECT_EQ(read(3, 1, 1), kOk);

    ASSERT_EQ(sim.command("fault exception 4 always"), "ok");
    ASSERT_EQ(sim.command("fault silence"), "ok");
    EXPECT_EQ(read(3, 1, 1), kNoAnswer);  // silence masks the exception, and both count down
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(read(3, 1, 1), kDeviceFailure);
    EXPECT_EQ(write(1, {1}), kDeviceFailure);
    EXPECT_EQ(sim.command("get holding 1"), "ok 3");  // a refused write is not acted on
    EXPECT_EQ(sim.command("fault clear exception"), "ok");
    EXPECT_EQ(read(3, 1, 1), kOk);
    EXPECT_EQ(sim.command("fault clear exception"), "error: no exception fault active");
}

}  // namespace
}  // namespace varnok::test
