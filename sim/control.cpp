#include "sim/control.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "sim/faults.h"

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

// A speed code 1..6 or a speed in bit/s; 0 when it is neither.
uint8_t parse_speed(const std::string& v)
{
    long long n = 0;
    if (!parse_int(v, 1, 115200, n))
        return 0;
    if (n <= 6)
        return uint8_t(n);
    for (uint8_t k = 1; k < kBaud.size(); ++k)
        if (kBaud[k] == uint32_t(n))
            return k;
    return 0;
}

const char* const kSpeedRule = "speed must be a code 1..6 or 4800, 9600, 19200, 38400, 57600, 115200";

// "address N speed S parity P stop B" pairs from w[1] on, any of them, into `line`.
std::string parse_line_words(const Words& w, LineSettings& line)
{
    if (w.size() % 2 != 1 || w.size() == 1)
        return "usage: " + w[0] + " [address N] [speed CODE|BAUD] [parity none|odd|even] [stop 1|2]";
    long long n = 0;
    for (size_t i = 1; i + 1 < w.size(); i += 2) {
        const std::string& key = w[i];
        const std::string& v = w[i + 1];
        if (key == "address" && parse_int(v, 1, 247, n)) {
            line.address = uint8_t(n);
        } else if (key == "speed") {
            line.speed_code = parse_speed(v);
            if (!line.speed_code)
                return kSpeedRule;
        } else if (key == "parity" && (v == "none" || v == "odd" || v == "even")) {
            line.parity = v == "none" ? 0 : v == "odd" ? 1 : 2;
        } else if (key == "stop" && (v == "1" || v == "2")) {
            line.stop_bits = uint8_t(v[0] - '0');
        } else {
            return "bad " + key + " " + v;
        }
    }
    return {};
}

// ADDR[:SPEED[:FORMAT]], FORMAT as 8N1, 8O2, 8E1 ...; the rest at the defaults (9600 8N1).
std::string parse_station(const std::string& station, LineSettings& line)
{
    line = LineSettings{};
    const std::string usage = "a device is ADDR[:SPEED[:FORMAT]], e.g. 17 or 17:19200 or 17:9600:8E1";
    const size_t c1 = station.find(':');
    const size_t c2 = c1 == std::string::npos ? c1 : station.find(':', c1 + 1);
    long long n = 0;
    if (!parse_int(station.substr(0, c1), 1, 247, n))
        return usage + " (address 1..247)";
    line.address = uint8_t(n);
    if (c1 == std::string::npos)
        return {};
    line.speed_code = parse_speed(station.substr(c1 + 1, c2 == std::string::npos ? c2 : c2 - c1 - 1));
    if (!line.speed_code)
        return kSpeedRule;
    if (c2 == std::string::npos)
        return {};
    const std::string f = station.substr(c2 + 1);
    const size_t parity =
        f.size() == 3 ? std::string("NOE").find(char(std::toupper(uint8_t(f[1])))) : std::string::npos;
    if (parity == std::string::npos || f[0] != '8' || (f[2] != '1' && f[2] != '2'))
        return usage + " (format 8N1, 8O1, 8E1, 8N2, 8O2 or 8E2)";
    line.parity = uint8_t(parity);
    line.stop_bits = uint8_t(f[2] - '0');
    return {};
}

// VALUE or VALUE*COUNT, each value parsed by `one`, appended `count` times.
template <class One>
bool parse_repeated(const std::string& word, One one, std::deque<std::array<uint16_t, 2>>& steps)
{
    const size_t star = word.find('*');
    long long count = 1;
    if (star != std::string::npos && !parse_int(word.substr(star + 1), 1, 100000, count))
        return false;
    std::array<uint16_t, 2> step{};
    if (!one(word.substr(0, star), step))
        return false;
    steps.insert(steps.end(), size_t(count), step);
    return steps.size() <= 1'000'000;
}

}  // namespace

Control::Control(Engine& engine, Terminal& terminal) : engine_(engine), terminal_(terminal) {}

