#pragma once
// The one serial link of the console: its settings, the open port, the time-outs derived
// from the speed code, and the transmit and receive of frames.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "link/frame.h"
#include "link/link_settings.h"
#include "link/platform.h"
#include "link/port_map.h"
#include "link/serial_port.h"

namespace varnok {

inline constexpr unsigned kLateAnswerCapMs = 1000;
inline constexpr unsigned kWriteMarginMs = 1000;  // a write's time beyond its frame's line time

// What a receive waits for.
struct Awaited {
    uint8_t address = 0;         // the byte the answer begins with: the number asked
    uint8_t kol_wait_bytes = 0;  // the answer's length; the normal receive asks for one byte more
    LengthRule length = nullptr; // where the fast receive ends an answer by its own bytes
    unsigned settle_ms = 0;      // time the device takes before it answers (storing written values):
                                 // slept before the receive, or in the fast exchange listened through
};

// What a receive brought.
struct Received {
    uint8_t kpb = 0;     // how many bytes
    uint8_t pr_out = 2;  // how the hunt for the address byte ended: 0 first pass, 1 second pass, 2 none
    bool stopped = false;  // the caller's stop ended the receive: nothing was taken
    Frame buf{};         // the bytes from index 1; the first positions no byte reached hold the fill
};

class Link {
public:
    Link(Notices& notices, Sleeper& sleeper, const PortMap& ports);

    // The line settings, read-only. They change through the operations below, which keep a
    // port's number with its name and a speed with its code; none of them touches the port,
    // which takes the settings at its next initialisation.
    const LinkSettings& settings() const { return settings_; }

    // Port number 1..16 and its name. A number beyond 16 is kept for the initialisation to
    // refuse with its message.
    void set_port(uint8_t number);
    // The speed by code or in bit/s, `scor_obmena` with `num_scor` (a speed none of the six
    // has code 0; a code outside the table, speed 0).
    void set_speed_code(uint8_t code);
    void set_speed(int32_t baud);
    void set_parity(uint8_t parity);
    void set_stopbit(uint8_t stopbit);
    void set_sys_num(uint8_t number);
    // The time-outs in force (vich_timeout sets them from a speed code), their stored copy,
    // and that copy put in force.
    void set_timeouts(const Timeouts& t);
    void set_stored_timeouts(const Timeouts& t);
    void put_stored_timeouts_in_force();
    void set_fast_exchange(bool on);
    void set_fast_probe_wait(uint16_t ms);
    // Port, number, speed, parity, stop bits, data bits and both sets of time-outs of `s`; the
    // pauses and the fast exchange stay.
    void set_line(const LinkSettings& s);

    // Two changes that leave the speed and its code apart, as the console means them to:
    // - the device's own speed code, read from its register: into `num_scor`, which then
    //   tells the device's speed while the line runs on at `scor_obmena`;
    // - the speed a search found a number at: into `scor_obmena`; `num_scor`, the speed the
    //   console was set to, stays.
    void take_reported_speed_code(uint8_t code);
    void set_speed_keeping_code(int32_t baud);

    // Closes the port, opens `name_com_port` and configures it (a sound TCP connection to the
    // same address is kept and only configured); 0 when every step succeeded, else the error
    // code of the last step that failed.
    uint32_t init_com_port_new(const std::string& name_com_port, int32_t zn_scor_obmena, uint8_t zn_parity,
                               uint8_t zn_stopbit, uint8_t zn_bytesize);
    // The same with the current settings.
    uint32_t init_com_port_new();

    // Time-outs and pauses of a speed code, then a re-initialisation with the current settings.
    void vich_timeout(uint8_t number_scor);
    // The time-outs of the speed code in force, and the port opened and configured once more
    // with them (the start of a session and the port button).
    void set_up_port();

    // Sends the frame's `kb` bytes from index 1 between its pauses; the two positions after the
    // frame are cleared where the buffer has them.
    void tuda(Frame& ozuper, uint8_t kb);
    // Receives an answer: hunts for its address byte, then reads the bytes expected.
    Received suda(const Awaited& a);
    // The receive of a probe's answer, where silence is the common outcome: a first pass as
    // long as the answer could take, then a second that only gives `stop`, when there is one,
    // its chance to end the receive (then `stopped`, and the tap is not told).
    Received suda_probe(const Awaited& a, ReceiveStop* stop = nullptr);
    Received tuda_suda_probe(Frame& ozuper, uint8_t dl_note, const Awaited& a, ReceiveStop* stop = nullptr);

