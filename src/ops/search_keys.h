#pragma once
// The operator's keys that end a device search: Q between numbers, X while a silent number's
// answer is awaited. The console takes them from its window, the tool from Ctrl-C.

#include "link/platform.h"

namespace varnok {

inline constexpr int kKeyX = 0x58;  // ends the wait for a probe's answer
inline constexpr int kKeyQ = 0x51;  // ends a scan between numbers

// Whether a key was pressed since the previous query of the same key.
class KeyState {
public:
    virtual ~KeyState() = default;
    virtual bool pressed_since_last_query(int virtual_key) = 0;
};

// A key as the stop of a probe's receive: a press before the receive does not count, one
// while its second pass runs ends it. Whether it did stays told until the next receive.
class KeyStop : public ReceiveStop {
public:
    KeyStop(KeyState& keys, int key) : keys_(keys), key_(key) {}
    void receive_begins() override
    {
        pressed_ = false;
        keys_.pressed_since_last_query(key_);
    }
    bool stop_now() override { return pressed_ = keys_.pressed_since_last_query(key_); }
    bool pressed() const { return pressed_; }

private:
    KeyState& keys_;
    int key_;
    bool pressed_ = false;
};

}  // namespace varnok
