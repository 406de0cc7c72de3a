#pragma once
// The TLS side of a broker connection: whom the broker's certificate must be signed by (the
// system's trust or --cafile) and the host name it must carry. mqtt_tls.cpp leaves it to
// libmosquitto and OpenSSL's defaults (POSIX); mqtt_tls_win32.cpp gives OpenSSL the Windows
// certificate store, which OpenSSL does not read by itself.

#include <atomic>
#include <string>

#include "cli/publisher.h"

struct mosquitto;

namespace varnok::cli {

class Tls {
public:
    Tls() = default;
    ~Tls();
    Tls(const Tls&) = delete;
    Tls& operator=(const Tls&) = delete;
    // Sets TLS up on `mosq` for `t` (t.tls); a MOSQ_ERR_* code.
    int configure(mosquitto* mosq, const MqttTarget& t);
    // Why the last handshake failed on the broker's certificate, in words, and forgets it; ""
    // when not known.
    std::string failure();

    // Set by the certificate check: the X509_V_ERR_* it failed with, 0 for none.
    std::atomic<int> verify_error{0};

private:
    void* ctx_ = nullptr;  // an SSL_CTX of ours, where there is one
    std::string host_;
};

// The error a connection still being made on `socket` failed with, 0 while it is not known to
// have failed. Windows tells a refused connection only to a select() on errors, which
// libmosquitto never makes; elsewhere libmosquitto sees it itself, and this is 0.
int failed_connect(int socket);

// Socket errors as libmosquitto reports them (errno; a Winsock code on Windows), in words.
std::string socket_error_text(int err);

}  // namespace varnok::cli
