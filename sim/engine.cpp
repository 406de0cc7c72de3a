#include "sim/engine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include "modbus/crc.h"

namespace varnok::sim {

const std::array<FaultInfo, 11> kFaultKinds = {{
    {FaultKind::Silence, "silence", nullptr, 0, 0, 0, "no answer; the request is not acted on"},
    {FaultKind::Noise, "noise", "COUNT", 2, 1, 64, "COUNT noise bytes (never the device address) before the answer"},
    {FaultKind::BadCrc, "crc", nullptr, 0, 0, 0, "the answer's CRC is wrong"},
    {FaultKind::WrongAddress, "address", nullptr, 0, 0, 0, "the answer carries another device address (CRC right)"},
    {FaultKind::WrongFunction, "function", nullptr, 0, 0, 0, "the answer carries another function code (CRC right)"},
    {FaultKind::Exception, "exception", "CODE", 4, 1, 255, "exception CODE instead of the answer; the request is not acted on"},
    {FaultKind::Busy, "busy", "MS", 100, 0, 10000, "exception 5 (busy), then MS later the real answer, unasked"},
    {FaultKind::Truncate, "truncate", "K", 3, 0, 255, "only the first K bytes of the answer"},
    {FaultKind::Slow, "slow", "MS", 100, 0, 10000, "the answer starts MS later than usual"},
    {FaultKind::Long, "long", "COUNT", 2, 1, 64, "COUNT stray FF bytes right after the answer"},
    {FaultKind::Count, "count", "DELTA", 2, -255, 255,
     "the byte count of a read answer, or the count a write answer echoes, is off by DELTA (CRC right)"},
}};

const FaultInfo* find_fault(const std::string& name)
{
    for (const auto& f : kFaultKinds)
        if (name == f.name)
            return &f;
    return nullptr;
}

const FaultInfo& fault_info(FaultKind kind)
{
    for (const auto& f : kFaultKinds)
        if (f.kind == kind)
            return f;
    return kFaultKinds[0];
}

Request request_of(std::span<const uint8_t> pdu)
{
    Request r;
    r.function = pdu.empty() ? 0 : pdu[0];
    const bool ranged = r.function == 1 || r.function == 2 || r.function == 3 || r.function == 4 || r.function == 16;
    if (ranged && pdu.size() >= 5) {
        r.has_range = true;
        r.start = uint16_t(pdu[1] << 8 | pdu[2]);
        r.count = uint16_t(pdu[3] << 8 | pdu[4]);
    }
    return r;
}

bool Fault::aims_at(const Request& r) const
{
    if (function && r.function != function)
        return false;
    return address < 0 || (r.has_range && r.start <= address && address < int(r.start) + r.count);
}

void Faults::add(const Fault& f)
{
    std::erase_if(list_, [&f](const Fault& o) { return o.same_aim(f); });
    list_.push_back(f);
}

bool Faults::clear(FaultKind kind)
{
    const auto n = std::erase_if(list_, [kind](const Fault& f) { return f.kind == kind; });
    return n != 0;
}

Mischief Faults::take(const Request& r)
{
    Mischief m;
    for (Fault& f : list_) {
        if (!f.aims_at(r))
            continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        apply(m, f.kind, f.arg);
        if (f.remaining > 0)
            --f.remaining;
    }
    std::erase_if(list_, [](const Fault& f) { return f.remaining == 0; });
    if (random_percent_ > 0 && std::uniform_real_distribution<double>(0, 100)(random_rng_) < random_percent_) {
        const auto kind = FaultKind(std::uniform_int_distribution<int>(0, int(kFaultKinds.size()) - 1)(random_rng_));
        int arg = fault_info(kind).default_arg;
        if (kind == FaultKind::Exception)
            arg = std::uniform_int_distribution<int>(1, 4)(random_rng_);
        else if (kind == FaultKind::Slow)
            arg = std::uniform_int_distribution<int>(0, 500)(random_rng_);
        apply(m, kind, arg);
    }
    count(m);
    return m;
}

void Faults::apply(Mischief& m, FaultKind kind, int arg)
{
    switch (kind) {
    case FaultKind::Silence: m.silence = true; break;
    case FaultKind::Noise: m.noise = arg; break;
    case FaultKind::BadCrc: m.bad_crc = true; break;
    case FaultKind::WrongAddress: m.wrong_address = true; break;
    case FaultKind::WrongFunction: m.wrong_function = true; break;
    case FaultKind::Exception: m.exception = arg; break;
    case FaultKind::Busy: m.busy_ms = arg; break;
    case FaultKind::Truncate: m.truncate = arg; break;
    case FaultKind::Slow: m.slow_ms = arg; break;
    case FaultKind::Long: m.extra = arg; break;
    case FaultKind::Count: m.count_delta = arg; break;
    }
}

void Faults::count(const Mischief& m)
{
    const bool spoilt[] = {m.silence,        m.noise > 0,       m.bad_crc,   m.wrong_address,
                           m.wrong_function, m.exception != 0,  m.busy_ms >= 0, m.truncate >= 0,
                           m.slow_ms > 0,    m.extra > 0,       m.count_delta != 0};
    for (size_t k = 0; k < injected_.size(); ++k)
        injected_[k] += spoilt[k] ? 1 : 0;
}

void Faults::set_random(double percent, uint32_t seed)
{
    random_percent_ = percent;
    random_rng_.seed(seed);
}

// ---------------------------------------------------------------- terminal

namespace {

struct Speed {
    uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {{4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},
                             {57600, B57600}, {115200, B115200}, {1200, B1200}, {2400, B2400},
                             {230400, B230400}};

speed_t speed_code(uint32_t baud)
{
    for (const auto& s : kSpeeds)
        if (s.baud == baud)
            return s.code;
    return B9600;
}

uint32_t baud_of(speed_t code)
{
    for (const auto& s : kSpeeds)
        if (s.code == code)
            return s.baud;
    return 0;
}

void set_line_bits(termios& t, const LineSettings& line)
{
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CRTSCTS | PARENB | PARODD | CSTOPB);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (line.parity) {
        t.c_cflag |= PARENB | (line.parity == 1 ? PARODD : 0);
        t.c_iflag |= INPCK | IGNPAR;  // a character with a parity error is dropped
    }
    if (line.stop_bits == 2)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed_code(line.baud()));
    cfsetospeed(&t, speed_code(line.baud()));
}

std::string os_error(const std::string& what) { return what + ": " + std::strerror(errno); }

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

Terminal::~Terminal() { close(); }

void Terminal::close()
{
    if (listener_ >= 0)
        ::close(listener_);
    if (keeper_ >= 0)
        ::close(keeper_);
    if (fd_ >= 0)
        ::close(fd_);
    listener_ = keeper_ = fd_ = -1;
}

std::string Terminal::open_pty(const LineSettings& initial)
{
    close();
    kind_ = Kind::pty;
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return os_error("posix_openpt");
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0)
        return os_error("unlockpt");
    const char* name = ptsname(fd_);
    if (!name)
        return os_error("ptsname");
    path_ = name;
    keeper_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (keeper_ < 0)
        return os_error("open " + path_);
    // The terminal starts raw, at the device's own line.
    termios t{};
    if (tcgetattr(keeper_, &t) != 0)
        return os_error("tcgetattr");
    set_line_bits(t, initial);
    if (tcsetattr(keeper_, TCSANOW, &t) != 0)
        return os_error("tcsetattr");
    return {};
}

