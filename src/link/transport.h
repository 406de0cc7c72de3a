#pragma once
// What carries the port's bytes: a serial terminal, or a TCP connection to an
// Ethernet-to-RS-485 converter that passes the RTU frames on unchanged. The port's reads
// and writes under time-outs work alike on the descriptor of either.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

#include "link/platform.h"

namespace varnok {

struct Dcb;

// Not an errno: a line whose bytes never pause long enough to be discarded. A TCP peer that
// sends without end is told by it, and its connection closed.
inline constexpr int kLineNotQuiet = 0x10000;
// How long discarding pending input may take before the line counts as never quiet.
inline constexpr int kPurgeMs = 250;

class Transport {
public:
    virtual ~Transport() = default;
    // Opens `where`; 0 and a non-blocking descriptor in `fd`, or the errno of the failure.
    // `waiting`, when given, is pumped while the opening waits.
    virtual int open(const std::string& where, int& fd, WaitPump* waiting) = 0;
    // The reason of the last failed open where its errno would not tell it; else empty.
    const std::string& failure() const { return failure_; }
    virtual void close(int fd) = 0;
    virtual int get_state(int fd, Dcb& dcb) const = 0;
    virtual int set_state(int fd, const Dcb& dcb) = 0;
    // Discards what has come and not been read; kLineNotQuiet when more keeps coming for kPurgeMs.
    virtual int purge_input(int fd) = 0;
    virtual ssize_t write_some(int fd, const uint8_t* data, size_t n) = 0;
    // Whether the end of input (the far end closed) is a broken connection, to be reported
    // and opened again, rather than a line that has gone silent.
    virtual bool ends_broken() const = 0;
    // When set, asked during every wait: a stop ends it.
    void set_stop(const StopRequest* stop) { stop_ = stop; }

protected:
    bool stop_requested() const { return stop_ && stop_->requested(); }

    std::string failure_;
    const StopRequest* stop_ = nullptr;
};

// "tcp://HOST:PORT" (HOST a name, an IPv4 address or an [IPv6] address) is a TCP
// connection; anything else is a terminal's path (on Windows the port opens a COM port itself).
bool is_tcp_address(const std::string& where);
std::unique_ptr<Transport> transport_for(const std::string& where);

}  // namespace varnok
