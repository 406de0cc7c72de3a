#include "sim/engine.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <termios.h>
#include <unistd.h>

#include "modbus/crc.h"
#include "sim/protocol.h"

namespace varnok::sim {

namespace {

timespec to_timespec(Clock::time_point t)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    return {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

// Absolute deadlines keep a sequence of waits from drifting.
void sleep_until(Clock::time_point t)
{
    const timespec ts = to_timespec(t);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace

Engine::Engine(Terminal& terminal, FrameJournal& journal, uint32_t seed)
    : terminal_(terminal), journal_(journal), seed_(seed), rng_(seed ^ 0x5A5A5A5Au)
{
}

Station& Engine::add(const LineSettings& line)
{
    // The first device keeps the seed as given, so one device runs as it always did.
    stations_.push_back(std::make_unique<Station>(seed_ + uint32_t(stations_.size()), line));
    return *stations_.back();
}

std::string Engine::set_line(Station& s, const LineSettings& line)
{
    if (std::string e = check_line(line); !e.empty())
        return e;
    s.device.store_line(line);
    return put_in_force(s, line);
}

std::string Engine::put_in_force(Station& s, const LineSettings& line)
{
    if (line == s.line)
        return {};
    s.line = line;
    const bool first = &s == stations_.front().get();
    journal_.note((stations_.size() > 1 ? "device at " + std::to_string(s.line.address) + ": " : std::string()) +
                  "line now " + s.line.text());
    return first ? terminal_.configure(s.line) : std::string();
}

void Engine::adopt_written_line(Station& s, const Request& r)
{
    if (r.function != 16 || !r.has_range)
        return;
    LineSettings line = s.line;
    for (uint32_t a = std::max<uint32_t>(r.start, kAddressReg); a < uint32_t(r.start) + r.count && a <= kStopBitsReg;
         ++a)
        line.at(uint16_t(a)) = uint8_t(s.device.holding(uint16_t(a)));
    put_in_force(s, line);
}

TerminalLine Engine::line_seen() const
{
    TerminalLine seen;
    if (terminal_.line_seen(seen))
        return seen;
    const LineSettings& first = stations_.front()->line;
    return {first.baud(), first.parity, first.stop_bits};
}

std::chrono::nanoseconds Engine::gap() const
{
    const TerminalLine seen = line_seen();
    const auto g = char_time(seen.baud, seen.parity != 0, seen.stop_bits) * 7 / 2;
    return std::max<std::chrono::nanoseconds>(g, std::chrono::milliseconds(2));
}

std::optional<Clock::time_point> Engine::deadline() const
{
    if (rx_.empty())
        return std::nullopt;
    return last_rx_ + gap();
}

void Engine::drop_stale(Clock::time_point now)
{
    if (rx_.empty() || now - last_rx_ <= gap())
        return;
    if (request_length(rx_) == kEndsAtSilence) {
        const std::vector<uint8_t> frame = std::move(rx_);
        rx_.clear();
        handle(frame, last_rx_ + gap());
        return;
    }
    journal_.frame("<-", rx_);
    journal_.note("ignored: incomplete frame of " + std::to_string(rx_.size()) + " bytes, silence followed");
    ++ignored_;
    rx_.clear();
}

void Engine::on_deadline(Clock::time_point now) { drop_stale(now); }

void Engine::on_readable(Clock::time_point now)
{
    uint8_t chunk[512];
    for (;;) {
        const ssize_t n = ::read(terminal_.fd(), chunk, sizeof chunk);
        if (n <= 0)
            break;
        drop_stale(now);
        rx_.insert(rx_.end(), chunk, chunk + n);
        last_rx_ = now;
    }
    while (!rx_.empty()) {
        const size_t len = request_length(rx_);
        if (len == 0 || len == kEndsAtSilence || rx_.size() < len)
            break;
        const std::vector<uint8_t> frame(rx_.begin(), rx_.begin() + long(len));
        rx_.erase(rx_.begin(), rx_.begin() + long(len));
        handle(frame, now);
    }
    if (rx_.size() > 256) {
        journal_.note("ignored: " + std::to_string(rx_.size()) + " bytes without a frame");
        ++ignored_;
        rx_.clear();
    }
}

void Engine::handle(const std::vector<uint8_t>& frame, Clock::time_point complete)
{
    journal_.frame("<-", frame);
    const TerminalLine seen = line_seen();
    std::vector<Station*> listening, addressed;
    for (const auto& s : stations_)
        if (seen.carries(s->line))
            listening.push_back(s.get());
    std::string why;
    if (frame.size() < 4) {
        why = "too short";
    } else if (listening.empty()) {
        why = "line mismatch: terminal " + seen.text() + ", device";
        for (const auto& s : stations_)
            why += " " + s->line.text() + (s == stations_.back() ? "" : ",");
    } else if (crc16(std::span(frame).first(frame.size() - 2)) !=
               uint16_t(frame[frame.size() - 2] | frame[frame.size() - 1] << 8)) {
        why = "bad CRC";
    } else {
        for (Station* s : listening)
            if (frame[0] == s->line.address)
                addressed.push_back(s);
        if (addressed.empty())
            why = "other address " + std::to_string(frame[0]);
    }
    if (!why.empty()) {
        journal_.note("ignored: " + why);
        ++ignored_;
        return;
    }

    std::vector<Plan> plans;
    for (Station* s : addressed)
        if (Plan p = prepare(*s, frame, complete); !p.silent)
            plans.push_back(std::move(p));
    if (plans.empty())
        return;
    Plan& p = plans.front();
    if (plans.size() > 1) {
        // Drivers fighting on the line: a 0 bit wins, as on most transceivers.
        journal_.note("collision: " + std::to_string(plans.size()) + " devices answer at once");
        for (size_t i = 1; i < plans.size(); ++i) {
            const std::vector<uint8_t>& other = plans[i].answer;
            p.answer.resize(std::max(p.answer.size(), other.size()), 0xFF);
            for (size_t k = 0; k < other.size(); ++k)
                p.answer[k] &= other[k];
            p.start = std::min(p.start, plans[i].start);
        }
        p.busy.clear();
    }
    const auto ct = p.station->line.char_time();
    Clock::time_point start = p.start;
    if (!p.busy.empty())
        start = send(std::move(p.busy), start, ct) + std::chrono::milliseconds(p.busy_ms);
    send(std::move(p.answer), start, ct);
    // New line settings take effect once their answer is out.
    const Request r = request_of(std::span(frame).subspan(1, frame.size() - 3));
    for (Plan& each : plans) {
        ++each.station->answered;
        if (each.acted)
            adopt_written_line(*each.station, r);
    }
}

Engine::Plan Engine::prepare(Station& s, const std::vector<uint8_t>& frame, Clock::time_point complete)
{
    const std::span<const uint8_t> request = std::span(frame).subspan(1, frame.size() - 3);
    const Mischief m = s.faults.take(request_of(request));
    Plan p;
    p.station = &s;
    if (m.silence) {
        journal_.note("fault: silence");
        p.silent = true;
        return p;
    }
    const uint8_t fc = frame[1];
    std::vector<uint8_t> body =
        m.exception ? exception_pdu(fc, uint8_t(m.exception)) : answer_pdu(s.device, request, complete);
    p.acted = !(body[0] & 0x80);
    p.start = complete + s.turnaround + std::chrono::milliseconds(m.slow_ms);
    if (m.busy_ms >= 0) {
        p.busy = rtu_frame(s.line.address, exception_pdu(fc, kBusy));
        p.busy_ms = m.busy_ms;
    }

    uint8_t address = s.line.address;
    if (m.wrong_address)
        address = uint8_t(address % 247 + 1);
    if (m.wrong_function)
        body[0] ^= 0x40;  // neither the request's function nor its exception form
    if (m.count_delta && p.acted) {
        // A read answer's byte count, or the low byte of the count a write answer echoes.
        uint8_t& count = fc == 16 ? body[4] : body[1];
        count = uint8_t(count + m.count_delta);
    }
    p.answer = rtu_frame(address, body);
    if (m.bad_crc)
        p.answer.back() ^= 0xFF;
    // An idle line that glitches reads as FF bytes.
    p.answer.insert(p.answer.end(), size_t(std::max(m.extra, 0)), 0xFF);
    if (m.truncate >= 0 && size_t(m.truncate) < p.answer.size())
        p.answer.resize(size_t(m.truncate));
    if (m.noise > 0) {
        std::uniform_int_distribution<int> byte(0, 254);
        std::vector<uint8_t> noise;
        for (int i = 0; i < m.noise; ++i) {
            const int b = byte(rng_);
            noise.push_back(uint8_t(b >= s.line.address ? b + 1 : b));  // never the address itself
        }
        p.answer.insert(p.answer.begin(), noise.begin(), noise.end());
    }
    return p;
}

Clock::time_point Engine::send(std::vector<uint8_t> bytes, Clock::time_point start, std::chrono::nanoseconds ct)
{
    const int fd = terminal_.fd();
    Clock::time_point end = start;
    if (terminal_.paces_itself()) {
        // A serial device paces the characters itself.
        sleep_until(start);
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        tcdrain(fd);
        end = Clock::now();
    } else if (whole_answers) {
        end = start + ct * bytes.size();
        sleep_until(end);
        if (::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            journal_.note("lost answer bytes: terminal full");
    } else {
        // Each byte is handed over when its last stop bit would have left the wire.
        size_t lost = 0;
        for (size_t i = 0; i < bytes.size(); ++i) {
            end = start + ct * (i + 1);
            sleep_until(end);
            if (::write(fd, &bytes[i], 1) != 1)
                ++lost;
        }
        if (lost)
            journal_.note("lost " + std::to_string(lost) + " answer bytes: terminal full");
    }
    journal_.frame("->", bytes);
    return end;
}

}  // namespace varnok::sim
