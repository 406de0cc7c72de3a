#pragma once
// The slave side of the line: the terminal the simulator answers on, request framing,
// answers, injected faults, answer pacing and the frame log.

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "sim/simulated_device.h"

namespace varnok::sim {

enum class FaultKind { Silence, Noise, BadCrc, WrongAddress, WrongFunction, Exception, Busy, Truncate, Slow, Long, Count };

struct FaultInfo {
    FaultKind kind;
    const char* name;
    const char* arg;  // name of its argument, nullptr when it takes none
    int default_arg, min_arg, max_arg;
    const char* what;
};
extern const std::array<FaultInfo, 11> kFaultKinds;
const FaultInfo* find_fault(const std::string& name);
const FaultInfo& fault_info(FaultKind kind);

// What a request asks for, as far as a fault's aim needs it.
struct Request {
    uint8_t function = 0;
    bool has_range = false;  // functions 1, 2, 3, 4 and 16 name registers or bits
    uint16_t start = 0, count = 0;
};
Request request_of(std::span<const uint8_t> pdu);

struct Fault {
    FaultKind kind;
    int arg = 0;
    int remaining = 1;  // answers still to spoil; negative: until cleared
    // Its aim: only requests that touch `address` (-1: any) with `function` (0: any), and
    // only after `skip` of them have passed untouched.
    int address = -1;
    int function = 0;
    int skip = 0;

    bool aims_at(const Request& r) const;
    bool same_aim(const Fault& o) const { return kind == o.kind && address == o.address && function == o.function; }
};

// What the active faults do to one answer.
struct Mischief {
    bool silence = false;
    int noise = 0;
    bool bad_crc = false;
    bool wrong_address = false;
    bool wrong_function = false;
    int exception = 0;
    int busy_ms = -1;
    int truncate = -1;
    int slow_ms = 0;
    int extra = 0;        // bytes after the answer
    int count_delta = 0;  // added to a read answer's byte count or a write answer's echoed count
};

class Faults {
public:
    void add(const Fault& f);  // replaces an active fault of the same kind and aim
    void clear() { list_.clear(); }
    bool clear(FaultKind kind);
    const std::vector<Fault>& active() const { return list_; }
    // The faults for the answer to this request; each fault aimed at it counts down by one.
    Mischief take(const Request& r);

    // Random faults: each answer, with this chance in percent, gets one fault of a kind drawn
    // at random (at its default argument; an exception code 1..4). 0 turns them off.
    void set_random(double percent, uint32_t seed);
    double random_percent() const { return random_percent_; }
    // Answers spoilt so far, by kind; a random fault counts as its kind.
    const std::array<uint64_t, 11>& injected() const { return injected_; }

private:
    static void apply(Mischief& m, FaultKind kind, int arg);
    void count(const Mischief& m);
    std::vector<Fault> list_;
    double random_percent_ = 0;
    std::mt19937 random_rng_;
    std::array<uint64_t, 11> injected_{};
};

// A line as a terminal shows it; parity 0..2 as the device codes it, or mark or space.
struct TerminalLine {
    static constexpr uint8_t kMark = 3, kSpace = 4;
    uint32_t baud = 0;
    uint8_t parity = 0;
    uint8_t stop_bits = 1;

    bool carries(const LineSettings& l) const
    {
        return baud == l.baud() && parity == l.parity && stop_bits == l.stop_bits;
    }
    std::string text() const;  // "9600 bit/s 8N1"
};

// The simulator's end of the line: the master side of a pseudo-terminal (the console opens
// the other side), a serial device of its own, or a TCP port on loopback where it plays an
// Ethernet-to-RS-485 converter with the devices behind it (one master connection at a time).
class Terminal {
public:
    Terminal() = default;
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal();

    // Each returns an empty text on success, else the reason.
    std::string open_pty(const LineSettings& initial);
    std::string open_device(const std::string& path, const LineSettings& line);
    // Listens on 127.0.0.1:port (0: a free port); path() is then "tcp://127.0.0.1:PORT".
    std::string open_tcp(uint16_t port, const LineSettings& line);
    // Closes the terminal as a pulled adapter would: the far side of a pseudo-terminal is
    // hung up and its path goes away (on TCP: the connection and the listener close).
    void close();
    bool is_open() const { return fd_ >= 0 || listener_ >= 0; }
    // Sets a serial device to the given line; a pseudo-terminal is left as the master set it.
    std::string configure(const LineSettings& line);

    // The descriptor the requests come in on; on TCP the master's connection, -1 while none.
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool is_pty() const { return kind_ == Kind::pty; }
    bool is_tcp() const { return kind_ == Kind::tcp; }
    // A serial device sends at the pace of its line by itself; elsewhere the bytes are paced.
    bool paces_itself() const { return kind_ == Kind::device; }

    // TCP: the listening socket; taking a new master's connection (it replaces the one
    // before, as a converter serving one master does), returning how many came; closing the
    // connection.
    int listener() const { return listener_; }
    int accept_master();
    void drop_master();

    // The line as the far side sees it: on a pseudo-terminal what the master set, as far as
    // the kernel keeps it; on a serial device what it was configured to. False when unknown.
    bool line_seen(TerminalLine& line) const;

private:
    enum class Kind { pty, device, tcp };
    int fd_ = -1;
    int keeper_ = -1;  // our own descriptor on the far side: the master never sees it closed
    int listener_ = -1;
    std::string path_;
    Kind kind_ = Kind::pty;
    LineSettings configured_;  // of a serial device, or of the converter
};

// Frames and notes with a wall-clock time stamp, one per line.
class FrameJournal {
public:
    FrameJournal() = default;
    FrameJournal(const FrameJournal&) = delete;
    FrameJournal& operator=(const FrameJournal&) = delete;
    ~FrameJournal();
    std::string open(const std::string& where);  // "-" is standard error
    void frame(const char* direction, std::span<const uint8_t> bytes);
    void note(const std::string& text);

private:
    void stamp();
    FILE* f_ = nullptr;
    bool own_ = false;
};

// Length of a request frame known from its first bytes: 0 while more bytes are needed to
// tell, kEndsAtSilence for a function whose length the device does not know.
inline constexpr size_t kEndsAtSilence = SIZE_MAX;
size_t request_length(std::span<const uint8_t> head);

// The answer PDU (function code and data, or an exception) to a request PDU.
std::vector<uint8_t> answer_pdu(SimulatedDevice& device, std::span<const uint8_t> pdu, Clock::time_point now);

// Address, PDU and CRC.
std::vector<uint8_t> rtu_frame(uint8_t address, std::span<const uint8_t> pdu);

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
