// The device model's request operations and probes against the simulator, with real time-outs.
#include "device/device_fixture.h"

namespace varnok::test {
namespace {

TEST_F(DeviceOnSim, EveryRequestOperationDecodesTheSimulatorsCurrentValues)
{
    open_at(9600);
    sim.command("setf holding 0x43 123.25");
    sim.command("set holding 0x40 0x0306");
    sim.command("signal 2 50");
    EXPECT_EQ(dev.zapros_adr().err, kOk);
    EXPECT_EQ(dev.zapros_pars_nastr_SCL_new(2).err, kOk);
    EXPECT_EQ(dev.parScl(2).DecPosition, 3);
    EXPECT_EQ(dev.parScl(2).Measure, 6);
    EXPECT_EQ(dev.parScl(2).Ustavka.as_float(), 5.0f);
    EXPECT_EQ(dev.zapros_pars_nastr_UST_new(2).err, kOk);
    EXPECT_EQ(dev.parUst(2).Max.as_float(), 123.25f);
    EXPECT_EQ(dev.zapros_PWM(3).err, kOk);
    EXPECT_EQ(sim.command("get holding 0x6A"), "ok " + std::to_string(dev.Ch(3).PWML));
    EXPECT_EQ(dev.zapros_izm_znach_new(2).err, kOk);
    EXPECT_NEAR(dev.Ch(2).Urms_te, 2.5f, 0.001f);  // 50 % of 5.0

    sim.command("name Проба");
    EXPECT_EQ(dev.read_input(kRegName, kTextRegisters).err, kOk);
    EXPECT_EQ(dev.tmp_text(), "Проба");
}

// The simulator answers whole: the probe's wait for the next byte is short, and a loaded
// machine that split an answer would fail the probe at a speed where the device answers.
class StartUpProbe : public DeviceOnSim {
protected:
    StartUpProbe() : DeviceOnSim({"--noise", "0", "--whole-answers"}) {}
};

TEST_F(StartUpProbe, RecordsTheSpeedItAnsweredAt)
{
    link.set_speed(9600);
    EXPECT_EQ(dev.otvet_ustsv(), 2);
    link.set_sys_num(6);  // the probe asks whoever sys_num names
    EXPECT_EQ(dev.otvet_ustsv(), 0) << "nobody at 6";
    link.set_sys_num(5);
    link.set_speed(19200);
    EXPECT_EQ(dev.otvet_ustsv(), 0) << "the device is at 9600";
    EXPECT_TRUE(notices.boxes.empty());
}

class SpeedSearch : public DeviceOnSim, public ::testing::WithParamInterface<std::pair<const char*, uint8_t>> {
protected:
    // The device answers at once and whole: the probe's wait at 115200 bit/s is a few
    // milliseconds, which a loaded machine would otherwise miss.
    SpeedSearch() : DeviceOnSim({"--noise", "0", "--turnaround", "0", "--whole-answers", "--speed", GetParam().first})
    {
    }
};

TEST_P(SpeedSearch, FindsTheFirstSpeedTheDeviceAnswersAt)
{
    link.set_speed(9600);
    link.set_sys_num(5);
    EXPECT_EQ(dev.poisk_scor(), GetParam().second);
    EXPECT_EQ(link.settings().scor_obmena, 9600) << "the search leaves the chosen speed alone";
    EXPECT_TRUE(notices.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Speeds, SpeedSearch,
                         ::testing::Values(std::pair{"9600", uint8_t(2)}, std::pair{"38400", uint8_t(4)},
                                           std::pair{"115200", uint8_t(6)}));

TEST_F(DeviceOnSim, ASearchFindsNothingWhenNoSpeedAnswers)
{
    link.set_sys_num(9);
    EXPECT_EQ(dev.poisk_scor(), 0);
}

TEST_F(DeviceOnSim, TheXKeyAbortsTheSearchProbe)
{
    open_at(9600);
    link.set_sys_num(9);
    keys.pressed_at = {{kKeyX, 2}};
    KeyStop x(keys, kKeyX);
    const Exchange probe = dev.zapros_adr_for_poisk(&x);
    EXPECT_TRUE(probe.stopped);
    EXPECT_EQ(probe.err, kInterrupted);
}

TEST_F(DeviceOnSim, InjectedFaultsGiveTheirCodesInBothTimings)
{
    open_at(9600);
    const std::pair<const char*, uint8_t> faults[] = {
        // An answer from another address never starts the hunt for ours: no answer.
        {"silence", kNoAnswer},       {"noise 2", kOk},   {"crc", kBadCrc}, {"address", kNoAnswer},
        {"function", kWrongFunction}, {"exception 3", 3}, {"busy", kBusy},  {"truncate 4", kBadCrc},
    };
    for (bool fast : {false, true}) {
        link.set_fast_exchange(fast);
        for (auto [fault, code] : faults) {
            ASSERT_EQ(sim.command(std::string("fault ") + fault).substr(0, 2), "ok") << fault;
            EXPECT_EQ(dev.zapros_izm_znach_new(1).err, code) << fault << (fast ? " fast" : "");
            sim.command("fault clear");
        }
        // The search-mode probe sees silence as no answer within its first pass.
        sim.command("fault silence");
        EXPECT_EQ(dev.zapros_adr_for_poisk().err, kInterrupted);
        sim.command("fault clear");
    }
}

// Three devices on one line at different speeds, scanned as the device search scans: each
// number at the current speed, and each number's speed among all six.
class ScanOnSim : public DeviceOnSim {
protected:
    // Answers at once and whole: at 115200 bit/s the normal probe listens for only 24 ms.
    ScanOnSim()
        : DeviceOnSim({"--noise", "0", "--turnaround", "0", "--whole-answers", "--device-at", "2", "--device-at",
                       "4:38400", "--device-at", "5:115200"})
    {
    }
};

TEST_F(ScanOnSim, TheFastExchangeFindsWhatTheNormalTimingFinds)
{
    // A probe waits 100 ms rather than 20 beyond the line time, for a simulator that a busy
    // machine keeps waiting; what is compared is which numbers answer at which speed.
    link.set_fast_probe_wait(100);
    for (bool fast : {false, true}) {
        link.set_fast_exchange(fast);
        link.set_speed(9600);
        // A number found silent is asked again, twice at most: a loaded machine can keep the
        // simulator from answering within the normal probe's 24 ms at 115200 bit/s, while a
        // timing that cannot hear a device at all stays silent every time.
        auto asked = [&](uint8_t n, auto probe) {
            uint8_t code = 0;
            for (int attempt = 0; attempt < 3 && code == 0; ++attempt) {
                link.set_sys_num(n);
                code = probe();
            }
            return std::to_string(code);
        };
        std::string single, every;
        for (uint8_t n = 1; n <= 5; ++n) {
            single += asked(n, [&] { return dev.otvet_ustsv(); });
            every += asked(n, [&] { return dev.poisk_scor(); });
        }
        EXPECT_EQ(single, "02000") << (fast ? "fast" : "normal");
        EXPECT_EQ(every, "02046") << (fast ? "fast" : "normal");
    }
    EXPECT_TRUE(notices.boxes.empty());
}

}  // namespace
}  // namespace varnok::test
