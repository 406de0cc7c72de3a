// The line budget measured: every exchange the console makes, a full poll, a periodic tick,
// the start-up probe and the scans, against the simulator on a pseudo-terminal at every
// speed code, in the normal timing and in the fast exchange. Each time is printed
// beside the budget that the pauses, time-outs and the line itself give for it, and beside
// a libmodbus master making the same reads on the same line in the same run.
//
//   line_budget [--codes 1,2,...] [--reps N] [--window N] [--turnaround MS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <modbus.h>
#include <string>
#include <vector>

#include "device/device.h"
#include "support/sim_process.h"

namespace varnok::bench {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

struct Options {
    std::vector<uint8_t> codes{1, 2, 3, 4, 5, 6};
    int reps = 11;
    int window = 10;     // numbers of the all-speeds scan, scaled to 247
    int turnaround = 5;  // the simulated device's delay before it answers, ms
};

class CountedNotices : public Notices, public DeviceNotices {
public:
    void message_box(const std::string& text, const std::string& informative) override
    {
        std::fprintf(stderr, "message box: %s %s\n", text.c_str(), informative.c_str());
        ++count;
    }
    int count = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// What the timing rules give for an exchange on this line, in ms. The request reaches the
// simulator at once (a pseudo-terminal), which answers `turnaround` later at the pace of
// the line; the answer has `length` bytes, the receiver asks for `wait_bytes` after the
// address, and a write lets the device settle `settle` ms.
struct Line {
    uint8_t code;
    double ct;          // character time, ms (8N1)
    double turnaround;  // ms

    double gap() const { return std::max(3.5 * ct, 1.75); }

    double normal(int length, int wait_bytes, int settle) const
    {
        const double before = t_end_packet[code], after = t_after_response[code], allow = t_allow[code];
        const double found = std::max(before + after + settle, before + turnaround + ct);
        return std::max(found + allow * wait_bytes, before + turnaround + length * ct) + allow;
    }
    // `after_frame`: the exchange follows another at once, so the line must first be silent.
    double fast(int length, bool after_frame) const
    {
        return (after_frame ? gap() : 0) + std::max(gap(), turnaround + length * ct);
    }
    double normal_probe(bool answers) const
    {
        const double before = t_end_packet[code], after = t_after_response[code];
        const double read = 2.0 * t_after_response[code] + 2.0 * t_end_packet[code];
        return answers ? before + std::max(after, turnaround + 7 * ct) : before + after + 4 * read;
    }
    double fast_probe(bool answers, int wait) const
    {
        return answers ? std::max(gap(), turnaround + 7 * ct) : std::max(gap(), 15 * ct + wait);
    }
};

struct Kind {
    const char* name;
    int length;      // answer bytes
    int wait_bytes;  // bytes asked for after the address
    int settle;      // ms the device is given to store
    std::function<uint8_t(Device&)> ours;
    std::function<int(modbus_t*)> theirs;
};

struct Row {
    std::string code, speed, name;
    int exchanges = 1;
    double ms[2]{}, budget[2]{};
    double libmodbus = 0;  // 0: not measured
};

void print_header(const Options& o)
{
    std::printf(
        "Line budget: the simulator on a pseudo-terminal (turnaround %d ms, 8N1), medians of %d;\n"
        "single exchanges and probes start on a quiet line, polls and ticks run back to back.\n"
        "ms: measured; budget: what the pauses, time-outs and line give; ratio = ms / budget;\n"
        "d/x: (ms - budget) per exchange; lm: libmodbus master, same reads, same line.\n\n",
        o.turnaround, o.reps);
    std::printf("%-4s %6s %-22s %3s | %9s %9s %6s %6s | %9s %9s %6s %6s | %8s %7s %7s\n", "code", "bit/s", "operation",
                "x", "desc ms", "budget", "ratio", "d/x", "fast ms", "budget", "ratio", "d/x", "lm ms", "desc/lm",
                "fast/lm");
}

void print_row(const Row& r)
{
    std::printf("%-4s %6s %-22s %3d |", r.code.c_str(), r.speed.c_str(), r.name.c_str(), r.exchanges);
    for (int m = 0; m < 2; ++m)
        std::printf(" %9.1f %9.1f %6.2f %6.2f |", r.ms[m], r.budget[m], r.ms[m] / r.budget[m],
                    (r.ms[m] - r.budget[m]) / r.exchanges);
    if (r.libmodbus > 0)
        std::printf(" %8.1f %7.2f %7.2f\n", r.libmodbus, r.ms[0] / r.libmodbus, r.ms[1] / r.libmodbus);
    else
        std::printf(" %8s %7s %7s\n", "-", "-", "-");
    std::fflush(stdout);
}

class Bench {
public:
    explicit Bench(const Options& o)
        : o_(o), sim_({"--noise", "0", "--turnaround", std::to_string(o.turnaround)}),
          link_(notices_, sleeper_, ports_), dev_(link_, notices_)
    {
        ports_.set(1, sim_.path());
    }

