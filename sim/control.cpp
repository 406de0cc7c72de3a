#include "control.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace varnok::sim {

namespace {

using Words = std::vector<std::string>;

Words split(const std::string& line)
{
    Words w;
    std::istringstream in(line);
    for (std::string s; in >> s;)
        w.push_back(s);
    return w;
}

// Decimal or 0x-prefixed hexadecimal, within [lo, hi].
bool parse_int(const std::string& s, long long lo, long long hi, long long& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parse_double(const std::string& s, double lo, double hi, double& out)
{
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

std::string fmt(const char* f, double v)
{
    char s[64];
    std::snprintf(s, sizeof s, f, v);
    return s;
}

std::string g7(double v) { return fmt("%.7g", v); }

// Everything after the first word, as typed.
std::string rest_of(const std::string& line)
{
    const size_t a = line.find_first_not_of(" \t");
    const size_t b = line.find_first_of(" \t", a);
    if (b == std::string::npos)
        return {};
    const size_t c = line.find_first_not_of(" \t", b);
    if (c == std::string::npos)
        return {};
    size_t e = line.find_last_not_of(" \t\r");
    return line.substr(c, e - c + 1);
}

Reply ok(std::string text = {}) { return {{}, text.empty() ? "ok" : "ok " + text, false}; }
Reply error(const std::string& why) { return {{}, "error: " + why, false}; }

}  // namespace

Control::Control(Device& device, Engine& engine, const Terminal& terminal)
    : device_(device), engine_(engine), terminal_(terminal)
{
}

std::string Control::commands_help()
{
    std::string h =
        "Commands (one per line; each answers one line starting with \"ok\" or \"error: \";\n"
        "dump and help print their lines first). Numbers may be decimal or 0x-hexadecimal.\n"
        "  signal CH PERCENT       input signal of channel CH (1..3), -100..200 % of full scale\n"
        "  zero CH COUNTS          true converter zero of channel CH (what a perfect Ref would be)\n"
        "  gain CH COUNTS          converter counts from 0 % to 100 % signal\n"
        "  noise COUNTS            converter noise, +-COUNTS per reading (0..1000); 0 also steadies\n"
        "                          the mains frequency at 50 Hz\n"
        "  switch XP1|JMP78|XP3 open|closed\n"
        "                          switch input; a closed switch reads as 0\n"
        "  name TEXT, version TEXT device texts (UTF-8 in, Windows-1251 on the wire, at most 10\n"
        "                          characters, zero bytes after)\n"
        "  fault KIND [ARG] [times N|always]\n"
        "                          spoil the next N answers (default 1) or all until cleared\n"
        "  fault clear [KIND]      clear one kind of fault or all of them\n"
        "  set holding|input|coil ADDR VALUE...\n"
        "                          store 16-bit values from ADDR on (holding), or override live\n"
        "                          input registers or relays until unset\n"
        "  setf holding|input ADDR FLOAT    a float into ADDR and ADDR+1 (device byte order)\n"
        "  setl holding|input ADDR NUMBER   an unsigned 32-bit value likewise\n"
        "  unset input|coil ADDR|all        back to the live value\n"
        "  get holding|input|coil|discrete ADDR   \"ok VALUE\"\n"
        "  line [address N] [speed CODE|BAUD] [parity none|odd|even] [stop 1|2]\n"
        "                          change the device's line settings at once\n"
        "  turnaround MS           delay between a request and its answer (0..1000)\n"
        "  dump                    the whole state, one \"key = value\" per line\n"
        "  help, quit\n"
        "Fault kinds:\n";
    for (const auto& f : kFaultKinds) {
        char line[200];
        std::string name = f.name;
        if (f.arg)
            name += std::string(" [") + f.arg + "]";
        std::snprintf(line, sizeof line, "  %-20s %s", name.c_str(), f.what);
        h += line;
        if (f.arg)
            h += " (default " + std::to_string(f.default_arg) + ")";
        h += "\n";
    }
    h += "  Several kinds may be active at once. Each active fault counts down on every request\n"
         "  that reaches the device (right line, CRC and address), even when another masks it.\n";
    return h;
}

Reply Control::run(const std::string& command, Clock::time_point now)
{
    const Words w = split(command);
    if (w.empty())
        return error("empty command");
    const std::string& c = w[0];
    long long n = 0, m = 0;
    double x = 0;

    if (c == "help") {
        Reply r = ok();
        std::istringstream in(commands_help());
        for (std::string s; std::getline(in, s);)
            r.body.push_back(s);
        return r;
    }
    if (c == "quit") {
        Reply r = ok("bye");
        r.quit = true;
        return r;
    }
    if (c == "dump") {
        Reply r = ok();
        r.body = dump(now);
        return r;
    }
    if (c == "signal" || c == "zero" || c == "gain") {
        if (w.size() != 3 || !parse_int(w[1], 1, kChannels, n))
            return error("usage: " + c + " CH VALUE, CH 1..3");
        Analog& a = device_.analog(int(n));
        if (c == "signal") {
            if (!parse_double(w[2], -100, 200, x))
                return error("signal must be -100..200 %");
            a.signal = x;
        } else if (c == "zero") {
            if (!parse_int(w[2], 0, 65535, m))
                return error("zero must be 0..65535 counts");
            a.zero = uint32_t(m);
        } else {
            if (!parse_int(w[2], 1, 10'000'000, m))
                return error("gain must be 1..10000000 counts");
            a.gain = uint32_t(m);
        }
        return ok();
    }
    if (c == "noise") {
        if (w.size() != 2 || !parse_int(w[1], 0, 1000, n))
            return error("usage: noise COUNTS, 0..1000");
        device_.set_noise(int(n));
        return ok();
    }
    if (c == "switch") {
        int which = -1;
        for (int i = 0; i < kBitCount && w.size() == 3; ++i)
            if (w[1] == kSwitchNames[size_t(i)])
                which = i;
        if (which < 0 || (w[2] != "open" && w[2] != "closed"))
            return error("usage: switch XP1|JMP78|XP3 open|closed");
        device_.set_switch(which, w[2] == "closed");
        return ok();
    }
    if (c == "name" || c == "version") {
        const std::string text = utf8_to_cp1251(rest_of(command));
        if (text.size() > kTextBytes)
            return error("at most 10 characters");
        c == "name" ? device_.set_name(text) : device_.set_version(text);
        return ok();
    }
    if (c == "fault") {
        if (w.size() >= 2 && w[1] == "clear") {
            if (w.size() == 2) {
                engine_.faults.clear();
                return ok();
            }
            const FaultInfo* f = w.size() == 3 ? find_fault(w[2]) : nullptr;
            if (!f)
                return error("usage: fault clear [KIND]");
            return engine_.faults.clear(f->kind) ? ok() : error(std::string("no ") + f->name + " fault active");
        }
        const FaultInfo* f = w.size() >= 2 ? find_fault(w[1]) : nullptr;
        if (!f)
            return error("unknown fault kind; see help");
        Fault fault{f->kind, f->default_arg, 1};
        size_t i = 2;
        if (f->arg && i < w.size() && w[i] != "times" && w[i] != "always") {
            if (!parse_int(w[i], f->min_arg, f->max_arg, n))
                return error(std::string(f->arg) + " must be " + std::to_string(f->min_arg) + ".." +
                             std::to_string(f->max_arg));
            fault.arg = int(n);
            ++i;
        }
        if (i < w.size() && w[i] == "always") {
            fault.remaining = -1;
            ++i;
        } else if (i + 1 < w.size() && w[i] == "times") {
            if (!parse_int(w[i + 1], 1, 1'000'000, n))
                return error("times must be 1..1000000");
            fault.remaining = int(n);
            i += 2;
        }
        if (i != w.size())
            return error("usage: fault KIND [ARG] [times N|always]");
        engine_.faults.add(fault);
        return ok();
    }
    if (c == "set" || c == "setf" || c == "setl") {
        const bool holding = w.size() >= 2 && w[1] == "holding";
        const bool input = w.size() >= 2 && w[1] == "input";
        const bool coil = c == "set" && w.size() >= 2 && w[1] == "coil";
        if ((!holding && !input && !coil) || w.size() < 4 || (c != "set" && w.size() != 4) ||
            !parse_int(w[2], 0, 0xFFFF, n))
            return error("usage: " + c + (c == "set" ? " holding|input|coil ADDR VALUE..." : " holding|input ADDR VALUE"));
        std::vector<uint16_t> values;
        if (c == "set") {
            for (size_t i = 3; i < w.size(); ++i) {
                if (!parse_int(w[i], 0, coil ? 1 : 0xFFFF, m))
                    return error("bad value " + w[i]);
                values.push_back(uint16_t(m));
            }
        } else {
            std::array<uint16_t, 2> pair{};
            if (c == "setf" && parse_double(w[3], -3.4e38, 3.4e38, x))
                pair = split_float(float(x));
            else if (c == "setl" && parse_int(w[3], 0, UINT32_MAX, m))
                pair = split32(uint32_t(m));
            else
                return error("bad value " + w[3]);
            values.assign(pair.begin(), pair.end());
        }
        const uint16_t a = uint16_t(n);
        if (a + values.size() - 1 > 0xFFFF)
            return error("range past the end of the address space");
        for (size_t i = 0; i < values.size(); ++i) {
            const uint16_t r = uint16_t(a + i);
            const bool in_map = holding ? Device::is_holding(r) : input ? Device::is_input(r) : r < kBitCount;
            if (!in_map)
                return error("address " + std::to_string(r) + " is not in the map");
        }
        if (holding) {
            // The line registers must stay usable: the simulator runs on them.
            LineSettings line = device_.stored_line();
            for (size_t i = 0; i < values.size(); ++i) {
                const uint16_t r = uint16_t(a + i);
                if (r < kAddressReg || r > kStopBitsReg)
                    continue;
                if (values[i] > 0xFF)
                    return error("line registers hold a byte");
                uint8_t& field = r == kAddressReg ? line.address : r == kSpeedReg ? line.speed_code
                               : r == kParityReg  ? line.parity  : line.stop_bits;
                field = uint8_t(values[i]);
            }
            if (std::string e = check_line(line); !e.empty())
                return error(e);
            for (size_t i = 0; i < values.size(); ++i)
                device_.set_holding(uint16_t(a + i), values[i]);
            if (std::string e = engine_.set_line(line); !e.empty())
                return error(e);
        } else if (input) {
            for (size_t i = 0; i < values.size(); ++i)
                device_.override_input(uint16_t(a + i), values[i]);
        } else {
            for (size_t i = 0; i < values.size(); ++i)
                device_.override_coil(int(a + i), values[i] != 0);
        }
        return ok();
    }
    if (c == "unset") {
        const bool input = w.size() == 3 && w[1] == "input";
        const bool coil = w.size() == 3 && w[1] == "coil";
        if (!input && !coil)
            return error("usage: unset input|coil ADDR|all");
        if (w[2] == "all") {
            input ? device_.release_inputs() : device_.release_coils();
            return ok();
        }
        if (!parse_int(w[2], 0, 0xFFFF, n))
            return error("bad address " + w[2]);
        input ? device_.release_input(uint16_t(n)) : device_.release_coil(int(n));
        return ok();
    }
    if (c == "get") {
        if (w.size() != 3 || !parse_int(w[2], 0, 0xFFFF, n))
            return error("usage: get holding|input|coil|discrete ADDR");
        const uint16_t a = uint16_t(n);
        if (w[1] == "holding" && Device::is_holding(a))
            return ok(std::to_string(device_.holding(a)));
        if (w[1] == "input" && Device::is_input(a))
            return ok(std::to_string(device_.input(a, now)));
        if (w[1] == "coil" && a < kBitCount)
            return ok(device_.coil(a, now) ? "1" : "0");
        if (w[1] == "discrete" && a < kBitCount)
            return ok(device_.switch_closed(a) ? "0" : "1");
        return error("no such register");
    }
    if (c == "line") {
        LineSettings line = engine_.line();
        if (w.size() % 2 != 1 || w.size() == 1)
            return error("usage: line [address N] [speed CODE|BAUD] [parity none|odd|even] [stop 1|2]");
        for (size_t i = 1; i + 1 < w.size(); i += 2) {
            const std::string& key = w[i];
            const std::string& v = w[i + 1];
            if (key == "address" && parse_int(v, 1, 247, n)) {
                line.address = uint8_t(n);
            } else if (key == "speed" && parse_int(v, 1, 115200, n)) {
                uint8_t code = n <= 6 ? uint8_t(n) : 0;
                for (uint8_t k = 1; k < kBaud.size() && !code; ++k)
                    if (kBaud[k] == uint32_t(n))
                        code = k;
                if (!code)
                    return error("speed must be a code 1..6 or 4800, 9600, 19200, 38400, 57600, 115200");
                line.speed_code = code;
            } else if (key == "parity" && (v == "none" || v == "odd" || v == "even")) {
                line.parity = v == "none" ? 0 : v == "odd" ? 1 : 2;
            } else if (key == "stop" && (v == "1" || v == "2")) {
                line.stop_bits = uint8_t(v[0] - '0');
            } else {
                return error("bad " + key + " " + v);
            }
        }
        if (std::string e = engine_.set_line(line); !e.empty())
            return error(e);
        return ok(line.text());
    }
    if (c == "turnaround") {
        if (w.size() != 2 || !parse_int(w[1], 0, 1000, n))
            return error("usage: turnaround MS, 0..1000");
        engine_.turnaround = std::chrono::milliseconds(n);
        return ok();
    }
    return error("unknown command " + c + "; try help");
}

std::vector<std::string> Control::dump(Clock::time_point now)
{
    std::vector<std::string> d;
    auto item = [&d](const std::string& key, const std::string& value) { d.push_back(key + " = " + value); };
    const LineSettings& line = engine_.line();
    item("terminal", terminal_.path());
    item("address", std::to_string(line.address));
    item("speed", std::to_string(line.speed_code) + " (" + std::to_string(line.baud()) + " bit/s)");
    item("parity", std::to_string(line.parity) + " (" + kParityNames[line.parity % 3] + ")");
    item("stop bits", std::to_string(line.stop_bits));
    uint32_t baud = 0;
    unsigned stop = 0;
    if (terminal_.is_pty() && terminal_.master_line(baud, stop))
        item("terminal line", std::to_string(baud) + " bit/s " + std::to_string(stop) + " stop");
    item("turnaround", std::to_string(engine_.turnaround.count()) + " ms");
    item("noise", std::to_string(device_.noise()));
    item("answered", std::to_string(engine_.answered()));
    item("ignored", std::to_string(engine_.ignored()));

    auto text = [&](uint16_t first) {
        std::vector<uint8_t> bytes;
        for (uint16_t r = first; r < first + kTextBytes / 2; ++r) {
            const uint16_t v = device_.input(r, now);
            bytes.push_back(uint8_t(v >> 8));
            bytes.push_back(uint8_t(v));
        }
        return cp1251_to_utf8(bytes);
    };
    item("name", text(kNameReg));
    item("version", text(kVersionReg));
    item("brightness", std::to_string(device_.holding(kBrightnessReg)));
    item("frequency", g7(join_float(device_.input(kFrequencyReg, now), device_.input(kFrequencyReg + 1, now))));

    for (int ch = 1; ch <= kChannels; ++ch) {
        const std::string p = "ch" + std::to_string(ch) + " ";
        const uint16_t b = block(ch);
        const Analog& a = device_.analog(ch);
        const uint16_t format = device_.holding(b + kScaleFormat);
        item(p + "signal", g7(a.signal) + " %");
        item(p + "converter", "zero " + std::to_string(a.zero) + " gain " + std::to_string(a.gain));
        item(p + "scale", g7(device_.holding_float(b + kScaleTop)) + " unit " + std::to_string(format & 0xFF) +
                              " dp " + std::to_string(format >> 8));
        item(p + "max", g7(device_.holding_float(b + kSetMax)));
        item(p + "min", g7(device_.holding_float(b + kSetMin)));
        item(p + "ref", std::to_string(device_.holding(b + kRef)));
        item(p + "ncal", g7(device_.holding_float(b + kNcal)));
        item(p + "pwm", "low " + std::to_string(device_.holding(b + kPwmLow)) + " high " +
                            std::to_string(device_.holding(b + kPwmHigh)));
        item(p + "live zero", std::to_string(device_.live_zero(ch, now)));
        item(p + "adc", std::to_string(device_.adc_out(ch, now)));
        item(p + "value", g7(device_.measured(ch, now)));
    }
    for (int i = 0; i < kBitCount; ++i)
        item(std::string("relay ") + kRelayNames[size_t(i)], device_.coil(i, now) ? "on" : "off");
    for (int i = 0; i < kBitCount; ++i)
        item(std::string("switch ") + kSwitchNames[size_t(i)], device_.switch_closed(i) ? "closed" : "open");
    for (const Fault& f : engine_.faults.active()) {
        const FaultInfo& info = fault_info(f.kind);
        item(std::string("fault ") + info.name, (info.arg ? std::to_string(f.arg) + " " : std::string()) +
                                                    (f.remaining < 0 ? "always" : "times " + std::to_string(f.remaining)));
    }
    for (const auto& [a, v] : device_.input_overrides())
        item("override input " + std::to_string(a), std::to_string(v));
    for (const auto& [n, on] : device_.coil_overrides())
        item("override coil " + std::to_string(n), on ? "1" : "0");

    // Raw registers, decimal address and value, as a master reads them now.
    for (uint32_t a = 0; a <= 0xFFFF; ++a)
        if (Device::is_holding(uint16_t(a)))
            item("holding " + std::to_string(a), std::to_string(device_.holding(uint16_t(a))));
    for (uint32_t a = 0; a <= 0xFFFF; ++a)
        if (Device::is_input(uint16_t(a)))
            item("input " + std::to_string(a), std::to_string(device_.input(uint16_t(a), now)));
    for (int i = 0; i < kBitCount; ++i)
        item("coil " + std::to_string(i), device_.coil(i, now) ? "1" : "0");
    for (int i = 0; i < kBitCount; ++i)
        item("discrete " + std::to_string(i), device_.switch_closed(i) ? "0" : "1");
    return d;
}

}  // namespace varnok::sim