    // One character on the line at the speed the port was last set to (4800 bit/s for a
    // speed none of the six, or before the first set-up), and the 3.5
    // characters of silence that separate frames (never less than 1.75 ms).
    std::chrono::nanoseconds char_time() const;
    std::chrono::nanoseconds frame_gap() const;

    // Outcome of the last hunt for the address byte: 0 first pass, 1 second pass, 2 none; it
    // changes while a receive runs.
    uint8_t pr_out() const { return pr_out_; }

    // The device said it is busy and will answer later, unasked. The next transmit first
    // waits out the time such an answer takes, so that it is discarded, never read as the
    // answer to the next request. (A device merely silent is not waited for: that would add
    // up to a second to every exchange with a device that is not there.) An answer found
    // ends the wait.
    void expect_late_answer() { late_answer_possible_ = true; }
    bool late_answer_possible() const { return late_answer_possible_; }
    // That wait: as long as the hunt for an answer lasts, at most kLateAnswerCapMs.
    unsigned late_answer_ms() const;

    // The port, its line record and the time-outs the last initialisation set on it.
    const SerialPort& hcom() const { return hcom_; }
    const Dcb& dcb() const { return dcb_; }
    const CommTimeouts& commtimeouts() const { return commtimeouts_; }
    // Result of the last initialisation through vich_timeout; error code of the last failing
    // step (an initialisation's or a transmit's); whether the last initialisation succeeded.
    uint32_t dw() const { return dw_; }
    uint32_t dwError() const { return dwError_; }
    bool fSuccess() const { return fSuccess_; }

    // For tests and measurements: every later opening goes through this transport; and the
    // port closed, as a failed initialisation leaves it, until the next initialisation.
    void use_transport(std::unique_ptr<Transport> transport) { hcom_.use_transport(std::move(transport)); }
    void close_port() { hcom_.close(); }

    // The device path and the operating system's reason of the last failed step, for the
    // informative text of a message box.
    const std::string& last_path() const { return last_path_; }
    const std::string& last_failure() const { return last_failure_; }
    // The first failed step of the last initialisation: its errno (0 for none), and the reason
    // the errno would not tell (a name the resolver did not find), if any.
    int failure_error() const { return failure_error_; }
    const std::string& failure_reason() const { return failure_reason_; }

    // When set, told of every frame sent and every answer received.
    void set_tap(FrameTap* tap) { tap_ = tap; }
    FrameTap* tap() const { return tap_; }
    // When set, pumped while the port's opening waits (a TCP connection being made).
    void set_wait_pump(WaitPump* waiting) { waiting_ = waiting; }
    // When set, a stop it tells ends every wait of the port at once (the tool's Ctrl-C).
    void set_stop(const StopRequest* stop) { hcom_.set_stop(stop); }

    Notices& notices() const { return notices_; }
    Sleeper& sleeper() const { return sleeper_; }
    const PortMap& ports() const { return ports_; }

private:
    using Clock = std::chrono::steady_clock;

    Notices& notices_;
    Sleeper& sleeper_;
    const PortMap& ports_;

    LinkSettings settings_;
    SerialPort hcom_;
    Dcb dcb_;
    CommTimeouts commtimeouts_;
    std::string last_path_;
    std::string last_failure_;
    int failure_error_ = 0;
    std::string failure_reason_;
    uint8_t pr_out_ = 0;
    bool late_answer_possible_ = false;
    uint32_t dw_ = 0;
    uint32_t dwError_ = 0;
    bool fSuccess_ = false;
    FrameTap* tap_ = nullptr;
    WaitPump* waiting_ = nullptr;

    void record_failure(int error, const std::string& step, const std::string& reason = {});
    int read_with(const CommTimeouts& t, uint8_t* at, size_t n, size_t& got);
    bool read_one(Frame& buf, bool& call_ok, const CommTimeouts& t);
    CommTimeouts until(Clock::time_point deadline) const;
    size_t read_by_length(Frame& buf, size_t cap, LengthRule length, Clock::time_point allowance_end);
    size_t read_what_follows(Frame& buf, size_t got);
    void pause(std::chrono::nanoseconds length);
    void after_receive(Received& r);
    void report_broken();

    bool answer_missed_ = false;  // the last receive found no answer
    bool broken_told_ = false;    // the broken connection was reported
    bool closed_told_ = false;    // a transmit to the port that is not open was reported

    Clock::time_point request_end_{};       // when the last request has left the line
    Clock::time_point line_quiet_since_{};  // the last character on the line, ours or the device's
};

}  // namespace varnok
