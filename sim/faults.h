#pragma once
// Injected faults: their kinds, their aim at requests, and what the active ones do to an
// answer, counted down per request and drawn at random if asked.

#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace varnok::sim {

enum class FaultKind {
    Silence,
    Noise,
    BadCrc,
    WrongAddress,
    WrongFunction,
    Exception,
    Busy,
    Truncate,
    Slow,
    Long,
    Count
};

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

}  // namespace varnok::sim