    void run()
    {
        print_header(o_);
        for (uint8_t code : o_.codes)
            at_speed(code);
        every_speed_scan();
        if (failures_ || notices_.count)
            std::printf("\n%d exchanges went wrong, %d message boxes: see standard error\n", failures_, notices_.count);
    }

private:
    // The line at a speed code, in one of the two timings.
    void open(uint8_t code, bool fast)
    {
        link_.set_fast_exchange(fast);
        link_.set_speed_code(code);
        link_.set_sys_num(5);
        link_.vich_timeout(code);
    }
    void quiet() { sleeper_.sleep_ms(20); }
    void expect_ok(uint8_t code, const char* what)
    {
        if (code != kOk) {
            ++failures_;
            std::fprintf(stderr, "%s: code %d at %d bit/s%s\n", what, code, link_.settings().scor_obmena,
                         link_.settings().fast_exchange ? " (fast)" : "");
        }
    }
    template <class F>
    double timed(F f)
    {
        const auto start = Clock::now();
        f();
        return Ms(Clock::now() - start).count();
    }

    std::vector<Kind> kinds()
    {
        return {
            {"read 1 register", 7, 7, 0, [](Device& d) { return d.zapros_adr().err; },
             [](modbus_t* m) {
                 uint16_t r[1];
                 return modbus_read_registers(m, kRegSysNum, 1, r);
             }},
            {"read 2 registers", 9, 9, 0, [](Device& d) { return d.zapros_izm_znach_new(1).err; },
             [](modbus_t* m) {
                 uint16_t r[2];
                 return modbus_read_input_registers(m, 32 + kOffUrms, 2, r);
             }},
            {"read 3 registers", 11, 11, 0, [](Device& d) { return d.zapros_pars_nastr_SCL_new(1).err; },
             [](modbus_t* m) {
                 uint16_t r[3];
                 return modbus_read_registers(m, 32, 3, r);
             }},
            {"read 4 registers", 13, 13, 0, [](Device& d) { return d.zapros_pars_nastr_UST_new(1).err; },
             [](modbus_t* m) {
                 uint16_t r[4];
                 return modbus_read_registers(m, 32 + kOffMax, 4, r);
             }},
            {"read 5 registers", 15, 15, 0, [](Device& d) { return d.read_input(kRegName, kTextRegisters).err; },
             [](modbus_t* m) {
                 uint16_t r[5];
                 return modbus_read_input_registers(m, kRegName, 5, r);
             }},
            {"write 1 register", 8, 8, 20, [](Device& d) { return d.write_holding(kRegLight, 3).err; },
             [](modbus_t* m) {
                 const uint16_t v[1] = {3};
                 return modbus_write_registers(m, kRegLight, 1, v);
             }},
            {"write 2 registers", 8, 8, 40, [](Device& d) { return d.write_holding_pair(32 + kOffMax, 225.0f).err; },
             [](modbus_t* m) {
                 const uint16_t v[2] = {0x0000, 0x6143};
                 return modbus_write_registers(m, 32 + kOffMax, 2, v);
             }},
        };
    }

