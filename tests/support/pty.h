#pragma once
// A pseudo-terminal whose far end a test drives: what the console sends is read there,
// answers are fed with chosen delays.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/hex.h"

namespace varnok::test {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slave_path() const { return slave_; }
    int master() const { return master_; }

    // Writes bytes to the console's side now, or after a delay on a background thread.
    void feed(const Bytes& bytes);
    void feed_after(std::chrono::milliseconds delay, Bytes bytes);
    // Plays a device: once `request_size` bytes came from the console (so after its purge of
    // stale input), feeds `answer`; what it heard is kept for heard(). Load cannot reorder it.
    void answer(size_t request_size, Bytes answer);
    // Waits for the feeds and answers scheduled so far.
    void join();
    // The requests the answers heard, in order, once joined.
    const Bytes& heard() const { return heard_; }
    // Closes the far end, as a pulled adapter hangs up the console's terminal.
    void hang_up();
    // Discards what was fed and the console has not read.
    void discard_input();
    // Bytes the console sent, gathered until `want` came or `timeout` passed.
    Bytes take(size_t want, std::chrono::milliseconds timeout = std::chrono::milliseconds(500));

private:
    int master_ = -1;
    int keeper_ = -1;  // keeps the terminal alive while the console closes and reopens it
    std::string slave_;
    std::vector<std::thread> feeders_;
    Bytes heard_;
};

}  // namespace varnok::test
