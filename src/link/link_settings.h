#pragma once
// Line settings of the one serial link and the fixed tables that go with them.

#include <array>
#include <cstdint>
#include <string>

namespace varnok {

inline constexpr int kPortCount = 16;

// Port names offered to the user; index = port number - 1.
inline constexpr std::array<const char*, kPortCount> txt_name_comport = {
    "COM1", "COM2",  "COM3",  "COM4",  "COM5",  "COM6",  "COM7",  "COM8",
    "COM9", "COM10", "COM11", "COM12", "COM13", "COM14", "COM15", "COM16"};

// Display texts of the parity codes 0 none, 1 odd, 2 even.
inline constexpr std::array<const char*, 3> txt_parity = {"нет ", "нечёт", "чёт"};

// Speeds by speed code; code 0 stands for a speed outside the six.
inline constexpr std::array<int32_t, 7> scor = {0, 4800, 9600, 19200, 38400, 57600, 115200};

// Per speed code, in ms: receive allowance per expected byte, pause after a
// transmission, pause before it. Code 0 (a speed none of the rows fits) takes the
// row of the slowest speed: its time-outs are the longest, so they hold for any
// speed the port accepts, only at some cost in waiting.
inline constexpr std::array<uint8_t, 7> t_allow = {5, 5, 3, 3, 2, 2, 2};
inline constexpr std::array<uint8_t, 7> t_after_response = {10, 10, 10, 10, 10, 1, 1};
inline constexpr std::array<uint8_t, 7> t_end_packet = {8, 8, 8, 8, 8, 1, 1};

// Speed code of a speed in bit/s: 4800 -> 1 ... 115200 -> 6, anything else -> 0.
uint8_t number_scor(int32_t V);

// Text of a parity code for the status bar; a code without a table entry shows as its number.
std::string parity_text(uint8_t parity);

// The five read and write time-outs in ms, in the order of the port's time-out record:
// read interval, read per byte, read per call, write per byte, write per call.
struct Timeouts {
    uint16_t R_IntervalTimeout = 30;
    uint16_t R_TotalTimeoutMultiplier = 5;
    uint16_t R_TotalTimeoutConstant = 225;
    uint16_t W_TotalTimeoutMultiplier = 0;
    uint16_t W_TotalTimeoutConstant = 0;

    bool operator==(const Timeouts&) const = default;
};

// The fields of Timeouts in their order, for whoever goes through them one by one.
inline constexpr std::array<uint16_t Timeouts::*, 5> kTimeoutFields = {
    &Timeouts::R_IntervalTimeout, &Timeouts::R_TotalTimeoutMultiplier, &Timeouts::R_TotalTimeoutConstant,
    &Timeouts::W_TotalTimeoutMultiplier, &Timeouts::W_TotalTimeoutConstant};

// The line settings: a value the link owns and hands out read-only (Link::settings()); it
// changes only through the link's operations. The initial values are the defaults of the
// console's first start, and this is the one place that holds them (kDefaultLinkSettings).
struct LinkSettings {
    std::string name_comport = "COM1";
    uint8_t num_name_comport = 1;
    int32_t scor_obmena = 9600;
    uint8_t num_scor = 2;
    uint8_t parity = 0;
    uint8_t stopbit = 1;
    uint8_t bytesize = 8;
    uint8_t sys_num = 5;  // network number of the device every request addresses

    Timeouts timeouts;    // in force
    Timeouts n_timeouts;  // the stored copy, as the settings file keeps it

    uint16_t time_pause_before = 10;
    uint16_t time_pause_after = 10;

    // Opt-in fast exchange; off, the time-outs and pauses above rule. On, a receive ends as
    // soon as the answer is complete by its length, the pauses around a request are the
    // line's 3.5 character times, and a probe waits `fast_probe_wait` ms beyond the line
    // time of its answer.
    bool fast_exchange = false;
    uint16_t fast_probe_wait = 20;
};

// The line as the console first starts with it; the settings file falls back to these values
// for a key it lacks (the network number aside, see settings_file.h). Not constexpr: clang with
// GCC's library (the fuzz build) makes no std::string in a constant expression.
inline const LinkSettings kDefaultLinkSettings{};

// The speed and frame of a line: "9600 8N1".
std::string line_text(const LinkSettings& line);
// A line as the unit's records and protocols name it: the port and its settings
// ("COM1 9600 8N1"), or the port and the converter's address for one reached over TCP
// ("COM1 tcp://10.0.0.7:502", or the address alone when it is the port's name; `path` is where
// the port was opened).
std::string unit_line(const LinkSettings& line, const std::string& path);

}  // namespace varnok
