// Arbitrary text on the simulator's control channel, one command per line. Properties:
// every command gets one reply line that starts with "ok" or "error: ", and the state it
// leaves can still be dumped.
#include <string>

#include "sim/control.h"
#include "targets.h"

namespace varnok::fuzz {

int sim_control(const uint8_t* data, size_t size)
{
    sim::Terminal terminal;  // never opened: the line commands change no terminal
    sim::FrameJournal journal;
    sim::Engine engine(terminal, journal, 1);
    engine.add(sim::LineSettings{});
    sim::Control control(engine, terminal);
    const auto now = sim::Clock::time_point(std::chrono::hours(1));

    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    int dumps = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        // A dump walks the whole address space; a few per input are enough.
        if (line.find("dump") != std::string::npos && ++dumps > 2)
            continue;
        const sim::Reply r = control.run(line, now);
        expect(r.line == "ok" || r.line.rfind("ok ", 0) == 0 || r.line.rfind("error: ", 0) == 0,
               "a reply that is neither ok nor an error");
        expect(r.line.find('\n') == std::string::npos, "a reply of more than one line");
        if (r.quit)
            break;
    }
    return 0;
}

}  // namespace varnok::fuzz