std::string Terminal::open_device(const std::string& path, const LineSettings& line)
{
    close();
    kind_ = Kind::device;
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return os_error("open " + path);
    if (!isatty(fd_))
        return path + " is not a terminal";
    return configure(line);
}

std::string Terminal::open_tcp(uint16_t port, const LineSettings& line)
{
    close();
    kind_ = Kind::tcp;
    configured_ = line;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return os_error("socket");
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return os_error("listen on 127.0.0.1:" + std::to_string(port));
    path_ = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    return {};
}

int Terminal::accept_master()
{
    // Every connection waiting is taken, so that each is counted when it comes; the last one
    // stays.
    int taken = 0;
    for (;;) {
        const int c = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c < 0)
            return taken;
        drop_master();
        const int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        fd_ = c;
        ++taken;
    }
}

void Terminal::drop_master()
{
    if (kind_ != Kind::tcp || fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}

std::string Terminal::configure(const LineSettings& line)
{
    if (kind_ == Kind::tcp)
        configured_ = line;
    if (kind_ != Kind::device)
        return {};
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return os_error("tcgetattr " + path_);
    set_line_bits(t, line);
    if (tcsetattr(fd_, TCSADRAIN, &t) != 0)
        return os_error("tcsetattr " + path_);
    tcflush(fd_, TCIFLUSH);
    configured_ = line;
    return {};
}

bool Terminal::line_seen(TerminalLine& line) const
{
    if (kind_ != Kind::pty) {
        line = {configured_.baud(), configured_.parity, configured_.stop_bits};
        return true;
    }
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return false;
    line.baud = baud_of(cfgetospeed(&t));
    line.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
    // The kernel clears PARENB of a pseudo-terminal but keeps PARODD and CMSPAR, and the
    // input check INPCK that a master turns on with parity: that tells even from none.
    if (t.c_cflag & CMSPAR)
        line.parity = (t.c_cflag & PARODD) ? TerminalLine::kMark : TerminalLine::kSpace;
    else if (t.c_cflag & PARODD)
        line.parity = 1;
    else
        line.parity = (t.c_iflag & INPCK) ? 2 : 0;
    return true;
}

// ---------------------------------------------------------------- frame log

FrameJournal::~FrameJournal()
{
    if (own_ && f_)
        std::fclose(f_);
}

std::string FrameJournal::open(const std::string& where)
{
    if (where == "-") {
        f_ = stderr;
        return {};
    }
    f_ = std::fopen(where.c_str(), "a");
    if (!f_)
        return os_error("open " + where);
    own_ = true;
    return {};
}

void FrameJournal::stamp()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char s[32];
    std::strftime(s, sizeof s, "%H:%M:%S", &local);
    std::fprintf(f_, "%s.%06ld ", s, long(tv.tv_usec));
}

