// read's readings to the broker: each device's to its own connection, its settings on .../info
// with each full poll.
#include "cli/info.h"
#include "cli/publisher.h"
#include "cli/readings.h"
#include "cli/session.h"

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
        }
        p.reading(payload(reading_message(r)));
    }
    // What the broker has not taken yet gets a few seconds, for all devices at once; the rest
    // stays in the spool and fails the run, as does a reading lost.
    int finish() override { return mqtt_.finish(std::chrono::seconds(5)) ? kExitOk : kExitDevice; }

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
