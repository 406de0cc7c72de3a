#pragma once
// Where `read --mqtt` sends each device's readings: a broker connection per device. The read
// command sees only this; the MQTT client behind it is built where its library is.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnok::cli {

struct MqttTarget {
    bool tls = false;
    std::string user;
    std::optional<std::string> password;
    std::string host;
    int port = 1883;
    std::string prefix;
    // --cafile as hold_cafile() keeps it: a name on POSIX systems, the certificates themselves
    // on Windows.
    std::string cafile;
    // "HOST:PORT" for messages: never the user or the password.
    std::string where() const;
};

// Whether this build publishes to MQTT; read's --help on it (or that this build has none).
extern const bool kMqttBuilt;
extern const char* const kMqttHelp;

// mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX or mqtts://...: the user and the password run to
// the last '@', %XX stands for a byte there and in the prefix; the prefix is UTF-8 without
// control characters, '+' or '#'. Throws UsageError, whose text holds no part of the user or the
// password (also where this build has no MQTT).
MqttTarget parse_mqtt_url(const std::string& url);

// The first line of --password-file: a regular file, a pipe or a FIFO. Throws UsageError.
std::string read_password_file(const std::string& path);

// --cafile read whole (a regular file, or a pipe as <(...) gives, within 10 s: a FIFO no one
// writes to is not waited on for ever), and the name of a copy that stays open for the run, for
// the TLS library; on Windows a file on a disk, and its text. Throws UsageError.
std::string hold_cafile(const std::string& path);

// --line: the name of the line in the topics, one topic level of UTF-8 without '/', '+', '#'
// or control characters, up to 64 bytes. Throws UsageError.
void check_line_name(const std::string& name);

// One device's readings on their way to the broker.
class Publisher {
public:
    virtual ~Publisher() = default;
    // Retained on .../info, sent again on each new connection.
    virtual void info(const std::string& json) = 0;
    // Retained on `topic`, a whole topic outside the device's own (Home Assistant's discovery of
    // its sensors), sent again on each new connection; the same text again is no news.
    virtual void announce(const std::string& topic, const std::string& json) = 0;
    // PREFIX/LINE/NUMBER, under which the device's own messages go.
    virtual const std::string& topic() const = 0;
    // The device answers (online) or has stopped answering (offline): retained on .../status,
    // sent again on each new connection. Nothing is said of a device not heard of yet.
    virtual void answering(bool yes) = 0;
    // Into the spool; it goes out when the broker takes it.
    virtual void reading(const std::string& json) = 0;
    // Asks for the spool to empty by `deadline`, then "offline" and the end; returns at once.
    virtual void stop(std::chrono::steady_clock::time_point deadline) = 0;
    // Waits for that end and tells what did not reach the broker: false when a reading was
    // dropped, not spooled, set aside or is left in the spool.
    virtual bool finish() = 0;
};

// A connection per device, each with its spool; connected before the line is polled.
struct MqttOut {
    std::vector<std::unique_ptr<Publisher>> devices;
    int exit = 0;
    bool ha_discovery = false;  // each channel announced to Home Assistant as a sensor
    // All devices' connections end together, by one deadline `wait` from now; false when any
    // of them did not deliver everything.
    bool finish(std::chrono::milliseconds wait)
    {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (auto& d : devices)
            d->stop(deadline);
        bool all = true;
        for (auto& d : devices)
            all = d->finish() && all;
        return all;
    }
};

// The topics are PREFIX/LINE/NUMBER, `line` checked by check_line_name().
MqttOut connect_mqtt(const MqttTarget& t, uint64_t spool_size, const std::string& line,
                     const std::vector<uint8_t>& addresses);

}  // namespace varnok::cli
