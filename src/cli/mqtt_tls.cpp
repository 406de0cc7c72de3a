// TLS on POSIX systems: libmosquitto's own set-up, with OpenSSL's default trust store (where
// SSL_CERT_FILE and SSL_CERT_DIR point, else the system's) or --cafile.
#include "cli/mqtt_tls.h"

#include <mosquitto.h>

#include <cstring>

namespace varnok::cli {

Tls::~Tls() = default;

int Tls::configure(mosquitto* mosq, const MqttTarget& t)
{
    return t.cafile.empty() ? mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                            : mosquitto_tls_set(mosq, t.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
}

std::string Tls::failure() { return ""; }

int failed_connect(int /*socket*/) { return 0; }

std::string socket_error_text(int err) { return std::strerror(err); }

}  // namespace varnok::cli
