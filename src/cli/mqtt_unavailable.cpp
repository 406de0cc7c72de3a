// Builds without an MQTT client library (Windows): --mqtt is refused as a usage error.
#include "cli/options.h"
#include "cli/publisher.h"
#include "cli/session.h"

namespace varnok::cli {

const bool kMqttBuilt = false;

std::string MqttTarget::where() const { return host + ":" + std::to_string(port); }

MqttTarget parse_mqtt_url(const std::string& /*url*/)
{
    throw UsageError("--mqtt: публикации в MQTT в сборке для Windows нет");
}

std::string read_password_file(const std::string& /*path*/)
{
    throw UsageError("--mqtt: публикации в MQTT в сборке для Windows нет");
}

std::string hold_cafile(const std::string& /*path*/)
{
    throw UsageError("--mqtt: публикации в MQTT в сборке для Windows нет");
}

void check_line_name(const std::string& /*name*/)
{
    throw UsageError("--line: публикации в MQTT в сборке для Windows нет");
}

MqttOut connect_mqtt(const MqttTarget&, uint64_t, const std::string&, const std::vector<uint8_t>&)
{
    return {{}, kExitUsage};
}

}  // namespace varnok::cli