    // The poll's requests in order: scales, setpoints, measured values, frequency, PWM.
    uint8_t poll(bool full)
    {
        uint8_t worst = kOk;
        auto take = [&](uint8_t e) { worst = e != kOk ? e : worst; };
        for (int n = 1; full && n <= kChannels; ++n)
            take(dev_.zapros_pars_nastr_SCL_new(n).err);
        for (int n = 1; full && n <= kChannels; ++n)
            take(dev_.zapros_pars_nastr_UST_new(n).err);
        for (int n = 1; n <= kChannels; ++n)
            take(dev_.zapros_izm_znach_new(n).err);
        take(dev_.read_input(kRegFreq, 2).err);
        for (int n = 1; n <= kChannels; ++n)
            take(dev_.zapros_PWM(n).err);
        return worst;
    }
    static std::vector<std::pair<int, bool>> poll_answers(bool full)  // answer lengths, input or not
    {
        std::vector<std::pair<int, bool>> v;
        if (full) {
            v.insert(v.end(), 3, {11, false});
            v.insert(v.end(), 3, {13, false});
        }
        v.insert(v.end(), 4, {9, true});
        v.insert(v.end(), 3, {9, false});
        return v;
    }
    static int poll_lm(modbus_t* m, bool full)
    {
        uint16_t r[5];
        int worst = 0;
        auto take = [&](int rc) { worst = rc < 0 ? rc : worst; };
        for (int n = 1; full && n <= kChannels; ++n)
            take(modbus_read_registers(m, 32 * n, 3, r));
        for (int n = 1; full && n <= kChannels; ++n)
            take(modbus_read_registers(m, 32 * n + kOffMax, 4, r));
        for (int n = 1; n <= kChannels; ++n)
            take(modbus_read_input_registers(m, 32 * n + kOffUrms, 2, r));
        take(modbus_read_input_registers(m, kRegFreq, 2, r));
        for (int n = 1; n <= kChannels; ++n)
            take(modbus_read_registers(m, 32 * n + kOffPWML, 2, r));
        return worst;
    }