// Every command, in the order the help lists them.
const Control::Command Control::kCommands[] = {
    {"device", "add ADDR[:SPEED[:FORMAT]]",
     "put another device on the line (registers at their defaults;\n"
     "SPEED a code or bit/s, default 9600; FORMAT 8N1 (default),\n"
     "8O1, 8E1, 8N2, 8O2, 8E2) and select it",
     &Control::device_command},
    {"device", "N", "select device N (1 = the first) for the commands below", &Control::device_command},
    {"device", "list", "\"#N ADDR BAUD FORMAT\" of each device, the selected one marked", &Control::device_command},
    {"signal", "CH PERCENT", "input signal of channel CH (1..3), -100..200 % of full scale", &Control::analog_command},
    {"zero", "CH COUNTS", "true converter zero of channel CH (what a perfect Ref would be)", &Control::analog_command},
    {"gain", "CH COUNTS", "converter counts from 0 % to 100 % signal", &Control::analog_command},
    {"noise", "COUNTS",
     "converter noise, +-COUNTS per reading (0..1000); 0 also steadies\n"
     "the mains frequency at 50 Hz",
     &Control::noise_command},
    {"switch", "XP1|JMP78|XP3 open|closed", "switch input; a closed switch reads as 0", &Control::switch_command},
    {"name", "TEXT",
     "device texts (UTF-8 in, Windows-1251 on the wire, at most 10\n"
     "characters, zero bytes after)",
     &Control::text_command},
    {"version", "TEXT", "", &Control::text_command, kColumn, true},
    {"fault", "KIND [ARG] [times N|always] [after N] [at ADDR] [function FC]",
     "spoil the next N answers (default 1) or all until cleared;\n"
     "with an aim, only requests that touch register (or bit) ADDR\n"
     "and/or use function FC, and only after N of them went\n"
     "untouched: \"fault silence at 0x67 function 3 always\",\n"
     "\"fault silence after 2\" (the third request from now)",
     &Control::fault_command},
    {"fault", "clear [KIND]", "clear one kind of fault (every aim) or all of them", &Control::fault_command},
    {"set", "holding|input|coil ADDR VALUE...",
     "store 16-bit values from ADDR on (holding; the line registers\n"
     "are put in force at once), or override live input registers\n"
     "or relays until unset",
     &Control::set_command},
    {"setf", "holding|input ADDR FLOAT", "a float into ADDR and ADDR+1 (device byte order)", &Control::set_command, 33},
    {"setl", "holding|input ADDR NUMBER", "an unsigned 32-bit value likewise", &Control::set_command, 33},
    {"unset", "input|coil ADDR|all", "back to the live value", &Control::unset_command, 33},
    {"script", "input ADDR VALUE[*N]...",
     "readings of input register ADDR, one per request that\n"
     "reads it (VALUE*N: N times): \"script input 0x2E 450*15 451\";\n"
     "a request the device does not act on (silence, exception)\n"
     "takes none; when they run out, the register reads as before\n"
     "(its override if set, else live)",
     &Control::script_command, 33},
    {"scriptl", "input ADDR NUMBER[*N]...", "32-bit readings of ADDR and ADDR+1 likewise", &Control::script_command,
     33},
    {"scriptf", "input ADDR FLOAT[*N]...", "float readings of ADDR and ADDR+1 likewise", &Control::script_command, 33},
    {"script", "clear [ADDR]", "drop the script starting at ADDR, or all of them", &Control::script_command},
    {"get", "holding|input|coil|discrete ADDR", "\"ok VALUE\" (a script's next reading, not taken)",
     &Control::get_command, 39},
    {"line", "[address N] [speed CODE|BAUD] [parity none|odd|even] [stop 1|2]",
     "change the device's line settings at once (in force and stored)", &Control::line_command},
    {"stored", "[address N] [speed CODE|BAUD] [parity none|odd|even] [stop 1|2]",
     "change only what registers 800..803 hex hold; the device keeps\n"
     "its line until a master writes them",
     &Control::line_command},
    {"turnaround", "MS", "delay between a request and its answer (0..1000)", &Control::turnaround_command},
    {"random", "PERCENT [seed N]",
     "random faults: each answer, with this chance, gets one fault\n"
     "of a kind drawn at random (exception codes 1..4, slow 0..500 ms);\n"
     "0 turns them off; dump counts the answers each kind spoilt",
     &Control::random_command},
    {"unplug", "",
     "close the terminal as a pulled adapter would: the console's\n"
     "side is hung up, the terminal and the --link go away",
     &Control::plug_command},
    {"plug", "",
     "a new terminal (and the --link to it) after unplug;\n"
     "\"ok terminal PATH\"",
     &Control::plug_command},
    {"dump", "", "the whole state, one \"key = value\" per line", &Control::dump_command},
    {"drop", "",
     "(--tcp) close the master's connection, as a converter that\n"
     "restarts does; the next connection is taken as before",
     &Control::drop_command},
    {"help", "", "", &Control::help_command},
    {"quit", "", "", &Control::quit_command, kColumn, true},
};

