// Builds without an MQTT client library (Windows): --mqtt is refused as a usage error.
#include "cli/options.h"
#include "cli/publisher.h"
#include "cli/session.h"

namespace varnok::cli {

std::string MqttTarget::where() const { return host + ":" + std::to_string(port); }

MqttTarget parse_mqtt_url(const std::string& /*url*/)
{
    throw UsageError("--mqtt: в этой сборке публикации в MQTT нет (её нет в сборке для Windows)");
}

MqttOut connect_mqtt(const MqttTarget&, uint64_t, const std::string&, const std::vector<uint8_t>&)
{
    return {{}, kExitUsage};
}

}  // namespace varnok::cli
