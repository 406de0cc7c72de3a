#pragma once
// The port: a serial device opened exclusively, or a TCP connection to an Ethernet-to-RS-485
// converter (a port mapped to "tcp://HOST:PORT"), read under time-outs that behave like
// those of a Win32 communications port: a read returns when every requested byte came, when
// the gap after a received byte exceeds the interval time-out, or when the total time-out
// (multiplier x bytes + constant) since the call began has passed.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#ifndef _WIN32
#include <termios.h>
#endif

#include "link/transport.h"

namespace varnok {

// The line record of the port. BaudRate, ByteSize, Parity (0 none, 1 odd, 2 even,
// 3 mark, 4 space) and StopBits (0 one, 1 one and a half, 2 two) follow the Win32 codes;
// on a terminal `tio` keeps everything else as the driver reported it (Windows keeps its own
// record of the port, read afresh at every change).
struct Dcb {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
#ifndef _WIN32
    termios tio{};
#endif
};

struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// As on Win32: a read interval of this value with both read totals 0 returns at once with
// whatever has already come.
inline constexpr uint32_t kReadNoWait = 0xFFFFFFFF;

// A read whose time-outs are all zero, or whose only time-out is the interval, would wait for
// ever on a silent line; it is bounded by this instead.
inline constexpr uint32_t kReadCapMs = 2000;

class SerialPort {
public:
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() { close(); }

    // Each call returns 0 or the errno of the failure. `waiting`, when given, is pumped
    // while an opening waits (a TCP connection being made).
    int open(const std::string& path, WaitPump* waiting = nullptr);
    // Why the last open failed, where its errno would not tell it; else empty.
    std::string open_failure() const { return transport_ ? transport_->failure() : std::string(); }
    void close();
    bool is_open() const;
    // For tests: every later open() goes through this transport, whatever the path.
    void use_transport(std::unique_ptr<Transport> transport)
    {
        close();
        transport_ = std::move(transport);
        fixed_transport_ = transport_ != nullptr;
        if (transport_)
            transport_->set_stop(stop_);
    }
    // When set, every wait of the port (a read, an opening, the discarding of input) ends as
    // soon as it is requested; a read then returns what has come.
    void set_stop(const StopRequest* stop)
    {
        stop_ = stop;
        if (transport_)
            transport_->set_stop(stop);
    }
    // What the port was last opened on.
    const std::string& where() const { return where_; }
    // Whether an open TCP connection is still sound: the far end has not closed or reset it.
    bool connected() const;

    // The errno with which a connection broke (the far end closed it or reset it, or a write
    // did not end within its time-out: ETIMEDOUT); the port is closed then, and every later
    // call fails at once until the next open(). 0 while sound.
    int broken() const { return broken_; }

    int get_state(Dcb& dcb) const;
    int set_state(const Dcb& dcb);
    int set_timeouts(const CommTimeouts& t);
    int purge_input();
    int write(const uint8_t* data, size_t n, size_t& written);
    int read(uint8_t* data, size_t n, size_t& got);

private:
    int lose(int error);

    std::unique_ptr<Transport> transport_;
    bool fixed_transport_ = false;
    const StopRequest* stop_ = nullptr;
    std::string where_;
    int fd_ = -1;  // the terminal or the socket
    int broken_ = 0;
    CommTimeouts timeouts_{};
#ifdef _WIN32
    void* comm_ = nullptr;  // a communications port's handle, whose time-outs Windows keeps
#endif
};

}  // namespace varnok
