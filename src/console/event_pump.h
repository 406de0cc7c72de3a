#pragma once
// Keeps the window drawn while an exchange or a long loop holds the user-interface thread:
// events are pumped, but user input is swallowed, except the keys that interrupt a search,
// which are noted for the key-state queries.

#include <QObject>
#include <QSet>

#include "link/platform.h"
#include "ops/search_keys.h"

namespace varnok {

class EventPump : public QObject, public KeyState, public WaitPump {
public:
    // Draws pending paints and notes interrupt keys without running any input handler.
    void pump() override;

    // Pumps, then tells whether the key (a virtual-key code: 0x51 Q, 0x58 X) was pressed since the last query.
    bool pressed_since_last_query(int virtual_key) override;

    // Timers whose ticks are held back while pumping, so that their handlers never run
    // inside another handler.
    void hold_back(QObject* timer) { held_.insert(timer); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSet<int> pressed_;
    QSet<QObject*> held_;
};

// A pause during which the window stays drawn: events are pumped (input swallowed) until
// the time is up.
class PumpedSleeper : public Sleeper {
public:
    explicit PumpedSleeper(EventPump& pump) : pump_(pump) {}
    void sleep_ms(unsigned ms) override;

private:
    EventPump& pump_;
};

}  // namespace varnok
