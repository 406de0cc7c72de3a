#pragma once
// The line: the devices on it, and the requests read from the terminal, each answered at
// the pace of the line with the faults of its device.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/frame_journal.h"
#include "sim/simulated_device.h"
#include "sim/line_end.h"

namespace varnok::sim {

// One device on the line: its registers, the line it listens and answers on (which may
// differ from what its registers hold), its faults and its answer delay.
struct Station {
    Station(uint32_t seed, const LineSettings& l) : device(seed), line(l) { device.store_line(l); }
    SimulatedDevice device;
    LineSettings line;
    Faults faults;
    std::chrono::milliseconds turnaround{5};
    uint64_t answered = 0;
};

// The line: one terminal with any number of devices on it (a multi-drop RS-485 line). A
// request goes to every device whose line matches the terminal's and whose address it names.
// On a serial device the terminal follows the first device's line.
class Engine {
public:
    Engine(Terminal& terminal, FrameJournal& journal, uint32_t seed);

    // A new device with its registers at their defaults and its line in force and stored.
    Station& add(const LineSettings& line);
    std::vector<std::unique_ptr<Station>>& stations() { return stations_; }
    const std::vector<std::unique_ptr<Station>>& stations() const { return stations_; }

    // Puts a line in force at once and stores it in the device's registers.
    std::string set_line(Station& s, const LineSettings& line);
    // Puts a line in force at once, leaving the registers alone.
    std::string put_in_force(Station& s, const LineSettings& line);
    // The line as the terminal shows it now.
    TerminalLine line_seen() const;

    uint64_t ignored() const { return ignored_; }

    // On a pseudo-terminal: each answer in one write at the time its last byte is due.
    bool whole_answers = false;

    // Reads what the terminal has and answers every complete request.
    void on_readable(Clock::time_point now);
    // When a partial frame is pending: the moment its silence ends it.
    std::optional<Clock::time_point> deadline() const;
    void on_deadline(Clock::time_point now);

private:
    // An answer about to go out.
    struct Plan {
        Station* station = nullptr;
        bool silent = false;
        bool acted = false;  // the device did what was asked (no exception)
        Clock::time_point start{};
        std::vector<uint8_t> busy{};  // an exception 5 sent first, busy_ms before the answer
        int busy_ms = 0;
        std::vector<uint8_t> answer{};
    };

    std::chrono::nanoseconds gap() const;
    void drop_stale(Clock::time_point now);
    void handle(const std::vector<uint8_t>& frame, Clock::time_point complete);
    Plan prepare(Station& s, const std::vector<uint8_t>& frame, Clock::time_point complete);
    void adopt_written_line(Station& s, const Request& r);
    Clock::time_point send(std::vector<uint8_t> bytes, Clock::time_point start, std::chrono::nanoseconds ct);

    Terminal& terminal_;
    FrameJournal& journal_;
    uint32_t seed_;
    std::vector<std::unique_ptr<Station>> stations_;
    std::mt19937 rng_;
    std::vector<uint8_t> rx_;
    Clock::time_point last_rx_{};
    uint64_t ignored_ = 0;
};

}  // namespace varnok::sim
