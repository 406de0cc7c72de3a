#include "console/window_history.h"

#include <QCoreApplication>
#include <utility>

#include "console/console_context.h"
#include "device/device.h"
#include "modbus/exchange.h"
#include "ops/entry.h"
#include "ops/scales.h"
#include "ops/write_records.h"

namespace varnok {

namespace {

struct Registers {
    uint16_t first = 0;
    uint16_t count = 0;  // 0: the link's settings tell the value
};

// The holding registers whose read tells a setting's value.
Registers registers_of(const Setting& s)
{
    const uint16_t base = channel_base(s.channel);
    switch (s.name) {
    case Setting::kBrightness: return {kRegLight, 1};
    case Setting::kScale: return {uint16_t(base + kOffScale), 3};
    case Setting::kUnit: return {uint16_t(base + kOffScale), 1};
    case Setting::kMax: return {uint16_t(base + kOffMax), 2};
    case Setting::kMin: return {uint16_t(base + kOffMin), 2};
    case Setting::kZero: return {uint16_t(base + kOffRef), 1};
    case Setting::kCoefficient: return {uint16_t(base + kOffNcal), 2};
    case Setting::kPwmLow: return {uint16_t(base + kOffPWML), 1};
    case Setting::kPwmHigh: return {uint16_t(base + kOffPWMH), 1};
    default: return {};
    }
}

}  // namespace

WindowHistory::WindowHistory(ConsoleContext& ctx) : ctx_(ctx)
{
    quiet_.setSingleShot(true);
    quiet_.setInterval(kStepsQuietMs);
    // Not in the middle of an exchange: a store that fails would show its box there.
    QObject::connect(&quiet_, &QTimer::timeout, [this] {
        if (ctx_.busy > 0)
            quiet_.start();
        else
            close_steps();
    });
    // At the program's end, while its windows can still show a store that fails.
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &quiet_, [this] { close_steps(); });
}

WindowHistory::~WindowHistory() { close_steps(); }

void WindowHistory::follow(int number)
{
    const std::string& port = ctx_.link.settings().name_comport;
    if (number == number_ && port == port_)
        return;
    number_ = number;
    port_ = port;
    name_.clear();
    version_.clear();
    factory_.clear();
    read_.clear();
    written_.clear();
}

void WindowHistory::seen(const Exchange& x)
{
    if (!x.ok() || x.dl_note == 0)
        return;
    follow(x.ozuper[1]);
    const Request& q = x.request;
    if (q.func == kReadInputRegisters && q.kol_reg == kTextRegisters) {
        if (q.na_reg == kRegName)
            name_ = ctx_.device.tmp_text();
        else if (q.na_reg == kRegVersion)
            version_ = ctx_.device.tmp_text();
    }
    if (q.func != kReadHoldingRegisters)
        return;
    for (uint16_t r = q.na_reg; r < q.na_reg + q.kol_reg; ++r)
        read_.insert(r);
    // The device record holds what was just read: values written before give way to it.
    for (auto it = written_.begin(); it != written_.end();) {
        const Registers regs = registers_of(setting_named(it->first, true));
        const bool overlaps = regs.count > 0 && regs.first < q.na_reg + q.kol_reg && q.na_reg < regs.first + regs.count;
        it = overlaps ? written_.erase(it) : std::next(it);
    }
}

record::Unit WindowHistory::unit() const
{
    const LinkSettings& line = ctx_.link.settings();
    record::Unit u;
    const bool same = line.sys_num == number_ && line.name_comport == port_;
    u.name = same ? name_ : std::string();
    u.version = same ? version_ : std::string();
    u.factory_number = same ? factory_ : std::string();
    u.network_number = line.sys_num;
    u.line = unit_line(line, ctx_.link.last_path());
    return u;
}

void WindowHistory::name_unit(const std::string& factory_number)
{
    follow(ctx_.link.settings().sys_num);
    factory_ = factory_number;
}

std::string WindowHistory::known(const Setting& s) const
{
    const Registers regs = registers_of(s);
    if (regs.count == 0)
        return held_setting(ctx_.device, s.name, s.channel).text();
    const LinkSettings& line = ctx_.link.settings();
    if (line.sys_num != number_ || line.name_comport != port_)
        return "";
    if (const auto it = written_.find(s.key()); it != written_.end())
        return it->second;
    for (uint16_t r = regs.first; r < regs.first + regs.count; ++r)
        if (!read_.count(r))
            return "";
    return held_setting(ctx_.device, s.name, s.channel).text();
}

WindowHistory::Change WindowHistory::capture(const Setting& s) const { return {s, known(s), unit()}; }

WindowHistory::Change WindowHistory::before(const Setting& s)
{
    close_steps();
    return capture(s);
}

void WindowHistory::after(const Change& c, bool taken)
{
    learn(c, taken);
    append(write_record(c.unit, c.setting, c.old, taken));
}

void WindowHistory::learn(const Change& c, bool taken)
{
    const LinkSettings& line = ctx_.link.settings();
    if (line.sys_num != number_ || line.name_comport != port_) {
        // A new network number the device took: the unit is the same, now at that number.
        if (taken && c.setting.name == Setting::kAddress && c.unit.network_number == number_ &&
            line.name_comport == port_)
            number_ = line.sys_num;
        return;
    }
    const Registers regs = registers_of(c.setting);
    if (regs.count == 0)
        return;
    if (taken) {
        written_[c.setting.key()] = c.setting.text();
        return;
    }
    // A refused write may have left anything there.
    written_.erase(c.setting.key());
    for (uint16_t r = regs.first; r < regs.first + regs.count; ++r)
        read_.erase(r);
}

void WindowHistory::append(record::HistoryRecord r) { ctx_.history().append(r); }

bool WindowHistory::write(const Setting& s, const std::function<bool()>& write)
{
    const Change c = before(s);
    const bool taken = write();
    after(c, taken);
    return taken;
}

bool WindowHistory::step(const Setting& s, const std::function<bool()>& write)
{
    if (steps_ && steps_->last.key() != s.key())
        close_steps();
    const Change c = capture(s);
    const bool taken = write();
    learn(c, taken);
    if (!taken) {
        // A refusal ends the run; it is a record of its own.
        close_steps();
        append(write_record(c.unit, s, c.old, false));
        return false;
    }
    if (steps_)
        steps_->last = s;
    else
        steps_ = Steps{c, s};
    quiet_.start();
    return true;
}

void WindowHistory::close_steps()
{
    quiet_.stop();
    if (!steps_)
        return;
    const Steps run = std::move(*steps_);
    steps_.reset();
    append(write_record(run.first.unit, run.last, run.first.old, true));
}

void WindowHistory::loaded(const record::Unit& unit, const std::string& path, const Changes& written,
                           const Configuration::Applied& done)
{
    close_steps();
    for (record::HistoryRecord& r : load_records(unit, path, written, done))
        append(std::move(r));
}

Setting WindowHistory::number_setting(Setting::Name name, int k, long number)
{
    Setting s{};
    s.name = name;
    s.channel = k;
    s.number = number;
    return s;
}

Setting WindowHistory::entry_setting(Setting::Name name, int k, uint16_t number, uint8_t decpos)
{
    Setting s = number_setting(name, k, 0);
    s.entry = Entry{number, decpos};
    s.real = entry_value(number, decpos);
    return s;
}

Setting WindowHistory::real_setting(Setting::Name name, int k, float value)
{
    Setting s = number_setting(name, k, 0);
    s.real = value;
    return s;
}

}  // namespace varnok
