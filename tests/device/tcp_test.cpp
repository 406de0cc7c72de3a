// The device over RTU on TCP, the simulator playing an Ethernet-to-RS-485 converter on
// loopback, in the normal timing and in the fast exchange: exchanges, a write and a scan
// as on a serial line, the same read time-outs, a connection kept across set-ups that change
// only the line, and a dropped connection reported once and opened again by the next
// initialisation.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "device/device_fixture.h"
#include "support/ports.h"

namespace varnok::test {
namespace {

class DeviceOverTcp : public DeviceOnSim, public ::testing::WithParamInterface<bool> {
protected:
    DeviceOverTcp()
        : DeviceOnSim(
              {"--tcp", "0", "--noise", "0", "--whole-answers", "--device-at", "3", "--device-at", "5", "--log", log})
    {
        link.set_fast_exchange(GetParam());
        open_at(9600);
    }

    ~DeviceOverTcp() override { std::remove(log.c_str()); }

    // The connections the simulator took, as its log tells them. A command answered first
    // lets it take every connection made before.
    int connections()
    {
        sim.command("device 1");
        std::ifstream in(log);
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.find("a master connected") != std::string::npos;
        return n;
    }

    static inline const std::string log =
        std::string(::testing::TempDir()) + "varnok-tcp-" + std::to_string(::getpid()) + ".log";
};

TEST_P(DeviceOverTcp, ExchangesWriteAndScanAsOnASerialLine)
{
    ASSERT_TRUE(sim.path().rfind("tcp://127.0.0.1:", 0) == 0) << sim.path();
    ASSERT_EQ(link.dw(), 0u) << link.last_failure();
    EXPECT_EQ(dev.zapros_adr().err, kOk);
    sim.command("device 2");
    sim.command("signal 2 50");
    EXPECT_EQ(dev.zapros_izm_znach_new(2).err, kOk);
    EXPECT_NEAR(dev.Ch(2).Urms_te, 2.5f, 0.001f);  // 50 % of 5.0
    EXPECT_EQ(dev.write_holding(kRegLight, 2).err, kOk);
    EXPECT_EQ(sim.command("get holding 1"), "ok 2");

    // A scan of numbers 1..6 in search mode finds the two devices behind the converter.
    std::vector<int> found;
    for (int n = 1; n <= 6; ++n) {
        link.set_sys_num(uint8_t(n));
        const auto start = std::chrono::steady_clock::now();
        const uint8_t e = dev.zapros_adr_for_poisk().err;
        const auto took = std::chrono::steady_clock::now() - start;
        if (e == kOk)
            found.push_back(n);
        else if (!link.settings().fast_exchange) {  // silence costs the first pass's three reads, 36 ms each
            EXPECT_GE(took, std::chrono::milliseconds(3 * 36)) << n;
        }
    }
    EXPECT_EQ(found, (std::vector<int>{3, 5}));
    EXPECT_TRUE(notices.boxes.empty());
}

TEST_P(DeviceOverTcp, SetUpsThatChangeOnlyTheLineKeepTheConnection)
{
    ASSERT_EQ(dev.zapros_adr().err, kOk);
    EXPECT_EQ(connections(), 1);

    // A number scan and a scan of every speed set the port up for each probe.
    std::vector<int> found;
    for (int n = 1; n <= 6; ++n) {
        link.set_sys_num(uint8_t(n));
        if (dev.otvet_ustsv() != 0)
            found.push_back(n);
    }
    EXPECT_EQ(found, (std::vector<int>{3, 5}));
    link.set_sys_num(5);
    EXPECT_NE(dev.poisk_scor(), 0);
    // Parity and stop bits written, as after the device's own were.
    link.set_parity(2);
    const LinkSettings& s = link.settings();
    EXPECT_EQ(link.init_com_port_new(s.name_comport, s.scor_obmena, s.parity, 2, s.bytesize), 0u);
    EXPECT_EQ(link.dcb().Parity, 2);
    EXPECT_EQ(link.dcb().StopBits, 2);
    EXPECT_EQ(link.commtimeouts().ReadIntervalTimeout, 5u) << "the time-outs of the last speed tried";
    EXPECT_EQ(connections(), 1);

    // A connection the converter closed is opened again by the next set-up, before any
    // exchange finds it closed.
    EXPECT_EQ(sim.command("drop"), "ok");
    link.set_parity(0);
    link.vich_timeout(link.settings().num_scor);
    EXPECT_EQ(link.dw(), 0u) << link.last_failure();
    EXPECT_EQ(dev.zapros_adr().err, kOk);
    EXPECT_EQ(connections(), 2);
    EXPECT_TRUE(notices.boxes.empty());
}

TEST_P(DeviceOverTcp, DroppedConnectionIsReportedOnceAndReopened)
{
    ASSERT_EQ(dev.zapros_adr().err, kOk);
    EXPECT_EQ(sim.command("drop"), "ok");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(dev.zapros_adr().err, kNoAnswer) << i;
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "ошибка настройки порта ");
    EXPECT_NE(notices.boxes[0].informative.find(sim.path() + "\nсоединение разорвано"), std::string::npos)
        << notices.boxes[0].informative;

    link.vich_timeout(link.settings().num_scor);  // "инициализация СОМпорта"
    EXPECT_EQ(link.dw(), 0u);
    EXPECT_EQ(dev.zapros_adr().err, kOk);
    EXPECT_EQ(notices.boxes.size(), 1u);
}

TEST_P(DeviceOverTcp, RefusedConnectionFailsLikeAMissingPort)
{
    // A port held and not listening: nobody else can take it while it refuses.
    const RefusingPort refusing;
    ports.set(2, refusing.url());
    link.set_port(2);
    link.vich_timeout(link.settings().num_scor);
    EXPECT_NE(link.dw(), 0u);
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "ошибка настройки порта ");
    EXPECT_NE(notices.boxes[0].informative.find("Connection refused"), std::string::npos)
        << notices.boxes[0].informative;
    EXPECT_EQ(dev.zapros_adr().err, kNoAnswer);
    // A name the resolver does not find is told in its words, not as an unreachable host.
    ports.set(2, "tcp://no-such-host.invalid:5020");
    link.vich_timeout(link.settings().num_scor);
    EXPECT_NE(link.dw(), 0u);
    const std::string why = notices.boxes.back().informative;
    EXPECT_NE(why.find("поиск адреса no-such-host.invalid: "), std::string::npos) << why;
    EXPECT_EQ(why.find("No route to host"), std::string::npos) << why;
    ports.set(2, "tcp://no-such-port-form");
    link.vich_timeout(link.settings().num_scor);
    EXPECT_NE(link.dw(), 0u) << "a malformed address opens nothing";
}

INSTANTIATE_TEST_SUITE_P(Timings, DeviceOverTcp, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "fast" : "normal"; });

}  // namespace
}  // namespace varnok::test
