#pragma once
// The terminal the simulator answers on, and the line as its far side set it.

#include <cstdint>
#include <string>

#include "sim/simulated_device.h"

namespace varnok::sim {

// A line as a terminal shows it; parity 0..2 as the device codes it, or mark or space.
struct TerminalLine {
    static constexpr uint8_t kMark = 3, kSpace = 4;
    uint32_t baud = 0;
    uint8_t parity = 0;
    uint8_t stop_bits = 1;

    bool carries(const LineSettings& l) const
    {
        return baud == l.baud() && parity == l.parity && stop_bits == l.stop_bits;
    }
    std::string text() const;  // "9600 bit/s 8N1"
};

// The simulator's end of the line: the master side of a pseudo-terminal (the console opens
// the other side), a serial device of its own, a TCP port on loopback where it plays an
// Ethernet-to-RS-485 converter with the devices behind it (one master connection at a time),
// or a socket whose other end a master in the same process holds (the tests' simulator).
class Terminal {
public:
    Terminal() = default;
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal();

    // Each returns an empty text on success, else the reason.
    std::string open_pty(const LineSettings& initial);
    std::string open_device(const std::string& path, const LineSettings& line);
    // Listens on 127.0.0.1:port (0: a free port); path() is then "tcp://127.0.0.1:PORT".
    std::string open_tcp(uint16_t port, const LineSettings& line);
    // A connected, non-blocking socket, taken over; its line is what the master tells.
    void open_socket(int fd);
    void set_master_line(const TerminalLine& line) { master_line_ = line; }
    // Closes the terminal as a pulled adapter would: the far side of a pseudo-terminal is
    // hung up and its path goes away (on TCP: the connection and the listener close).
    void close();
    bool is_open() const { return fd_ >= 0 || listener_ >= 0; }
    // Sets a serial device to the given line; a pseudo-terminal is left as the master set it.
    std::string configure(const LineSettings& line);

    // The descriptor the requests come in on; on TCP the master's connection, -1 while none.
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool is_pty() const { return kind_ == Kind::pty; }
    bool is_tcp() const { return kind_ == Kind::tcp; }
    // A serial device sends at the pace of its line by itself; elsewhere the bytes are paced.
    bool paces_itself() const { return kind_ == Kind::device; }

    // TCP: the listening socket; taking a new master's connection (it replaces the one
    // before, as a converter serving one master does), returning how many came; closing the
    // connection.
    int listener() const { return listener_; }
    int accept_master();
    void drop_master();

    // The line as the far side sees it: on a pseudo-terminal what the master set, as far as
    // the kernel keeps it; on a serial device what it was configured to. False when unknown.
    bool line_seen(TerminalLine& line) const;

private:
    enum class Kind { pty, device, tcp, socket };
    int fd_ = -1;
    int keeper_ = -1;  // our own descriptor on the far side: the master never sees it closed
    int listener_ = -1;
    std::string path_;
    Kind kind_ = Kind::pty;
    LineSettings configured_;  // of a serial device, or of the converter
    TerminalLine master_line_;  // of a socket
};

}  // namespace varnok::sim
