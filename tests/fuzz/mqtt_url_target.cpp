// Arbitrary text as the broker address of `read --mqtt`, alone or around a known password.
// Properties: an address taken has a host, a port in range and a prefix the MQTT library takes
// in a topic; a password in the address is taken whole, and neither a message nor the host, the
// port or the prefix holds any of it.
#include <mosquitto.h>

#include <string>

#include "cli/options.h"
#include "cli/publisher.h"
#include "targets.h"

namespace varnok::fuzz {

namespace {

// No text the fuzzer writes around it holds a 'K'; every part of the password does.
const char* const kPassword = "aK/bK:cK@dK%eK";
const char* const kPasswordInUrl = "aK/bK:cK@dK%25eK";

std::string without(const std::string& s, const std::string& chars)
{
    std::string out;
    for (char c : s)
        if (chars.find(c) == std::string::npos)
            out += c;
    return out;
}

}  // namespace

int mqtt_url(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool around = data[0] & 1;
    std::string url = text;
    if (around) {
        // USER before the password, HOST[:PORT]/PREFIX (and perhaps more '@') after it.
        const size_t cut = text.find('\n');
        const std::string user = without(text.substr(0, cut), "K");
        const std::string rest = cut == std::string::npos ? "" : without(text.substr(cut + 1), "K%");
        url = std::string(data[0] & 2 ? "mqtts://" : "mqtt://") + user + ":" + kPasswordInUrl + "@" + rest;
    }
    try {
        const cli::MqttTarget t = cli::parse_mqtt_url(url);
        expect(!t.host.empty() && t.port >= 1 && t.port <= 65535, "an address taken without a host or a port");
        const std::string topic = t.prefix + "/COM1/5/readings";
        expect(mosquitto_pub_topic_check2(topic.c_str(), topic.size()) == MOSQ_ERR_SUCCESS,
               "a prefix taken that the MQTT library refuses");
        if (around) {
            expect(t.password && t.password->find(kPassword) != std::string::npos, "the password not taken whole");
            expect((t.host + t.prefix + t.where()).find('K') == std::string::npos,
                   "the password is in the host, the port or the prefix");
        }
    } catch (const cli::UsageError& e) {
        if (around)
            expect(std::string(e.what()).find('K') == std::string::npos, "a message shows the password");
    }
    return 0;
}

}  // namespace varnok::fuzz
