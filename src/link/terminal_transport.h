#pragma once
// A serial device (or a pseudo-terminal) as the port's transport: opened exclusively, raw,
// its line set through termios.

#include "link/transport.h"

namespace varnok {

class TerminalTransport : public Transport {
public:
    int open(const std::string& path, int& fd, WaitPump* waiting) override;
    void close(int fd) override;
    int get_state(int fd, Dcb& dcb) const override;
    int set_state(int fd, const Dcb& dcb) override;
    int purge_input(int fd) override;
    ssize_t write_some(int fd, const uint8_t* data, size_t n) override;
    // A terminal whose far end closed is a silent line.
    bool ends_broken() const override { return false; }

private:
    static bool is_pseudo_terminal(int fd);
};

}  // namespace varnok