std::string Control::commands_help()
{
    // Descriptions start after the name-and-arguments column, and their further lines too.
    const std::string indent(2 + kColumn, ' ');
    std::string h =
        "Commands (one per line; each answers one line starting with \"ok\" or \"error: \";\n"
        "dump, help and device list print their lines first). Numbers may be decimal or\n"
        "0x-hexadecimal. Commands about a device apply to the selected one (see device).\n";
    const size_t rows = std::size(kCommands);
    for (size_t i = 0; i < rows;) {
        const Command& row = kCommands[i];
        std::string usage;
        for (; i < rows && (usage.empty() || kCommands[i].same_row); ++i) {
            usage += (usage.empty() ? "" : ", ") + std::string(kCommands[i].name);
            if (*kCommands[i].args)
                usage += std::string(" ") + kCommands[i].args;
        }
        h += "  " + usage;
        std::istringstream help(row.help);
        std::string line;
        if (!std::getline(help, line)) {
            h += "\n";
            continue;
        }
        h += usage.size() < row.column ? std::string(row.column - usage.size(), ' ') : "\n" + indent;
        h += line + "\n";
        while (std::getline(help, line))
            h += indent + line + "\n";
    }
    h += "Fault kinds:\n";
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
         "  it is aimed at that reaches its device (right line, CRC and address), even when\n"
         "  another masks it. Each device has its own faults.\n";
    return h;
}

std::string Control::describe(size_t index) const
{
    return "#" + std::to_string(index + 1) + " " + engine_.stations()[index]->line.text();
}

Reply Control::run(const std::string& command, Clock::time_point now)
{
    const Words w = split(command);
    if (w.empty())
        return error("empty command");
    for (const Command& c : kCommands)
        if (w[0] == c.name)
            return (this->*c.handler)(Call{w, command, now});
    return error("unknown command " + w[0] + "; try help");
}

Reply Control::help_command(const Call&)
{
    Reply r = ok();
    std::istringstream in(commands_help());
    for (std::string s; std::getline(in, s);)
        r.body.push_back(s);
    return r;
}

Reply Control::quit_command(const Call&)
{
    Reply r = ok("bye");
    r.quit = true;
    return r;
}

Reply Control::drop_command(const Call&)
{
    if (!terminal_.is_tcp())
        return error("drop: not on TCP (--tcp)");
    terminal_.drop_master();
    return ok();
}

Reply Control::dump_command(const Call& c)
{
    Reply r = ok();
    r.body = dump(c.now);
    return r;
}