    void at_speed(uint8_t code)
    {
        if (sim_.command("set holding 0x801 " + std::to_string(code)).rfind("ok", 0) != 0)
            std::fprintf(stderr, "the simulator did not take speed code %d\n", code);
        const Line line{code, 10'000.0 / scor[code], double(o_.turnaround)};
        const std::string c = std::to_string(code), speed = std::to_string(scor[code]);
        std::vector<Row> rows;

        for (const Kind& k : kinds()) {
            Row r{c, speed, k.name};
            r.budget[0] = line.normal(k.length, k.wait_bytes, k.settle);
            r.budget[1] = line.fast(k.length, false);
            for (int m = 0; m < 2; ++m) {
                open(code, m == 1);
                std::vector<double> t;
                for (int i = 0; i < o_.reps; ++i) {
                    quiet();
                    uint8_t e = kOk;
                    t.push_back(timed([&] { e = k.ours(dev_); }));
                    expect_ok(e, k.name);
                }
                r.ms[m] = median(t);
            }
            rows.push_back(r);
        }

        for (bool full : {true, false}) {
            Row r{c, speed, full ? "full poll" : "periodic tick", full ? 13 : 8};
            const auto answers = poll_answers(full);
            bool first = true;
            if (!full) {  // the address check comes first
                r.budget[0] += line.normal(7, 7, 0);
                r.budget[1] += line.fast(7, false);
                first = false;
            }
            for (auto [length, input] : answers) {
                (void)input;
                r.budget[0] += line.normal(length, length, 0);
                r.budget[1] += line.fast(length, !first);
                first = false;
            }
            for (int m = 0; m < 2; ++m) {
                open(code, m == 1);
                std::vector<double> t;
                for (int i = 0; i < std::max(3, o_.reps / 2); ++i) {
                    quiet();
                    uint8_t e = kOk;
                    t.push_back(timed([&] {
                        if (!full)
                            e = dev_.zapros_adr().err;
                        if (e == kOk)
                            e = poll(full);
                    }));
                    expect_ok(e, r.name.c_str());
                }
                r.ms[m] = median(t);
            }
            rows.push_back(r);
        }

        {
            Row r{c, speed, "start-up probe"};
            r.budget[0] = line.normal_probe(true);
            r.budget[1] = line.fast_probe(true, link_.settings().fast_probe_wait);
            for (int m = 0; m < 2; ++m) {
                link_.set_fast_exchange(m == 1);
                link_.set_speed_code(code);
                link_.set_sys_num(5);
                std::vector<double> t;
                for (int i = 0; i < std::max(3, o_.reps / 2); ++i) {
                    quiet();
                    uint8_t found = 0;
                    t.push_back(timed([&] { found = dev_.otvet_ustsv(); }));
                    expect_ok(found == code ? kOk : kNoAnswer, "start-up probe");
                }
                r.ms[m] = median(t);
            }
            rows.push_back(r);
        }

        {
            Row r{c, speed, "scan 247 at one speed", 247};
            for (int n = 1; n <= 247; ++n) {
                r.budget[0] += line.normal_probe(n == 5);
                r.budget[1] += line.fast_probe(n == 5, link_.settings().fast_probe_wait);
            }
            for (int m = 0; m < 2; ++m) {
                open(code, m == 1);
                std::string found;
                r.ms[m] = timed([&] {
                    for (int n = 1; n <= 247; ++n) {
                        link_.set_sys_num(uint8_t(n));
                        if (dev_.otvet_ustsv() != 0)
                            found += std::to_string(n) + " ";
                    }
                });
                link_.set_sys_num(5);
                expect_ok(found == "5 " ? kOk : kNoAnswer, ("scan found " + found).c_str());
            }
            rows.push_back(r);
        }

        libmodbus_at(code, rows);
        for (const Row& r : rows)
            print_row(r);
    }

    // The same reads by a libmodbus master (default response time-out) on the same line.
    void libmodbus_at(uint8_t code, std::vector<Row>& rows)
    {
        link_.close_port();  // the port is ours exclusively while it is open
        modbus_t* m = modbus_new_rtu(sim_.path().c_str(), scor[code], 'N', 8, 1);
        if (!m || modbus_set_slave(m, 5) != 0 || modbus_connect(m) != 0) {
            std::fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
            if (m)
                modbus_free(m);
            return;
        }
        auto measure = [&](int reps, auto f) {
            std::vector<double> t;
            for (int i = 0; i < reps; ++i) {
                quiet();
                int rc = 0;
                t.push_back(timed([&] { rc = f(); }));
                if (rc < 0) {
                    ++failures_;
                    std::fprintf(stderr, "libmodbus at %d bit/s: %s\n", scor[code], modbus_strerror(errno));
                }
            }
            return median(t);
        };
        const auto ks = kinds();
        for (size_t i = 0; i < ks.size(); ++i)
            rows[i].libmodbus = measure(o_.reps, [&] { return ks[i].theirs(m); });
        const int reps = std::max(3, o_.reps / 2);
        rows[ks.size()].libmodbus = measure(reps, [&] { return poll_lm(m, true); });
        rows[ks.size() + 1].libmodbus = measure(reps, [&] {
            uint16_t r[1];
            const int rc = modbus_read_registers(m, kRegSysNum, 1, r);
            return rc < 0 ? rc : poll_lm(m, false);
        });
        rows[ks.size() + 2].libmodbus = measure(reps, [&] {
            uint16_t r[1];
            return modbus_read_registers(m, kRegSysNum, 1, r);
        });
        modbus_close(m);
        modbus_free(m);
    }

    // Every speed for each of a window of silent numbers, scaled to 247.
    void every_speed_scan()
    {
        const int first = 200, n = std::clamp(o_.window, 1, 47);
        Row r{"1-6", "all", "scan 247, every speed", 247 * 6};
        for (uint8_t k = 1; k <= 6; ++k) {
            const Line line{k, 10'000.0 / scor[k], double(o_.turnaround)};
            r.budget[0] += 247 * line.normal_probe(false);
            r.budget[1] += 247 * line.fast_probe(false, link_.settings().fast_probe_wait);
        }
        for (int m = 0; m < 2; ++m) {
            open(2, m == 1);
            std::string found;
            const double window = timed([&] {
                for (int number = first; number < first + n; ++number) {
                    link_.set_sys_num(uint8_t(number));
                    if (dev_.poisk_scor() != 0)
                        found += std::to_string(number) + " ";
                }
            });
            r.ms[m] = window * 247 / n;
            expect_ok(found.empty() ? kOk : kNoAnswer, ("every-speed scan found " + found).c_str());
        }
        std::printf("\n(the every-speed scan: %d silent numbers measured, scaled to 247)\n", n);
        print_row(r);
    }

    Options o_;
    test::SimProcess sim_;
    PortMap ports_;
    CountedNotices notices_;
    ThreadSleeper sleeper_;
    Link link_;
    Device dev_;
    int failures_ = 0;
};

std::vector<uint8_t> parse_codes(const char* text)
{
    std::vector<uint8_t> codes;
    for (const char* p = text; *p;) {
        const int c = std::atoi(p);
        if (c >= 1 && c <= 6)
            codes.push_back(uint8_t(c));
        p = std::strchr(p, ',');
        if (!p)
            break;
        ++p;
    }
    return codes;
}

}  // namespace
}  // namespace varnok::bench

int main(int argc, char** argv)
{
    varnok::bench::Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--codes")
            o.codes = varnok::bench::parse_codes(argv[i + 1]);
        else if (a == "--reps")
            o.reps = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--window")
            o.window = std::atoi(argv[i + 1]);
        else if (a == "--turnaround")
            o.turnaround = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: line_budget [--codes 1,2,...] [--reps N] [--window N] [--turnaround MS]\n");
            return 2;
        }
    }
    varnok::bench::Bench(o).run();
    return 0;
}
