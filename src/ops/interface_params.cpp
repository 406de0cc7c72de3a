#include "ops/interface_params.h"

#include <array>

#include "device/device.h"
#include "ops/report.h"

namespace varnok {

namespace {

constexpr std::array<uint16_t, kInterfaceRows> kRegister = {kRegSpeed, kRegParity, kRegStopBits, kRegSysNum};

// How long the console waits after a busy answer to a line setting before it listens again.
constexpr unsigned kBusyPauseMs = 10;

}  // namespace

uint8_t InterfaceParams::read(InterfaceRow row)
{
    const Exchange x = d_.read_holding(kRegister[row], 1);
    if (x.ok())
        take_reported(row);
    checked(report_, x);
    return x.err;
}

void InterfaceParams::take_reported(InterfaceRow row)
{
    // The device's own line settings become the console's; the port stays as it is set up.
    // Its speed code may name another speed than the line's, which stays. The number it
    // reports is the one the console addresses from now on.
    Link& link = d_.link();
    const DeviceLine& told = d_.line();
    switch (row) {
    case kRowScor: link.take_reported_speed_code(told.speed_code); break;
    case kRowParity: link.set_parity(told.parity); break;
    case kRowStopbit: link.set_stopbit(told.stopbit); break;
    default: link.set_sys_num(d_.adr()); break;
    }
}

int InterfaceParams::current(InterfaceRow row) const
{
    const LinkSettings& line = d_.link().settings();
    const int shown[kInterfaceRows] = {line.scor_obmena, line.parity, line.stopbit, line.sys_num};
    return shown[row];
}

uint8_t InterfaceParams::write(InterfaceRow row, uint8_t value)
{
    const uint16_t reg = kRegister[row];
    Exchange x = d_.write_holding(reg, value);
    report_.exchange(x);
    if (x.err == kBusy) {
        // The device answers later: take that answer without asking again.
        if (row != kRowSysnum) {
            report_.failed(x, x.msg_buf_error());
            d_.link().sleeper().sleep_ms(kBusyPauseMs);
        }
        x = d_.receive_again(x);
    }
    if (!x.ok()) {
        report_.failed(x, x.msg_buf_error());
        return x.err;
    }
    adopt(row, value);
    return kOk;
}

void InterfaceParams::adopt(InterfaceRow row, uint8_t value)
{
    Link& link = d_.link();
    switch (row) {
    case kRowScor:
        // The port runs at the new speed from now on; its code, the speed recorded for this
        // number and the time-outs follow it.
        link.set_speed_code(value);
        d_.record_speed(link.settings().sys_num, value);
        link.vich_timeout(value);
        link.init_com_port_new();
        break;
    case kRowParity:
        link.set_parity(value);
        link.init_com_port_new();
        break;
    case kRowStopbit:
        link.set_stopbit(value);
        link.init_com_port_new();
        break;
    default:
        // The device answers under its new number at the speed it has just answered at.
        d_.record_speed(value, number_scor(link.settings().scor_obmena));
        link.set_sys_num(value);
        break;
    }
}

}  // namespace varnok
