// Timing on the line, measured rather than asserted (the tests keep only bounds that load
// cannot break): the simulator's answer pacing, and what a silent line costs our receiver
// per speed code, each against the figure the line and the time-out rows allow.
#include <algorithm>
#include <cstdio>
#include <string>
#include <termios.h>
#include <vector>

#include "link/link.h"
#include "support/frames.h"
#include "support/pty.h"
#include "support/raw_line.h"
#include "support/sim_process.h"

namespace varnok::test {
namespace {

using Ms = std::chrono::duration<double, std::milli>;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// First byte and whole frame of an 11-byte answer, against turnaround plus character times.
void answer_pacing()
{
    struct Pace {
        uint32_t baud;
        speed_t code;
        int turnaround_ms;
    };
    const Pace paces[] = {{9600, B9600, 5}, {19200, B19200, 5}, {38400, B38400, 2}, {115200, B115200, 1}};
    const Bytes request = with_crc({5, 3, 0, 0x20, 0, 3});
    std::printf("simulator answer pacing (11-byte answer, median of 21)\n");
    std::printf("%8s %11s %11s %11s %11s %11s\n", "bit/s", "first ms", "ideal", "frame ms", "ideal", "worst off");
    for (const Pace& p : paces) {
        SimProcess sim({"--speed", std::to_string(p.baud), "--turnaround", std::to_string(p.turnaround_ms)});
        RawLine line(sim.path(), p.code);
        const double ct = 10'000.0 / p.baud;
        line.send(request);
        line.receive(11);
        std::vector<double> first, span, off;
        for (int n = 0; n < 21; ++n) {
            const auto sent = line.send(request);
            const auto got = line.receive(11);
            if (got.size() != 11)
                continue;
            first.push_back(Ms(got.front().second - sent).count());
            span.push_back(Ms(got.back().second - got.front().second).count());
            double w = 0;
            for (size_t i = 0; i < got.size(); ++i)
                w = std::max(w, std::abs(Ms(got[i].second - got.front().second).count() - double(i) * ct));
            off.push_back(w);
        }
        if (first.empty())
            continue;
        std::printf("%8u %11.3f %11.3f %11.3f %11.3f %11.3f\n", p.baud, median(first), p.turnaround_ms + ct,
                    median(span), 10 * ct, median(off));
    }
}

class Quiet : public Notices {
    void message_box(const std::string&, const std::string&) override {}
};

// A receive with nobody answering: six one-byte reads of the code's time-outs.
void silent_line()
{
    Pty pty;
    PortMap ports;
    ports.set(1, pty.slave_path());
    Quiet notices;
    ThreadSleeper sleeper;
    Link link(notices, sleeper, ports);
    std::printf("\nsilent line: one receive with no answer (median of 5)\n");
    std::printf("%5s %8s %11s %11s %9s\n", "code", "bit/s", "measured ms", "budget ms", "over ms");
    for (uint8_t code = 1; code <= 6; ++code) {
        link.set_speed_code(code);
        link.vich_timeout(code);
        std::vector<double> took;
        for (int n = 0; n < 5; ++n) {
            const auto start = RawLine::Clock::now();
            link.suda({link.settings().sys_num, 7});
            took.push_back(Ms(RawLine::Clock::now() - start).count());
        }
        const double budget =
            6.0 * (link.settings().timeouts.R_TotalTimeoutMultiplier + link.settings().timeouts.R_TotalTimeoutConstant);
        const double m = median(took);
        std::printf("%5d %8d %11.3f %11.3f %9.3f\n", code, scor[code], m, budget, m - budget);
    }
}

}  // namespace
}  // namespace varnok::test

int main()
{
    varnok::test::answer_pacing();
    varnok::test::silent_line();
    return 0;
}