void FrameJournal::frame(const char* direction, std::span<const uint8_t> bytes)
{
    if (!f_)
        return;
    stamp();
    std::fputs(direction, f_);
    for (const uint8_t b : bytes)
        std::fprintf(f_, " %02X", unsigned(b));
    std::fputc('\n', f_);
    std::fflush(f_);
}

void FrameJournal::note(const std::string& text)
{
    if (!f_)
        return;
    stamp();
    std::fprintf(f_, "%s\n", text.c_str());
    std::fflush(f_);
}

// ---------------------------------------------------------------- protocol

size_t request_length(std::span<const uint8_t> head)
{
    if (head.size() < 2)
        return 0;
    const uint8_t fc = head[1];
    if (fc >= 1 && fc <= 4)
        return 8;
    if (fc == 16)
        return head.size() < 7 ? 0 : 9 + size_t(head[6]);
    return kEndsAtSilence;
}

std::vector<uint8_t> rtu_frame(uint8_t address, std::span<const uint8_t> pdu)
{
    std::vector<uint8_t> f;
    f.reserve(pdu.size() + 3);
    f.push_back(address);
    f.insert(f.end(), pdu.begin(), pdu.end());
    const uint16_t crc = crc16(f);
    f.push_back(uint8_t(crc));
    f.push_back(uint8_t(crc >> 8));
    return f;
}

namespace {

uint16_t word_at(std::span<const uint8_t> p, size_t i) { return uint16_t(p[i] << 8 | p[i + 1]); }

std::vector<uint8_t> exception_pdu(uint8_t fc, uint8_t code) { return {uint8_t(fc | 0x80), code}; }

}  // namespace

std::vector<uint8_t> answer_pdu(SimulatedDevice& device, std::span<const uint8_t> pdu, Clock::time_point now)
{
    const uint8_t fc = pdu.empty() ? 0 : pdu[0];
    const bool known = fc == 1 || fc == 2 || fc == 3 || fc == 4 || fc == 16;
    if (!known)
        return exception_pdu(fc, kIllegalFunction);
    if (pdu.size() < 5 || (fc == 16 && pdu.size() < 6))
        return exception_pdu(fc, kIllegalValue);
    const uint16_t start = word_at(pdu, 1);
    const uint16_t count = word_at(pdu, 3);

    if (fc == 1 || fc == 2) {
        std::vector<bool> bits;
        const uint8_t e = fc == 1 ? device.read_coils(start, count, bits, now) : device.read_discrete(start, count, bits);
        if (e)
            return exception_pdu(fc, e);
        std::vector<uint8_t> out{fc, uint8_t((bits.size() + 7) / 8)};
        out.resize(2 + out[1], 0);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i])
                out[2 + i / 8] |= uint8_t(1u << (i % 8));
        return out;
    }
    if (fc == 3 || fc == 4) {
        std::vector<uint16_t> regs;
        const uint8_t e = fc == 3 ? device.read_holding(start, count, regs) : device.read_input(start, count, regs, now);
        if (e)
            return exception_pdu(fc, e);
        std::vector<uint8_t> out{fc, uint8_t(2 * regs.size())};
        for (const uint16_t r : regs) {
            out.push_back(uint8_t(r >> 8));
            out.push_back(uint8_t(r));
        }
        return out;
    }
    // Function 16: the byte count must be that of the registers, and all must be there.
    const uint8_t byte_count = pdu[5];
    if (count < 1 || count > 123 || byte_count != 2 * count || pdu.size() != 6u + byte_count)
        return exception_pdu(fc, kIllegalValue);
    std::vector<uint16_t> values;
    for (size_t i = 0; i < count; ++i)
        values.push_back(word_at(pdu, 6 + 2 * i));
    if (const uint8_t e = device.write_holding(start, values))
        return exception_pdu(fc, e);
    return {fc, pdu[1], pdu[2], pdu[3], pdu[4]};
}

// ---------------------------------------------------------------- engine

std::string TerminalLine::text() const
{
    return std::to_string(baud) + " bit/s 8" + parity_letter(parity) + std::to_string(stop_bits);
}

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
    for (uint32_t a = std::max<uint32_t>(r.start, kAddressReg); a < uint32_t(r.start) + r.count && a <= kStopBitsReg; ++a)
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
    } else if (crc16(std::span(frame).first(frame.size() - 2)) != uint16_t(frame[frame.size() - 2] | frame[frame.size() - 1] << 8)) {
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
    std::vector<uint8_t> body = m.exception ? exception_pdu(fc, uint8_t(m.exception)) : answer_pdu(s.device, request, complete);
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
