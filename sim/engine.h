#pragma once
// The slave side of the line: the terminal the simulator answers on, request framing,
// answers, injected faults, answer pacing and the frame log.

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "device.h"

namespace varnok::sim {

enum class FaultKind { Silence, Noise, BadCrc, WrongAddress, WrongFunction, Exception, Busy, Truncate, Slow };

struct FaultInfo {
    FaultKind kind;
    const char* name;
    const char* arg;  // name of its argument, nullptr when it takes none
    int default_arg, min_arg, max_arg;
    const char* what;
};
extern const std::array<FaultInfo, 9> kFaultKinds;
const FaultInfo* find_fault(const std::string& name);
const FaultInfo& fault_info(FaultKind kind);

struct Fault {
    FaultKind kind;
    int arg = 0;
    int remaining = 1;  // answers still to spoil; negative: until cleared
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
};

class Faults {
public:
    void add(const Fault& f);  // replaces an active fault of the same kind
    void clear() { list_.clear(); }
    bool clear(FaultKind kind);
    const std::vector<Fault>& active() const { return list_; }
    // The faults for the next answer; each active fault counts down by one.
    Mischief take();

private:
    std::vector<Fault> list_;
};

// The simulator's end of the line: the master side of a pseudo-terminal (the console opens
// the other side), or a serial device of its own.
class Terminal {
public:
    Terminal() = default;
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal();

    // Each returns an empty text on success, else the reason.
    std::string open_pty(const LineSettings& initial);
    std::string open_device(const std::string& path, const LineSettings& line);
    // Sets a serial device to the given line; a pseudo-terminal is left as the master set it.
    std::string configure(const LineSettings& line);

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool is_pty() const { return pty_; }

    // Speed and stop bits as the master set them on a pseudo-terminal (Linux reports the
    // far side's settings on the master descriptor). False when they cannot be read.
    bool master_line(uint32_t& baud, unsigned& stop_bits) const;

private:
    int fd_ = -1;
    int keeper_ = -1;  // our own descriptor on the far side: the master never sees it closed
    std::string path_;
    bool pty_ = true;
};

// Frames and notes with a wall-clock time stamp, one per line.
class FrameLog {
public:
    FrameLog() = default;
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;
    ~FrameLog();
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
std::vector<uint8_t> answer_pdu(Device& device, std::span<const uint8_t> pdu, Clock::time_point now);

// Address, PDU and CRC.
std::vector<uint8_t> rtu_frame(uint8_t address, std::span<const uint8_t> pdu);

class Engine {
public:
    Engine(Device& device, Terminal& terminal, FrameLog& log, uint32_t seed);

    const LineSettings& line() const { return line_; }
    // Puts a line in force at once and stores it in the device's registers.
    std::string set_line(const LineSettings& line);
    // Puts in force what the device's registers hold, when that differs.
    void adopt_stored_line();

    std::chrono::milliseconds turnaround{5};
    Faults faults;

    uint64_t answered() const { return answered_; }
    uint64_t ignored() const { return ignored_; }

    // Reads what the terminal has and answers every complete request.
    void on_readable(Clock::time_point now);
    // When a partial frame is pending: the moment its silence ends it.
    std::optional<Clock::time_point> deadline() const;
    void on_deadline(Clock::time_point now);

private:
    std::chrono::nanoseconds gap() const;
    void drop_stale(Clock::time_point now);
    void handle(const std::vector<uint8_t>& frame, Clock::time_point complete);
    bool line_matches(std::string& why) const;
    Clock::time_point send(std::vector<uint8_t> bytes, Clock::time_point start);

    Device& device_;
    Terminal& terminal_;
    FrameLog& log_;
    LineSettings line_;
    std::mt19937 rng_;
    std::vector<uint8_t> rx_;
    Clock::time_point last_rx_{};
    uint64_t answered_ = 0, ignored_ = 0;
};

}  // namespace varnok::sim
