#pragma once
// Test doubles for the platform interfaces: message boxes recorded, pauses recorded
// (and slept only when asked), keys pressed on chosen queries.

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/notices.h"
#include "link/platform.h"
#include "ops/report.h"
#include "ops/search_keys.h"

namespace varnok::test {

// The message boxes of the link, the device and the operations alike.
class RecordingNotices : public Notices, public DeviceNotices, public OperationNotices {
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

}  // namespace varnok::test
