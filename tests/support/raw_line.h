#pragma once
// The master's end of the line without any of our link's pauses and time-outs: a plain raw
// descriptor on a terminal, with the arrival time of every byte.

#include <chrono>
#include <string>
#include <termios.h>
#include <utility>
#include <vector>

#include "support/hex.h"

namespace varnok::test {

class RawLine {
public:
    using Clock = std::chrono::steady_clock;

    RawLine(const std::string& path, speed_t speed);
    ~RawLine();
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    // The moment just before the bytes went, so that no delay of ours makes an answer look early.
    Clock::time_point send(const Bytes& b);
    // Each byte with its arrival time, until `want` came or `limit` passed.
    std::vector<std::pair<uint8_t, Clock::time_point>> receive(
        size_t want, std::chrono::milliseconds limit = std::chrono::milliseconds(300));

private:
    int fd_ = -1;
};

}  // namespace varnok::test
