// read's readings to the broker: each device's to its own connection, its settings on .../info
// with each full poll.
#include <cstdio>

#include "cli/info.h"
#include "cli/publisher.h"
#include "cli/readings.h"
#include "cli/session.h"
#include "ops/entry.h"

namespace varnok::cli {

namespace {

// The JSON of a message, without the line end to_json gives a document.
std::string payload(const Value& v)
{
    std::string s = to_json(v);
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

Value maybe_string(const std::optional<std::string>& s) { return s ? Value::device_text(*s) : Value(); }

// A topic as Home Assistant's ids take it (letters, digits, '-'): every other byte as _XX, so
// that two topics never share an id.
std::string discovery_id(const std::string& topic)
{
    std::string id;
    for (const char c : topic) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
            id += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02X", unsigned(uint8_t(c)));
            id += hex;
        }
    }
    return id;
}

// Home Assistant's class of a sensor in this unit, where it has one that takes the unit.
const char* device_class(const std::string& si)
{
    if (si == "V" || si == "kV")
        return "voltage";
    if (si == "mA" || si == "A")
        return "current";
    if (si == "Hz")
        return "frequency";
    return nullptr;
}

// Each channel's value and the frequency as Home Assistant sensors of one device, retained
// under homeassistant/sensor/: the readings' topic and field, the unit, the status as its
// availability, the device's name and version.
void announce_sensors(Publisher& p, const Reading& r)
{
    const std::string node = "varnok_" + discovery_id(p.topic());
    const std::string name = r.device.name ? Value::device_text(*r.device.name).text() : "Варнок";
    Value device = Value::object();
    device.set("identifiers", Value::array()).push(Value::string(node));
    device.set("name", Value::string(name + " " + std::to_string(r.device.address)));
    device.set("model", Value::string(name));
    if (r.device.version)
        device.set("sw_version", Value::device_text(*r.device.version));
    for (int k = 1; k <= kChannels + 1; ++k) {
        const bool frequency = k > kChannels;
        const std::string field = frequency ? "frequency" : "value" + std::to_string(k);
        const std::string si = frequency ? "Hz" : unit_symbol(r.device.dev.parScl(size_t(k)).Measure);
        Value config = Value::object();
        config.set("name", Value::string(frequency ? "Частота" : "Канал " + std::to_string(k)));
        config.set("unique_id", Value::string(node + "_" + field));
        config.set("state_topic", Value::string(p.topic() + "/readings"));
        config.set("value_template", Value::string("{{ value_json." + field + " }}"));
        if (!si.empty())
            config.set("unit_of_measurement", Value::string(si));
        if (const char* c = device_class(si))
            config.set("device_class", Value::string(c));
        config.set("state_class", Value::string("measurement"));
        config.set("availability_topic", Value::string(p.topic() + "/status"));
        config.set("device", device);
        p.announce("homeassistant/sensor/" + node + "/" + field + "/config", payload(config));
    }
}

// A device that does not answer this many polls in a row is offline: one lost poll on a noisy
// line is not worth an alarm.
constexpr long kSilentPolls = 3;

class MqttOutput : public ReadingsOutput {
public:
    explicit MqttOutput(MqttOut& mqtt) : mqtt_(mqtt), devices_(mqtt.devices.size()) {}
    bool wants_names() const override { return true; }
    void reading(const Reading& r) override
    {
        Publisher& p = *mqtt_.devices[r.index];
        const Device& dev = r.device.dev;
        // The retained info only from a poll that read the scales and setpoints: a failed one
        // would overwrite the good one with nulls. A name or version read later is news too.
        State& d = devices_[r.index];
        std::optional<Value>& settings = d.settings;
        // The status tells the device: online from its first answer, offline once it has
        // been silent for kSilentPolls polls in a row, with the reason in info.
        if (r.answered) {
            d.silent = 0;
            d.offline_reason.clear();
            p.answering(true);
        } else if (++d.silent >= kSilentPolls) {
            d.offline_reason = "нет ответа " + std::to_string(kSilentPolls) + " опроса подряд";
            p.answering(false);
        }
        if (r.full && r.device.settled)
            settings = channel_settings(dev, r.result);
        if (settings) {
            Value info = Value::object();
            info.set("address", Value::number(r.device.address));
            info.set("name", maybe_string(r.device.name));
            info.set("version", maybe_string(r.device.version));
            info.set("channels", *settings);
            info.set("offline_reason", d.offline_reason.empty() ? Value() : Value::string(d.offline_reason));
            p.info(payload(info));
            if (mqtt_.ha_discovery)
                announce_sensors(p, r);
        }
        p.reading(payload(reading_message(r)));
    }
    // What the broker has not taken yet gets a few seconds, for all devices at once; the rest
    // stays in the spool and fails the run, as does a reading lost.
    // After Ctrl-C half a second: the run is to end now, and the spool keeps what is left.
    int finish() override
    {
        const auto wait = interrupted() ? std::chrono::milliseconds(500) : std::chrono::milliseconds(5000);
        return mqtt_.finish(wait) ? kExitOk : kExitDevice;
    }

private:
    MqttOut& mqtt_;
    struct State {
        std::optional<Value> settings;  // its channel settings, once read
        long silent = 0;                // polls in a row it did not answer
        std::string offline_reason;
    };
    std::vector<State> devices_;
};

}  // namespace

std::unique_ptr<ReadingsOutput> mqtt_output(MqttOut& mqtt) { return std::make_unique<MqttOutput>(mqtt); }

}  // namespace varnok::cli
