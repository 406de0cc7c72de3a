#pragma once
// What the link needs from the layers above and from the platform: message boxes, pauses
// and a caller's word to end a receive early. Tests substitute recording or instant versions.

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnok {

// Modal message boxes. `text` is the system's fixed wording; `informative` carries the
// details (the operating system's reason, the device path) shown beneath it.
class Notices {
public:
    virtual ~Notices() = default;
    virtual void message_box(const std::string& text, const std::string& informative = {}) = 0;
};

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleep_ms(unsigned ms) = 0;
    // The fast exchange's pauses are fractions of a millisecond; by default they round up.
    virtual void sleep_us(unsigned us) { sleep_ms((us + 999) / 1000); }
};

// Ends a receive that waits for an answer which may never come, at its caller's word: told
// as the receive begins, so that only what follows counts; asked after each read of the
// receive's second pass, where true ends it at once with nothing received.
class ReceiveStop {
public:
    virtual ~ReceiveStop() = default;
    virtual void receive_begins() {}
    virtual bool stop_now() = 0;
};

// Keeps the window drawn while the link waits for something other than the line (a
// connection being made): called every few milliseconds of such a wait.
class WaitPump {
public:
    virtual ~WaitPump() = default;
    virtual void pump() {}
};

// Whether the run is to end (Ctrl-C, a request to terminate): the port's reads, the discarding
// of pending input and a connection being made then end at once, as if their time had run out,
// so that a run ends within a fraction of a second whatever the line does.
class StopRequest {
public:
    virtual ~StopRequest() = default;
    virtual bool requested() const = 0;
};

// Sees every frame the link puts on the line and every answer it takes from it, as they go.
class FrameTap {
public:
    virtual ~FrameTap() = default;
    virtual void sent(const uint8_t* bytes, size_t n) = 0;
    virtual void received(const uint8_t* bytes, size_t n) = 0;
};

class ThreadSleeper : public Sleeper {
public:
    void sleep_ms(unsigned ms) override;
    void sleep_us(unsigned us) override;
};

}  // namespace varnok
