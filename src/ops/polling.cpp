#include "ops/polling.h"

#include <string>

#include "device/device.h"
#include "ops/report.h"

namespace varnok {

namespace {

// Ticks without a known speed that are still wanted; the one after them gives up.
constexpr uint8_t kSpeedLostTicks = 10;

}  // namespace

Polling::Polling(Device& device, Report& report) : d_(device), report_(report), scales_(device, report) {}

bool Polling::attach()
{
    Link& link = d_.link();
    link.set_up_port();
    const LinkSettings& line = link.settings();
    if (!d_.zapros_adr().ok())
        return false;
    // The speed the port runs at: after a speed search the speed code may still name the
    // one the console was set to, where the device does not answer.
    d_.record_speed(line.sys_num, number_scor(line.scor_obmena));
    return true;
}

uint8_t Polling::probe()
{
    const uint8_t n = d_.link().settings().sys_num;
    d_.record_speed(n, d_.otvet_ustsv());
    return d_.scor_CN(n);
}

PollResult Polling::zapros_par(bool full)
{
    PollResult r;
    if (full) {
        for (int k = 1; k <= kChannels; ++k)
            r.ch[size_t(k)].scale = scales_.read_scale(k) == kOk;
        for (int k = 1; k <= kChannels; ++k)
            r.ch[size_t(k)].setpoints = scales_.read_setpoints(k) == kOk;
    }
    for (int k = 1; k <= kChannels; ++k) {
        PollResult::Channel& c = r.ch[size_t(k)];
        c.measured = read_measured(k);
        // A zero scale has no percentage.
        const float scale = d_.parScl(k).Ustavka.as_float();
        c.percent = c.measured && scale != 0.0f;
        if (c.percent)
            c.Urms_proc = d_.Ch(k).Urms_te * 100.0f / scale;
    }
    r.freq = read_freq();
    // The PWM points go to the records unseen: neither shown nor checked.
    for (int k = 1; k <= kChannels; ++k)
        d_.zapros_PWM(k);
    return r;
}

TickResult Polling::tick(int period_s)
{
    TickResult t;
    const LinkSettings& line = d_.link().settings();
    if (d_.scor_CN(line.sys_num) == 0) {
        ++u_err_;
        report_.line(std::to_string(u_err_) + " scor=0 а скорость-то потерялась ");
        report_.status("  сброшен ПЕРИОДИЧЕСКИЙ опрос (перестал отвечать ) ");
        t.outcome = TickResult::kSpeedLost;
        t.give_up = u_err_ > kSpeedLostTicks;
        return t;
    }
    u_err_ = 0;
    // The address check is not shown: the poll's own exchanges are.
    if (!d_.zapros_adr().ok()) {
        report_.line("sys_num=" + std::to_string(line.sys_num) +
                     " перестал отвечать на  scor=" + std::to_string(line.scor_obmena));
        t.outcome = TickResult::kStoppedAnswering;
        return t;
    }
    t.poll = zapros_par(false);
    report_.status(" Запущен ПЕРИОДИЧЕСКИЙ опрос (Т= " + std::to_string(period_s) + "c)");
    return t;
}

bool Polling::read_freq() { return checked(report_, d_.read_input(kRegFreq, 2)); }

bool Polling::read_measured(int k) { return checked(report_, d_.zapros_izm_znach_new(k)); }

bool Polling::read_scale(int k) { return scales_.read_scale(k) == kOk; }

bool Polling::read_light() { return checked(report_, d_.read_holding(kRegLight, 1)); }

uint8_t Polling::write_light(uint8_t brightness)
{
    if (brightness == d_.light())
        return kOk;
    Exchange x = d_.write_holding(kRegLight, brightness);
    report_.exchange(x);
    if (x.err == kBusy)
        x = d_.receive_again(x);  // the device answers later: that answer is taken, not shown
    if (!x.ok()) {
        report_.failed(x, x.msg_buf_error());
        return x.err;
    }
    // The device now holds what was written; going back to the old brightness writes again.
    d_.took_light(brightness);
    return kOk;
}

bool Polling::read_text(uint16_t first_register)
{
    return checked(report_, d_.read_input(first_register, kTextRegisters));
}

bool Polling::read_name() { return read_text(kRegName); }

bool Polling::read_version() { return read_text(kRegVersion); }

}  // namespace varnok
