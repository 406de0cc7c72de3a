#pragma once
// Test doubles for the link's platform interfaces and a pseudo-terminal whose far end a
// test drives: what the console sends is read there, answers are fed with chosen delays.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/platform.h"

namespace varnok::test {

using Bytes = std::vector<uint8_t>;

class RecordingNotices : public Notices {
public:
    struct Box {
        std::string text, informative;
    };
    void message_box(const std::string& text, const std::string& informative) override
    {
        boxes.push_back({text, informative});
    }
    std::vector<Box> boxes;
};

// Records every pause; sleeps for real only when asked to.
class RecordingSleeper : public Sleeper {
public:
    explicit RecordingSleeper(bool real = false) : real_(real) {}
    void sleep_ms(unsigned ms) override
    {
        pauses.push_back(ms);
        if (real_)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    void sleep_us(unsigned us) override
    {
        pauses_us.push_back(us);
        if (real_)
            std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
    std::vector<unsigned> pauses;
    std::vector<unsigned> pauses_us;  // the fast exchange's pauses

private:
    bool real_;
};

// Answers "pressed" for a key on the listed query numbers (counted per key from 1).
class ScriptedKeys : public KeyState {
public:
    bool pressed_since_last_query(int key) override
    {
        const int n = ++queries[key];
        return pressed_at.count({key, n}) != 0;
    }
    std::set<std::pair<int, int>> pressed_at;
    std::map<int, int> queries;
};

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

std::string hex(const Bytes& bytes);
Bytes unhex(const std::string& text);

}  // namespace varnok::test
