// Our request operations against an RTU slave that no one here wrote: libmodbus, serving
// known register values over a pseudo-terminal.
#include <gtest/gtest.h>

#include "device/device.h"
#include "link/link_fixture.h"
#include "support/libmodbus_slave.h"

namespace varnok::test {
namespace {

// Two registers of a float as they travel: least significant byte first.
std::pair<uint16_t, uint16_t> wire(float f)
{
    const uint32_t b = std::bit_cast<uint32_t>(f);
    return {uint16_t((b & 0xFF) << 8 | (b >> 8 & 0xFF)), uint16_t((b >> 16 & 0xFF) << 8 | b >> 24)};
}

class LibmodbusPeer : public LinkOnPty {
protected:
    LibmodbusPeer() : dev(link, notices), slave(pty.master(), 5), map(slave.map) {}
    void SetUp() override
    {
        fill();
        slave.start();
        link.vich_timeout(2);
        ASSERT_EQ(link.dw(), 0u);
    }
    void put_float(uint16_t* regs, uint16_t at, float f)
    {
        auto [a, b] = wire(f);
        regs[at] = a;
        regs[at + 1] = b;
    }
    void fill()
    {
        uint16_t* h = map->tab_registers;
        uint16_t* in = map->tab_input_registers;
        h[1] = 2;
        h[0x800] = 5;
        h[0x801] = 2;
        h[0x802] = 0;
        h[0x803] = 1;
        for (int n = 1; n <= 3; ++n) {
            const uint16_t b = uint16_t(32 * n);
            h[b] = uint16_t((n - 1) << 8 | (n + 2));
            put_float(h, b + 1, 100.0f * n);
            put_float(h, b + 3, 80.0f * n);
            put_float(h, b + 5, 5.5f * n);
            h[b + 10] = uint16_t(400 + n);
            h[b + 11] = uint16_t(3600 + n);
            put_float(in, b + 12, 12.25f * n);
        }
        put_float(in, 2, 49.98f);
        const char name[] = "\xC2\xE0\xF0\xED\xEE\xEA \xCF\xCC\x33";  // "Варнок ПМ3" in Windows-1251
        for (int i = 0; i < 5; ++i)
            in[4 + i] = uint16_t(uint8_t(name[2 * i]) << 8 | uint8_t(name[2 * i + 1]));
        map->tab_bits[0] = 1;
        map->tab_bits[2] = 1;
        map->tab_input_bits[1] = 1;
    }

    Device dev;
    LibmodbusSlave slave;
    modbus_mapping_t* map;
};

TEST_F(LibmodbusPeer, EveryRequestOperationDecodesThePeersValues)
{
    EXPECT_EQ(dev.zapros_adr().err, kOk);
    EXPECT_EQ(link.settings().sys_num, 5);
    for (int n = 1; n <= 3; ++n) {
        ASSERT_EQ(dev.zapros_pars_nastr_SCL_new(n).err, kOk) << n;
        EXPECT_EQ(dev.parScl(n).DecPosition, n - 1);
        EXPECT_EQ(dev.parScl(n).Measure, n + 2);
        EXPECT_EQ(dev.parScl(n).Ustavka.as_float(), 100.0f * n);
        ASSERT_EQ(dev.zapros_pars_nastr_UST_new(n).err, kOk) << n;
        EXPECT_EQ(dev.parUst(n).Max.as_float(), 80.0f * n);
        EXPECT_EQ(dev.parUst(n).Min.as_float(), 5.5f * n);
        ASSERT_EQ(dev.zapros_PWM(n).err, kOk) << n;
        EXPECT_EQ(dev.Ch(n).PWML, 400 + n);
        EXPECT_EQ(dev.Ch(n).PWMH, 3600 + n);
        ASSERT_EQ(dev.zapros_izm_znach_new(n).err, kOk) << n;
        EXPECT_EQ(dev.Ch(n).Urms_te, 12.25f * n);
    }
    ASSERT_EQ(dev.read_input(kRegFreq, 2).err, kOk);
    EXPECT_EQ(dev.freq().as_float(), 49.98f);
    ASSERT_EQ(dev.read_input(kRegName, 5).err, kOk);
    EXPECT_EQ(dev.tmp_text(), "Варнок ПМ3");
    ASSERT_EQ(dev.read_holding(kRegLight, 1).err, kOk);
    EXPECT_EQ(dev.light(), 2);
    ASSERT_EQ(dev.read_holding(kRegSysNum, 4).err, kOk);
    EXPECT_EQ(link.settings().num_scor, 2);
    EXPECT_EQ(link.settings().stopbit, 1);

    ASSERT_EQ(dev.exchange(opros_coils(0, 3)).err, kOk);
    EXPECT_TRUE(dev.onoffK(1));
    EXPECT_FALSE(dev.onoffK(2));
    EXPECT_TRUE(dev.onoffK(3));
    ASSERT_EQ(dev.exchange(opros_discret_inputs(0, 3)).err, kOk);
    EXPECT_TRUE(dev.onoff_swXP1());
    EXPECT_FALSE(dev.onoff_swJMP78());
    EXPECT_TRUE(dev.onoff_swXP3());
}

TEST_F(LibmodbusPeer, WritesAreStoredByThePeer)
{
    EXPECT_EQ(dev.write_holding(kRegLight, 3).err, kOk);
    EXPECT_EQ(map->tab_registers[1], 3);
    EXPECT_EQ(dev.write_holding_pair(0x43, 123.5f).err, kOk);
    auto [a, b] = wire(123.5f);
    EXPECT_EQ(map->tab_registers[0x43], a);
    EXPECT_EQ(map->tab_registers[0x44], b);
    ASSERT_EQ(dev.zapros_pars_nastr_UST_new(2).err, kOk);
    EXPECT_EQ(dev.parUst(2).Max.as_float(), 123.5f);
}

TEST_F(LibmodbusPeer, ThePeersExceptionsAndSilenceBecomeCodes)
{
    // Beyond the peer's table: illegal data address.
    EXPECT_EQ(dev.read_holding(0x900, 1).err, kIllegalAddress);
    link.set_sys_num(9);  // nobody there
    const Exchange x = dev.zapros_adr();
    EXPECT_EQ(x.err, kNoAnswer);
    EXPECT_EQ(x.msg_buf_error(), " 03 0800  не дождались ответа0:");
}

}  // namespace
}  // namespace varnok::test
