#pragma once
// A TCP connection to an Ethernet-to-RS-485 converter as the port's transport. The line's
// speed, parity and stop bits are the converter's own settings: they are kept here for the
// link's timing and shown back, and not sent anywhere.

#include "link/serial_port.h"
#include "link/transport.h"

namespace varnok {

// How long a connection may take to be made before the opening fails.
inline constexpr int kConnectMs = 3000;

class TcpTransport : public Transport {
public:
    int open(const std::string& where, int& fd) override;
    void close(int fd) override;
    int get_state(int fd, Dcb& dcb) const override;
    int set_state(int fd, const Dcb& dcb) override;
    int purge_input(int fd) override;
    ssize_t write_some(int fd, const uint8_t* data, size_t n) override;
    bool ends_broken() const override { return true; }

private:
    Dcb line_;
};

}  // namespace varnok
