#pragma once
// Every write the window makes to a unit, kept in the unit's history: the value the window knew
// the device held before it (from the reads it made of that unit since it is addressed), the new
// one, and whether the device took it. Steps of an up-down control that write at once are kept
// as one record: the value before the first step and the one the engineer left.

#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "ops/configuration.h"
#include "ops/profile.h"
#include "record/history.h"

namespace varnok {

struct ConsoleContext;
struct Exchange;

class WindowHistory {
public:
    explicit WindowHistory(ConsoleContext& ctx);
    ~WindowHistory();
    WindowHistory(const WindowHistory&) = delete;
    WindowHistory& operator=(const WindowHistory&) = delete;

    // Every exchange of the window: a good read tells the values the window now knows, a read
    // of the name or version the unit's texts.
    void seen(const Exchange& x);

    // The unit as it is addressed now, with the name and version read from it and the factory
    // number the engineer gave it.
    record::Unit unit() const;
    // The factory number of the unit addressed now, as the engineer typed it for a check; the
    // records name it until another unit is addressed.
    void name_unit(const std::string& factory_number);

    // A write about to be made: the setting, the value the window knows it had ("" when none)
    // and the unit as it is addressed before the write.
    struct Change {
        Setting setting;
        std::string old;
        record::Unit unit;
    };
    // For writes whose parts the device takes apart (a scale and its unit): each part's change
    // before the write, then each recorded after it with whether it was taken.
    Change before(const Setting& s);
    void after(const Change& c, bool taken);

    // One write of `s`: `write` sends it and tells whether the device took it; recorded with
    // the value the window knew before it. What `write` told.
    bool write(const Setting& s, const std::function<bool()>& write);
    // A write of `s` made by a step of an up-down control: one record for a run of steps of the
    // same value, written when another write comes, after a few quiet seconds, or at the end.
    bool step(const Setting& s, const std::function<bool()>& write);
    // A profile load from `path` made to `unit` (taken before the writes).
    void loaded(const record::Unit& unit, const std::string& path, const Changes& written,
                const Configuration::Applied& done);
    // Records the run of steps still open, if any.
    void close_steps();

    // The settings of the window's writes.
    static Setting number_setting(Setting::Name name, int k, long number);
    static Setting entry_setting(Setting::Name name, int k, uint16_t number, uint8_t decpos);
    static Setting real_setting(Setting::Name name, int k, float value);

    // How long steps rest before their run is recorded.
    static constexpr int kStepsQuietMs = 5000;

private:
    Change capture(const Setting& s) const;
    // The window's knowledge after a write: the new value when taken, else nothing.
    void learn(const Change& c, bool taken);
    void append(record::HistoryRecord r);
    // The value of `s`'s key the window knows ("" when none).
    std::string known(const Setting& s) const;
    // Forgets what was known when `number` on the line in use is not the unit known.
    void follow(int number);

    ConsoleContext& ctx_;
    std::string port_;
    int number_ = -1;
    std::string name_, version_, factory_;
    std::set<uint16_t> read_;                     // holding registers read from the unit
    std::map<std::string, std::string> written_;  // values it took since, by key
    struct Steps {
        Change first;
        Setting last;
    };
    std::optional<Steps> steps_;
    QTimer quiet_;
};

}  // namespace varnok