// signal, zero, gain
Reply Control::analog_command(const Call& c)
{
    const Words& w = c.words;
    const std::string& name = w[0];
    long long n = 0, m = 0;
    double x = 0;
    if (w.size() != 3 || !parse_int(w[1], 1, kChannels, n))
        return error("usage: " + name + " CH VALUE, CH 1..3");
    Analog& a = device().analog(int(n));
    if (name == "signal") {
        if (!parse_double(w[2], -100, 200, x))
            return error("signal must be -100..200 %");
        a.signal = x;
    } else if (name == "zero") {
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

Reply Control::noise_command(const Call& c)
{
    long long n = 0;
    if (c.words.size() != 2 || !parse_int(c.words[1], 0, 1000, n))
        return error("usage: noise COUNTS, 0..1000");
    device().set_noise(int(n));
    return ok();
}

Reply Control::switch_command(const Call& c)
{
    const Words& w = c.words;
    int which = -1;
    for (int i = 0; i < kBitCount && w.size() == 3; ++i)
        if (w[1] == kSwitchNames[size_t(i)])
            which = i;
    if (which < 0 || (w[2] != "open" && w[2] != "closed"))
        return error("usage: switch XP1|JMP78|XP3 open|closed");
    device().set_switch(which, w[2] == "closed");
    return ok();
}

// name, version: the rest of the line as typed, spaces included.
Reply Control::text_command(const Call& c)
{
    const std::string text = utf8_to_cp1251(rest_of(c.line));
    if (text.size() > kTextBytes)
        return error("at most 10 characters");
    c.words[0] == "name" ? device().set_name(text) : device().set_version(text);
    return ok();
}

Reply Control::unset_command(const Call& c)
{
    const Words& w = c.words;
    long long n = 0;
    const bool input = w.size() == 3 && w[1] == "input";
    const bool coil = w.size() == 3 && w[1] == "coil";
    if (!input && !coil)
        return error("usage: unset input|coil ADDR|all");
    if (w[2] == "all") {
        input ? device().release_inputs() : device().release_coils();
        return ok();
    }
    if (!parse_int(w[2], 0, 0xFFFF, n))
        return error("bad address " + w[2]);
    input ? device().release_input(uint16_t(n)) : device().release_coil(int(n));
    return ok();
}

Reply Control::get_command(const Call& c)
{
    const Words& w = c.words;
    long long n = 0;
    if (w.size() != 3 || !parse_int(w[2], 0, 0xFFFF, n))
        return error("usage: get holding|input|coil|discrete ADDR");
    const uint16_t a = uint16_t(n);
    if (w[1] == "holding" && SimulatedDevice::is_holding(a))
        return ok(std::to_string(device().holding(a)));
    if (w[1] == "input" && SimulatedDevice::is_input(a))
        return ok(std::to_string(device().input(a, c.now)));
    if (w[1] == "coil" && a < kBitCount)
        return ok(device().coil(a, c.now) ? "1" : "0");
    if (w[1] == "discrete" && a < kBitCount)
        return ok(device().switch_closed(a) ? "0" : "1");
    return error("no such register");
}

// line: in force and stored; stored: only what the registers hold.
Reply Control::line_command(const Call& c)
{
    const Words& w = c.words;
    const bool stored = w[0] == "stored";
    LineSettings line = stored ? device().stored_line() : station().line;
    if (std::string e = parse_line_words(w, line); !e.empty())
        return error(e);
    if (stored) {
        device().store_line(line);
        return ok(line.text());
    }
    if (std::string e = engine_.set_line(station(), line); !e.empty())
        return error(e);
    return ok(line.text());
}

Reply Control::random_command(const Call& c)
{
    const Words& w = c.words;
    long long seed = 1;
    double x = 0;
    if ((w.size() != 2 && w.size() != 4) || !parse_double(w[1], 0, 100, x) ||
        (w.size() == 4 && (w[2] != "seed" || !parse_int(w[3], 0, UINT32_MAX, seed))))
        return error("usage: random PERCENT [seed N], PERCENT 0..100");
    station().faults.set_random(x, uint32_t(seed));
    return ok();
}

// unplug, plug
Reply Control::plug_command(const Call& c)
{
    const std::string& name = c.words[0];
    if (c.words.size() != 1)
        return error("usage: " + name);
    if (!plug_)
        return error("the terminal cannot be " + name + "ged here");
    if (std::string e = plug_(name == "plug"); !e.empty())
        return error(e);
    return name == "plug" ? ok("terminal " + terminal_.path()) : ok();
}

Reply Control::turnaround_command(const Call& c)
{
    long long n = 0;
    if (c.words.size() != 2 || !parse_int(c.words[1], 0, 1000, n))
        return error("usage: turnaround MS, 0..1000");
    station().turnaround = std::chrono::milliseconds(n);
    return ok();
}

Reply Control::device_command(const Call& c)
{
    const Words& w = c.words;
    auto& all = engine_.stations();
    long long n = 0;
    if (w.size() == 2 && w[1] == "list") {
        Reply r = ok();
        for (size_t i = 0; i < all.size(); ++i)
            r.body.push_back(describe(i) + (i == selected_ ? " selected" : ""));
        return r;
    }
    if (w.size() == 3 && w[1] == "add") {
        LineSettings line;
        if (std::string e = parse_station(w[2], line); !e.empty())
            return error(e);
        if (all.size() >= 247)
            return error("at most 247 devices");
        engine_.add(line);
        selected_ = all.size() - 1;
        return ok(describe(selected_));
    }
    if (w.size() == 2 && parse_int(w[1], 1, (long long)all.size(), n)) {
        selected_ = size_t(n - 1);
        return ok(describe(selected_));
    }
    return error("usage: device add ADDR[:SPEED[:FORMAT]] | device N (1.." + std::to_string(all.size()) +
                 ") | device list");
}

Reply Control::fault_command(const Call& c)
{
    const Words& w = c.words;
    long long n = 0;
    Faults& faults = station().faults;
    if (w.size() >= 2 && w[1] == "clear") {
        if (w.size() == 2) {
            faults.clear();
            return ok();
        }
        const FaultInfo* f = w.size() == 3 ? find_fault(w[2]) : nullptr;
        if (!f)
            return error("usage: fault clear [KIND]");
        return faults.clear(f->kind) ? ok() : error(std::string("no ") + f->name + " fault active");
    }
    const FaultInfo* f = w.size() >= 2 ? find_fault(w[1]) : nullptr;
    if (!f)
        return error("unknown fault kind; see help");
    Fault fault{f->kind, f->default_arg};
    const auto keyword = [](const std::string& s) {
        return s == "times" || s == "always" || s == "after" || s == "at" || s == "function";
    };
    size_t i = 2;
    if (f->arg && i < w.size() && !keyword(w[i])) {
        if (!parse_int(w[i], f->min_arg, f->max_arg, n))
            return error(std::string(f->arg) + " must be " + std::to_string(f->min_arg) + ".." +
                         std::to_string(f->max_arg));
        fault.arg = int(n);
        ++i;
    }
    while (i < w.size()) {
        const std::string& k = w[i];
        if (k == "always") {
            fault.remaining = -1;
            ++i;
            continue;
        }
        const bool has_value = i + 1 < w.size();
        const std::string v = has_value ? w[i + 1] : "";
        if (k == "times" && parse_int(v, 1, 1'000'000, n))
            fault.remaining = int(n);
        else if (k == "after" && parse_int(v, 0, 1'000'000, n))
            fault.skip = int(n);
        else if (k == "at" && parse_int(v, 0, 0xFFFF, n))
            fault.address = int(n);
        else if (k == "function" && parse_int(v, 1, 127, n))
            fault.function = int(n);
        else if (keyword(k) && has_value)
            return error("bad " + k + " " + v + " (times 1..1000000, after 0..1000000, at 0..65535, function 1..127)");
        else
            return error("usage: fault KIND [ARG] [times N|always] [after N] [at ADDR] [function FC]");
        i += 2;
    }
    faults.add(fault);
    return ok();
}

Reply Control::set_command(const Call& c)
{
    const Words& w = c.words;
    const std::string& name = w[0];
    long long n = 0, m = 0;
    double x = 0;
    const bool holding = w.size() >= 2 && w[1] == "holding";
    const bool input = w.size() >= 2 && w[1] == "input";
    const bool coil = name == "set" && w.size() >= 2 && w[1] == "coil";
    if ((!holding && !input && !coil) || w.size() < 4 || (name != "set" && w.size() != 4) ||
        !parse_int(w[2], 0, 0xFFFF, n))
        return error("usage: " + name +
                     (name == "set" ? " holding|input|coil ADDR VALUE..." : " holding|input ADDR VALUE"));
    std::vector<uint16_t> values;
    if (name == "set") {
        for (size_t i = 3; i < w.size(); ++i) {
            if (!parse_int(w[i], 0, coil ? 1 : 0xFFFF, m))
                return error("bad value " + w[i]);
            values.push_back(uint16_t(m));
        }
    } else {
        std::array<uint16_t, 2> pair{};
        if (name == "setf" && parse_double(w[3], -3.4e38, 3.4e38, x))
            pair = split_float(float(x));
        else if (name == "setl" && parse_int(w[3], 0, UINT32_MAX, m))
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
        const bool in_map = holding ? SimulatedDevice::is_holding(r)
                            : input ? SimulatedDevice::is_input(r)
                                    : r < kBitCount;
        if (!in_map)
            return error("address " + std::to_string(r) + " is not in the map");
    }
    if (holding) {
        // The line registers must stay usable: the simulator runs on them. What is written
        // of them goes into force at once.
        LineSettings stored = device().stored_line(), line = station().line;
        for (size_t i = 0; i < values.size(); ++i) {
            const uint16_t r = uint16_t(a + i);
            if (r < kAddressReg || r > kStopBitsReg)
                continue;
            if (values[i] > 0xFF)
                return error("line registers hold a byte");
            stored.at(r) = line.at(r) = uint8_t(values[i]);
        }
        if (std::string e = check_line(stored); !e.empty())
            return error(e);
        for (size_t i = 0; i < values.size(); ++i)
            device().set_holding(uint16_t(a + i), values[i]);
        if (std::string e = engine_.put_in_force(station(), line); !e.empty())
            return error(e);
    } else if (input) {
        for (size_t i = 0; i < values.size(); ++i)
            device().override_input(uint16_t(a + i), values[i]);
    } else {
        for (size_t i = 0; i < values.size(); ++i)
            device().override_coil(int(a + i), values[i] != 0);
    }
    return ok();
}

Reply Control::script_command(const Call& c)
{
    const Words& w = c.words;
    const std::string& name = w[0];
    long long n = 0;
    if (name == "script" && w.size() >= 2 && w[1] == "clear") {
        if (w.size() == 2) {
            device().clear_scripts();
            return ok();
        }
        if (w.size() != 3 || !parse_int(w[2], 0, 0xFFFF, n))
            return error("usage: script clear [ADDR]");
        return device().clear_script(uint16_t(n)) ? ok() : error("no script at " + w[2]);
    }
    const std::string kind = name == "script" ? "VALUE" : name == "scriptl" ? "NUMBER" : "FLOAT";
    if (w.size() < 4 || w[1] != "input" || !parse_int(w[2], 0, 0xFFFF, n))
        return error("usage: " + name + " input ADDR " + kind + "[*N]...");
    Script script;
    script.width = name == "script" ? 1 : 2;
    const auto one = [&name](const std::string& s, std::array<uint16_t, 2>& step) {
        long long v = 0;
        double f = 0;
        if (name == "script" && parse_int(s, 0, 0xFFFF, v))
            step = {uint16_t(v), 0};
        else if (name == "scriptl" && parse_int(s, 0, UINT32_MAX, v))
            step = split32(uint32_t(v));
        else if (name == "scriptf" && parse_double(s, -3.4e38, 3.4e38, f))
            step = split_float(float(f));
        else
            return false;
        return true;
    };
    for (size_t i = 3; i < w.size(); ++i)
        if (!parse_repeated(w[i], one, script.steps))
            return error("bad reading " + w[i] + " (" + kind + " or " + kind + "*COUNT, COUNT 1..100000)");
    const size_t steps = script.steps.size();
    if (std::string e = device().script_input(uint16_t(n), std::move(script)); !e.empty())
        return error(e);
    return ok(std::to_string(steps) + (steps == 1 ? " reading" : " readings"));
}

std::vector<std::string> Control::dump(Clock::time_point now)
{
    std::vector<std::string> d;
    auto item = [&d](const std::string& key, const std::string& value) { d.push_back(key + " = " + value); };
    SimulatedDevice& dev = device();
    const LineSettings& line = station().line;
    item("terminal", terminal_.path());
    TerminalLine seen;
    if (terminal_.is_pty() && terminal_.line_seen(seen))
        item("terminal line", seen.text());
    item("devices", std::to_string(engine_.stations().size()));
    item("selected", describe(selected_));
    item("ignored", std::to_string(engine_.ignored()));
    // The selected device from here on.
    item("address", std::to_string(line.address));
    item("speed", std::to_string(line.speed_code) + " (" + std::to_string(line.baud()) + " bit/s)");
    item("parity", std::to_string(line.parity) + " (" + kParityNames[line.parity % 3] + ")");
    item("stop bits", std::to_string(line.stop_bits));
    item("stored line", dev.stored_line().text());
    item("turnaround", std::to_string(station().turnaround.count()) + " ms");
    item("random faults", g7(station().faults.random_percent()) + " %");
    for (size_t k = 0; k < kFaultKinds.size(); ++k)
        item(std::string("injected ") + kFaultKinds[k].name, std::to_string(station().faults.injected()[k]));
    item("noise", std::to_string(dev.noise()));
    item("answered", std::to_string(station().answered));

    auto text = [&](uint16_t first) {
        std::vector<uint8_t> bytes;
        for (uint16_t r = first; r < first + kTextBytes / 2; ++r) {
            const uint16_t v = dev.input(r, now);
            bytes.push_back(uint8_t(v >> 8));
            bytes.push_back(uint8_t(v));
        }
        return cp1251_to_utf8(bytes);
    };
    item("name", text(kNameReg));
    item("version", text(kVersionReg));
    item("brightness", std::to_string(dev.holding(kBrightnessReg)));
    item("frequency", g7(join_float(dev.input(kFrequencyReg, now), dev.input(kFrequencyReg + 1, now))));

    for (int ch = 1; ch <= kChannels; ++ch) {
        const std::string p = "ch" + std::to_string(ch) + " ";
        const uint16_t b = block(ch);
        const Analog& a = dev.analog(ch);
        const uint16_t format = dev.holding(b + kScaleFormat);
        item(p + "signal", g7(a.signal) + " %");
        item(p + "converter", "zero " + std::to_string(a.zero) + " gain " + std::to_string(a.gain));
        item(p + "scale", g7(dev.holding_float(b + kScaleTop)) + " unit " + std::to_string(format & 0xFF) + " dp " +
                              std::to_string(format >> 8));
        item(p + "max", g7(dev.holding_float(b + kSetMax)));
        item(p + "min", g7(dev.holding_float(b + kSetMin)));
        item(p + "ref", std::to_string(dev.holding(b + kRef)));
        item(p + "ncal", g7(dev.holding_float(b + kNcal)));
        item(p + "pwm",
             "low " + std::to_string(dev.holding(b + kPwmLow)) + " high " + std::to_string(dev.holding(b + kPwmHigh)));
        item(p + "live zero", std::to_string(dev.live_zero(ch, now)));
        item(p + "adc", std::to_string(dev.adc_out(ch, now)));
        item(p + "value", g7(dev.measured(ch, now)));
    }
    for (int i = 0; i < kBitCount; ++i)
        item(std::string("relay ") + kRelayNames[size_t(i)], dev.coil(i, now) ? "on" : "off");
    for (int i = 0; i < kBitCount; ++i)
        item(std::string("switch ") + kSwitchNames[size_t(i)], dev.switch_closed(i) ? "closed" : "open");
    for (const Fault& f : station().faults.active()) {
        const FaultInfo& info = fault_info(f.kind);
        std::string key = std::string("fault ") + info.name;
        if (f.address >= 0)
            key += " at " + std::to_string(f.address);
        if (f.function)
            key += " function " + std::to_string(f.function);
        item(key, (info.arg ? std::to_string(f.arg) + " " : std::string()) +
                      (f.remaining < 0 ? "always" : "times " + std::to_string(f.remaining)) +
                      (f.skip ? " after " + std::to_string(f.skip) : std::string()));
    }
    for (const auto& [a, v] : dev.input_overrides())
        item("override input " + std::to_string(a), std::to_string(v));
    for (const auto& [a, script] : dev.scripts())
        item("script input " + std::to_string(a), std::to_string(script.steps.size()) + " readings left");
    for (const auto& [n, on] : dev.coil_overrides())
        item("override coil " + std::to_string(n), on ? "1" : "0");

    // Raw registers, decimal address and value, as a master reads them now.
    for (uint32_t a = 0; a <= 0xFFFF; ++a)
        if (SimulatedDevice::is_holding(uint16_t(a)))
            item("holding " + std::to_string(a), std::to_string(dev.holding(uint16_t(a))));
    for (uint32_t a = 0; a <= 0xFFFF; ++a)
        if (SimulatedDevice::is_input(uint16_t(a)))
            item("input " + std::to_string(a), std::to_string(dev.input(uint16_t(a), now)));
    for (int i = 0; i < kBitCount; ++i)
        item("coil " + std::to_string(i), dev.coil(i, now) ? "1" : "0");
    for (int i = 0; i < kBitCount; ++i)
        item("discrete " + std::to_string(i), dev.switch_closed(i) ? "0" : "1");
    return d;
}

}  // namespace varnok::sim
