#include "link/link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/error_text.h"

namespace varnok {

void ThreadSleeper::sleep_ms(unsigned ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void ThreadSleeper::sleep_us(unsigned us)
{
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

Link::Link(Notices& n, Sleeper& s, const PortMap& p) : notices_(n), sleeper_(s), ports_(p) {}

void Link::set_port(uint8_t number)
{
    settings_.num_name_comport = number;
    settings_.name_comport =
        number >= 1 && number <= kPortCount ? txt_name_comport[number - 1u] : "COM" + std::to_string(number);
}

void Link::set_speed_code(uint8_t code)
{
    settings_.scor_obmena = code < scor.size() ? scor[code] : 0;
    settings_.num_scor = code;
}

void Link::set_speed(int32_t baud)
{
    settings_.scor_obmena = baud;
    settings_.num_scor = number_scor(baud);
}

void Link::set_parity(uint8_t parity) { settings_.parity = parity; }

void Link::set_stopbit(uint8_t stopbit) { settings_.stopbit = stopbit; }

void Link::set_sys_num(uint8_t number) { settings_.sys_num = number; }

void Link::set_timeouts(const Timeouts& t) { settings_.timeouts = t; }

void Link::set_stored_timeouts(const Timeouts& t) { settings_.n_timeouts = t; }

void Link::put_stored_timeouts_in_force() { settings_.timeouts = settings_.n_timeouts; }

void Link::set_fast_exchange(bool on) { settings_.fast_exchange = on; }

void Link::set_fast_probe_wait(uint16_t ms) { settings_.fast_probe_wait = ms; }

void Link::set_line(const LinkSettings& s)
{
    set_port(s.num_name_comport);
    set_sys_num(s.sys_num);
    set_speed(s.scor_obmena);
    set_parity(s.parity);
    set_stopbit(s.stopbit);
    settings_.bytesize = s.bytesize;
    set_timeouts(s.timeouts);
    set_stored_timeouts(s.n_timeouts);
}

void Link::take_reported_speed_code(uint8_t code) { settings_.num_scor = code; }

void Link::set_speed_keeping_code(int32_t baud) { settings_.scor_obmena = baud; }

// `reason`, when given, says what the errno would not (a name the resolver did not find).
void Link::record_failure(int error, const std::string& step, const std::string& reason)
{
    dwError_ = static_cast<uint32_t>(error);
    fSuccess_ = false;
    if (!last_failure_.empty())
        return;  // the first failure of a call is its cause; later steps fail for it
    failure_error_ = error;
    failure_reason_ = reason;
    last_failure_ =
        step + ": " + (reason.empty() ? error_text(error) + " (errno " + std::to_string(error) + ")" : reason);
    if (const std::string advice = port_error_advice(error); !advice.empty())
        last_failure_ += "\n" + advice;
}

uint32_t Link::init_com_port_new(const std::string& name_com_port, int32_t zn_scor_obmena, uint8_t zn_parity,
                                 uint8_t zn_stopbit, uint8_t zn_bytesize)
{
    const Timeouts& t = settings_.timeouts;
    commtimeouts_ = {t.R_IntervalTimeout, t.R_TotalTimeoutMultiplier, t.R_TotalTimeoutConstant,
                     t.W_TotalTimeoutMultiplier, t.W_TotalTimeoutConstant};
    dwError_ = 0;
    last_failure_.clear();
    failure_error_ = 0;
    failure_reason_.clear();
    broken_told_ = false;
    closed_told_ = false;

    last_path_ = ports_.resolve(name_com_port);
    // Speed, parity and stop bits mean nothing to a TCP connection: a set-up that changes only
    // them keeps a sound connection to the same address. A serial port is opened afresh.
    const bool keep = settings_.num_name_comport <= kPortCount && is_tcp_address(last_path_) && hcom_.is_open() &&
                      hcom_.where() == last_path_ && hcom_.connected();
    if (!keep)
        hcom_.close();

    if (settings_.num_name_comport > kPortCount) {
        notices_.message_box("неверный Com-порт", name_com_port);
    } else {
        const int e = keep ? 0 : hcom_.open(last_path_, waiting_);
        if (e != 0) {
            record_failure(
                e, last_path_.empty() ? name_com_port + " не сопоставлен ни одному устройству" : "открытие " + last_path_,
                hcom_.open_failure());
        } else if (const int g = hcom_.get_state(dcb_); g != 0) {
            record_failure(g, "чтение настроек линии");
        }
    }

    dcb_.BaudRate = static_cast<uint32_t>(zn_scor_obmena);
    dcb_.ByteSize = zn_bytesize;
    dcb_.Parity = zn_parity;
    if (zn_stopbit == 1)
        dcb_.StopBits = 0;
    else if (zn_stopbit == 2)
        dcb_.StopBits = 2;

    if (const int e = hcom_.set_state(dcb_); e != 0)
        record_failure(e, "настройка линии");
    if (const int e = hcom_.set_timeouts(commtimeouts_); e != 0)
        record_failure(e, "установка таймаутов");

    fSuccess_ = dwError_ == 0;
    if (dwError_ != 0 && !last_path_.empty())
        last_failure_ = last_path_ + "\n" + last_failure_;
    return dwError_;
}

uint32_t Link::init_com_port_new()
{
    const LinkSettings& s = settings_;
    return init_com_port_new(s.name_comport, s.scor_obmena, s.parity, s.stopbit, s.bytesize);
}

void Link::vich_timeout(uint8_t number_scor)
{
    const uint8_t c = number_scor < t_allow.size() ? number_scor : 0;
    settings_.timeouts = {t_allow[c], uint16_t(2 * t_after_response[c]), uint16_t(2 * t_end_packet[c]), 0, 0};

    dw_ = init_com_port_new();
    if (dw_ != 0)
        notices_.message_box("ошибка настройки порта ", last_failure_);

    settings_.time_pause_after = t_after_response[c];
    settings_.time_pause_before = t_end_packet[c];
}

void Link::set_up_port()
{
    vich_timeout(settings_.num_scor);
    // A connection that was not made in its time is not tried again at once: the set-up would
    // take twice the time-out.
    if (dw_ != 0 && !hcom_.is_open() && is_tcp_address(last_path_))
        return;
    init_com_port_new();
}

std::chrono::nanoseconds Link::char_time() const
{
    // Only a speed of the six times the line. Before the port was ever set up, or at a speed
    // none of the six (the settings file may hold any), the slowest: its times hold for the
    // others; a speed such as 1 bit/s would make a character last 10 s.
    const uint64_t speed = number_scor(int32_t(dcb_.BaudRate)) != 0 ? dcb_.BaudRate : uint64_t(scor[1]);
    const LinkSettings& s = settings_;
    const uint64_t bits = 1 + uint64_t(s.bytesize) + (s.parity != 0 ? 1 : 0) + (s.stopbit == 2 ? 2 : 1);
    return std::chrono::nanoseconds(1'000'000'000ULL * bits / speed);
}

std::chrono::nanoseconds Link::frame_gap() const
{
    return std::max<std::chrono::nanoseconds>(char_time() * 7 / 2, std::chrono::microseconds(1750));
}

void Link::pause(std::chrono::nanoseconds length)
{
    if (length > std::chrono::nanoseconds::zero())
        sleeper_.sleep_us(unsigned(std::chrono::ceil<std::chrono::microseconds>(length).count()));
}

void Link::tuda(Frame& ozuper, uint8_t kb)
{
    // Every byte the builder produced goes out, up to the last position of the buffer; the
    // two positions after the frame are cleared where the buffer has them.
    if (kb > kFrameSize - 1)
        kb = kFrameSize - 1;
    if (late_answer_possible_ && hcom_.is_open())
        sleeper_.sleep_ms(late_answer_ms());
    late_answer_possible_ = false;
    hcom_.purge_input();
    if (settings_.fast_exchange)
        pause(line_quiet_since_ + frame_gap() - Clock::now());  // silence already past counts
    else
        sleeper_.sleep_ms(settings_.time_pause_before);
    for (size_t i = size_t(kb) + 1; i <= size_t(kb) + 2 && i < kFrameSize; ++i)
        ozuper[i] = 0;
    // No write waits longer than its frame takes on the line and a second more: a converter
    // that stopped reading or a stuck adapter would otherwise hold the window for good.
    CommTimeouts w = commtimeouts_;
    if (w.WriteTotalTimeoutMultiplier == 0 && w.WriteTotalTimeoutConstant == 0)
        w.WriteTotalTimeoutConstant =
            uint32_t(std::chrono::ceil<std::chrono::milliseconds>(char_time() * kb).count()) + kWriteMarginMs;
    const uint64_t write_ms = uint64_t(w.WriteTotalTimeoutMultiplier) * kb + w.WriteTotalTimeoutConstant;
    hcom_.set_timeouts(w);
    size_t written = 0;
    const int e = hcom_.write(&ozuper[1], kb, written);
    hcom_.set_timeouts(commtimeouts_);
    // A connection that broke is told once (below), not as a transmit error per frame; so is
    // a port that is not open (its set-up failed), until it is set up again. A write that
    // did not end is a transmit error, and breaks the port.
    if (e != 0 && (!hcom_.broken() || e == ETIMEDOUT)) {
        dwError_ = static_cast<uint32_t>(e);
        if (e != EBADF || !closed_told_)
            notices_.message_box(
                "ошибка передачи= " + std::to_string(e),
                e == ETIMEDOUT ? "запись не закончилась за " + std::to_string(write_ms) + " мс" : error_text(e));
        closed_told_ = closed_told_ || e == EBADF;
    }
    if (tap_)
        tap_->sent(&ozuper[1], kb);  // the frame as the console sent it, even to a port that failed
    report_broken();
    // A port takes the frame into its buffer at once and sends it at the pace of the line.
    request_end_ = Clock::now() + char_time() * kb;
    line_quiet_since_ = request_end_;
    if (settings_.fast_exchange)
        pause(frame_gap());
    else
        sleeper_.sleep_ms(settings_.time_pause_after);
}

unsigned Link::late_answer_ms() const
{
    // Six one-byte reads, each bounded by its total time-out (or the cap of an unbounded read).
    const Timeouts& t = settings_.timeouts;
    unsigned per_read = unsigned(t.R_TotalTimeoutMultiplier) + t.R_TotalTimeoutConstant;
    if (per_read == 0)
        per_read = t.R_IntervalTimeout == 0 ? kReadCapMs : t.R_IntervalTimeout;
    return std::min(6 * per_read, kLateAnswerCapMs);
}

// The answer's bytes, as the tap sees them; a connection found broken is told.
void Link::after_receive(Received& r)
{
    pr_out_ = r.pr_out;
    if (tap_)
        tap_->received(&r.buf[1], r.kpb < kFrameSize ? r.kpb : kFrameSize - 1);
    report_broken();
}

// A broken connection is reported once, like a port that failed, with what to do about it;
// the exchanges after it find no answer until the port is opened again.
void Link::report_broken()
{
    if (hcom_.broken() == 0 || broken_told_)
        return;
    broken_told_ = true;
    const std::string what = hcom_.broken() == kLineNotQuiet ? error_text_ru(kLineNotQuiet) + ", соединение закрыто"
                                                             : "соединение разорвано: " + error_text(hcom_.broken());
    notices_.message_box("ошибка настройки порта ",
                         last_path_ + "\n" + what + "\nПодключиться снова: «инициализация СОМпорта».");
}

// One read under time-outs of its own; the port keeps the time-outs in force for the next.
// A byte received leaves the line quiet from now on.
int Link::read_with(const CommTimeouts& t, uint8_t* at, size_t n, size_t& got)
{
    hcom_.set_timeouts(t);
    const int e = hcom_.read(at, n, got);
    hcom_.set_timeouts(commtimeouts_);
    if (got > 0)
        line_quiet_since_ = Clock::now();
    return e;
}

// One one-byte read into position 1; true when it delivered a byte. `call_ok` tells
// whether the port reported the call as successful (a time-out is a success).
bool Link::read_one(Frame& buf, bool& call_ok, const CommTimeouts& t)
{
    uint8_t byte = 0;
    size_t got = 0;
    call_ok = read_with(t, &byte, 1, got) == 0;
    if (got == 1)
        buf[1] = byte;
    return got == 1;
}

// Time-outs of a read that must end by `deadline`; past it, the read takes only what has come.
CommTimeouts Link::until(Clock::time_point deadline) const
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return {kReadNoWait, 0, 0, 0, 0};
    return {0, 0, uint32_t(left), 0, 0};
}

// The fast receive of what follows the address byte in position 1, byte by byte: it ends
// as soon as the answer is complete by its length (at most `cap` bytes), and otherwise
// where the normal receive ends, which reads once its allowance for the expected bytes
// has passed: on the interval time-out after the later of that moment and the last byte,
// or on the total time-out. A damaged answer ends the same ways and is then told by the
// answer check. Returns the number of bytes after the address.
size_t Link::read_by_length(Frame& buf, size_t cap, LengthRule length, Clock::time_point allowance_end)
{
    const CommTimeouts& t = commtimeouts_;  // those the port applies to the normal read
    const Clock::time_point deadline =
        allowance_end +
        std::chrono::milliseconds(uint64_t(t.ReadTotalTimeoutMultiplier) * cap + t.ReadTotalTimeoutConstant);
    size_t want = std::min(cap, kFrameSize - 2);
    size_t got = 0;
    Clock::time_point last{};
    while (got < want) {
        Clock::time_point by = deadline;
        if (got > 0 && t.ReadIntervalTimeout != 0)
            by = std::min(by, std::max(allowance_end, last) + std::chrono::milliseconds(t.ReadIntervalTimeout));
        size_t one = 0;
        read_with(until(by), &buf[2 + got], 1, one);
        if (one == 0)
            break;
        last = Clock::now();
        if (++got == 2 && length)
            if (const size_t whole = length(buf[2], buf[3]).bytes; whole != 0)
                want = std::min(want, whole - 1);
    }
    return got;
}

// The request before got no answer; that answer may still come, now, and look like this
// request's own, which the device then sends a turnaround after it. Listening that long
// after a complete answer tells the two apart: the bytes that follow are taken with it, so
// the answer check refuses them together instead of taking another request's answer.
size_t Link::read_what_follows(Frame& buf, size_t got)
{
    const auto gap =
        std::max<std::chrono::nanoseconds>(frame_gap(), std::chrono::milliseconds(commtimeouts_.ReadIntervalTimeout));
    Clock::time_point by = Clock::now() + frame_gap() + std::chrono::milliseconds(settings_.fast_probe_wait);
    while (got < kFrameSize - 2) {
        size_t one = 0;
        read_with(until(by), &buf[2 + got], 1, one);
        if (one == 0)
            break;
        ++got;
        by = Clock::now() + gap;
    }
    return got;
}

Received Link::suda(const Awaited& a)
{
    CommTimeouts first = commtimeouts_;
    if (settings_.fast_exchange)
        first.ReadTotalTimeoutConstant += a.settle_ms;  // listen while the device settles
    else if (a.settle_ms != 0)
        sleeper_.sleep_ms(a.settle_ms);

    Received r;
    Frame& buf = r.buf;
    for (size_t i = 1; i <= kFillPositions; ++i)
        buf[i] = kFill;
    pr_out_ = 0;

    bool found = false;
    uint8_t last_got = 0;
    for (int pass = 0; pass < 2 && !found; ++pass) {
        if (pass == 1)
            pr_out_ = 1;
        for (int attempt = 0; attempt < 3; ++attempt) {
            bool ok = false;
            const bool got = read_one(buf, ok, pass == 0 && attempt == 0 ? first : commtimeouts_);
            last_got = got ? 1 : 0;
            if (got && buf[1] == a.address) {
                found = true;
                break;
            }
        }
    }
    const bool after_a_miss = answer_missed_;
    answer_missed_ = !found;
    if (!found) {
        r.pr_out = 2;
        r.kpb = last_got;
        after_receive(r);
        return r;
    }
    r.pr_out = pr_out_;
    late_answer_possible_ = false;  // the answer that was due has come

    const uint8_t c = settings_.num_scor < t_allow.size() ? settings_.num_scor : 0;
    const unsigned allowance = unsigned(t_allow[c]) * a.kol_wait_bytes;
    // The answer goes from position 2; never past the end of the buffer.
    const size_t room = kFrameSize - 2;
    const size_t want = a.kol_wait_bytes < room ? a.kol_wait_bytes : room;
    size_t got = 0;
    if (settings_.fast_exchange) {
        got = read_by_length(buf, want, a.length, Clock::now() + std::chrono::milliseconds(allowance));
        // An answer that another of the same request follows by design is left alone.
        if (after_a_miss && a.length) {
            const FrameLength l = a.length(buf[2], buf[3]);
            if (!l.answer_follows && got + 1 == l.bytes)
                got = read_what_follows(buf, got);
        }
    } else {
        sleeper_.sleep_ms(allowance);
        read_with(commtimeouts_, &buf[2], want, got);
    }
    r.kpb = static_cast<uint8_t>(got + 1);
    after_receive(r);
    return r;
}

Received Link::suda_probe(const Awaited& a, ReceiveStop* stop)
{
    Received r;
    Frame& buf = r.buf;
    for (size_t i = 1; i <= kFillPositions; ++i)
        buf[i] = kFill;
    pr_out_ = 0;
    if (stop)
        stop->receive_begins();

    // Fast: the first pass ends when the answer could have come, given the probe's wait; the
    // second, which only gives the caller's stop its chance, takes only what is there.
    const Clock::time_point answer_due =
        request_end_ + std::chrono::milliseconds(settings_.fast_probe_wait) + char_time() * a.kol_wait_bytes;
    const CommTimeouts second = settings_.fast_exchange ? CommTimeouts{kReadNoWait, 0, 0, 0, 0} : commtimeouts_;

    bool found = false;
    uint8_t last_got = 0;
    for (int attempt = 0; attempt < 3 && !found; ++attempt) {
        bool ok = false;
        const bool got = read_one(buf, ok, settings_.fast_exchange ? until(answer_due) : commtimeouts_);
        last_got = got ? 1 : 0;
        found = got && buf[1] == a.address;
    }

    if (!found) {
        pr_out_ = 1;
        bool any_ok = false;
        for (int attempt = 0; attempt < 3 && !any_ok; ++attempt) {
            const bool got = read_one(buf, any_ok, second);
            last_got = got ? 1 : 0;
            if (stop && stop->stop_now()) {
                r.pr_out = pr_out_;
                r.stopped = true;
                return r;
            }
        }
        if (!any_ok) {
            r.pr_out = 2;
            r.kpb = last_got;
            after_receive(r);
            return r;
        }
    }

    r.pr_out = pr_out_;
    if (r.pr_out == 0) {
        // The rest of an answer of the length awaited, which the address began.
        const size_t rest = a.kol_wait_bytes > 0 ? a.kol_wait_bytes - 1u : 0u;
        size_t got = 0;
        if (settings_.fast_exchange) {
            // The normal receive reads at once, but only once its pause after the request
            // has let the answer come; the same allowance as for any answer keeps a device
            // that pauses within its answer from being cut off.
            const uint8_t c = settings_.num_scor < t_allow.size() ? settings_.num_scor : 0;
            got = read_by_length(buf, rest, a.length,
                                 Clock::now() + std::chrono::milliseconds(unsigned(t_allow[c]) * rest));
        } else {
            read_with(commtimeouts_, &buf[2], rest, got);
        }
        last_got = static_cast<uint8_t>(got);
    }
    r.kpb = static_cast<uint8_t>(last_got + 1);
    after_receive(r);
    return r;
}

Received Link::tuda_suda_probe(Frame& ozuper, uint8_t dl_note, const Awaited& a, ReceiveStop* stop)
{
    tuda(ozuper, dl_note);
    return suda_probe(a, stop);
}

}  // namespace varnok
