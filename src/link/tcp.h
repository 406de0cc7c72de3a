#pragma once
// A TCP connection to an Ethernet-to-RS-485 converter as the port's transport. The line's
// speed, parity and stop bits are the converter's own settings: they are kept here for the
// link's timing and shown back, and not sent anywhere.

#include <functional>
#include <string>
#include "link/sockets.h"
#include <vector>

#include "link/serial_port.h"
#include "link/transport.h"

namespace varnok {

// How long an opening may take, the name's lookup and every connection attempt together,
// before it fails.
inline constexpr int kConnectMs = 3000;
// While an opening waits, the window is pumped this often.
inline constexpr int kWaitSliceMs = 5;

// One address a name stands for.
struct Address {
    int family = 0;
    int socktype = 0;
    int protocol = 0;
    sockaddr_storage addr{};
    socklen_t len = 0;
};

// Looks HOST and PORT up: 0 and the addresses, or a getaddrinfo() error code (EAI_SYSTEM
// with errno set). It may take any time: it runs on a thread of its own, which an opening
// that gives up on it leaves to finish alone.
using NameLookup = std::function<int(const std::string& host, const std::string& port, std::vector<Address>& found)>;
int system_lookup(const std::string& host, const std::string& port, std::vector<Address>& found);

class TcpTransport : public Transport {
public:
    explicit TcpTransport(NameLookup lookup = system_lookup) : lookup_(std::move(lookup)) {}

    int open(const std::string& where, int& fd, WaitPump* waiting) override;
    void close(int fd) override;
    int get_state(int fd, Dcb& dcb) const override;
    int set_state(int fd, const Dcb& dcb) override;
    int purge_input(int fd) override;
    ssize_t write_some(int fd, const uint8_t* data, size_t n) override;
    bool ends_broken() const override { return true; }

private:
    NameLookup lookup_;
    Dcb line_;
};

}  // namespace varnok
