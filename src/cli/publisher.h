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
    std::string cafile;
    // "HOST:PORT" for messages: never the user or the password.
    std::string where() const;
};

// Whether this build publishes to MQTT; read's --help on it (or that this build has none).
extern const bool kMqttBuilt;
extern const char* const kMqttHelp;

// mqtt://[USER[:PASSWORD]@]HOST[:PORT]/PREFIX or mqtts://...; throws UsageError (also where
// this build has no MQTT).
MqttTarget parse_mqtt_url(const std::string& url);

// One device's readings on their way to the broker.
class Publisher {
public:
    virtual ~Publisher() = default;
    // Retained on .../info, sent again on each new connection.
    virtual void info(const std::string& json) = 0;
    // Into the spool; it goes out when the broker takes it.
    virtual void reading(const std::string& json) = 0;
    // Waits up to `wait` for the spool to empty, says "offline" and disconnects.
    virtual void finish(std::chrono::milliseconds wait) = 0;
};

// A connection per device, each with its spool; connected before the line is polled.
struct MqttOut {
    std::vector<std::unique_ptr<Publisher>> devices;
    int exit = 0;
};

MqttOut connect_mqtt(const MqttTarget& t, uint64_t spool_size, const std::string& port,
                     const std::vector<uint8_t>& addresses);

}  // namespace varnok::cli
