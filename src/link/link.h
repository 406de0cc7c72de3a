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

class Link : public LinkSettings {
public:
    Link(Notices& notices, Sleeper& sleeper, KeyState& keys, const PortMap& ports);

    // Closes the port, opens `name_com_port` and configures it (a sound TCP connection to the
    // same address is kept and only configured); 0 when every step succeeded, else the error
    // code of the last step that failed.
    uint32_t init_com_port_new(const std::string& name_com_port, int32_t zn_scor_obmena,
                               uint8_t zn_parity, uint8_t zn_stopbit, uint8_t zn_bytesize);

    // Time-outs and pauses of a speed code, then a re-initialisation with the current settings.
    void vich_timeout(uint8_t number_scor, uint8_t kol_byte);

    void tuda(Frame& ozuper, uint8_t kb);
    // `settle_ms`: time the device takes before it answers (storing written values); slept
    // before the receive, or in the fast exchange added to the wait for the answer.
    void suda(Frame& buf, uint8_t& kpb, uint8_t kol_wait_bytes, unsigned settle_ms = 0);
    // Throws SearchAborted when the X key was pressed during the second pass.
    void suda_for_poisk(Frame& buf, uint8_t& kpb);
    uint8_t tuda_suda_poisk(Frame& ozuper, uint8_t dl_note, Frame& buf, uint8_t& dl_otvet);

    // One character on the line at the speed the port was last set to (4800 bit/s for a
    // speed none of the six, or before the first set-up), and the 3.5
    // characters of silence that separate frames (never less than 1.75 ms).
    std::chrono::nanoseconds char_time() const;
    std::chrono::nanoseconds frame_gap() const;

    // Outcome of the last hunt for the address byte: 0 first pass, 1 second pass, 2 none.
    uint8_t pr_out = 0;

    // The device said it is busy and will answer later, unasked. The next transmit first
    // waits out the time such an answer takes, so that it is discarded, never read as the
    // answer to the next request. (A device merely silent is not waited for: that would add
    // up to a second to every exchange with a device that is not there.)
    bool late_answer_possible = false;
    // That wait: as long as the hunt for an answer lasts, at most kLateAnswerCapMs.
    unsigned late_answer_ms() const;

    SerialPort hcom;
    Dcb dcb;
    CommTimeouts commtimeouts;
    uint32_t dw = 0;
    uint32_t dwError = 0;
    bool fSuccess = false;

    // The device path and the operating system's reason of the last failed step, for the
    // informative text of a message box.
    std::string last_path;
    std::string last_failure;

    // When set, told of every frame sent and every answer received.
    FrameTap* tap = nullptr;
    // When set, pumped while the port's opening waits (a TCP connection being made).
    WaitPump* waiting = nullptr;

    Notices& notices;
    Sleeper& sleeper;
    KeyState& keys;
    const PortMap& ports;

private:
    using Clock = std::chrono::steady_clock;

    void record_failure(int error, const std::string& step, const std::string& reason = {});
    int read_with(const CommTimeouts& t, uint8_t* at, size_t n, size_t& got);
    bool read_one(Frame& buf, bool& call_ok, const CommTimeouts& t);
    CommTimeouts until(Clock::time_point deadline) const;
    size_t read_by_length(Frame& buf, size_t cap, Clock::time_point allowance_end);
    size_t read_what_follows(Frame& buf, size_t got);
    void pause(std::chrono::nanoseconds length);
    void fill(Frame& buf) const;
    void after_receive(const Frame& buf, uint8_t kpb);
    void report_broken();

    bool answer_missed_ = false;  // the last receive found no answer
    bool broken_told_ = false;  // the broken connection was reported
    bool closed_told_ = false;  // a transmit to the port that is not open was reported

    Clock::time_point request_end_{};       // when the last request has left the line
    Clock::time_point line_quiet_since_{};  // the last character on the line, ours or the device's
};

}  // namespace varnok
