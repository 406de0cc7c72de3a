// Arbitrary bytes arriving in arbitrary pieces, with sub-millisecond delays between them,
// after a request, taken by the receive of an answer (in the normal timing and the fast
// exchange, by length) and the search probe's receive, under small time-outs chosen by the
// input. Properties: nothing is placed past the answer buffer; the frame taken is what
// arrived, from the address byte on, after at most five skipped bytes; the fast receive
// takes no more than the answer's length; the receive ends within its time-outs.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/link.h"
#include "modbus/exchange.h"
#include "ops/search_keys.h"
#include "targets.h"

namespace varnok::fuzz {

namespace {

using Clock = std::chrono::steady_clock;

struct Piece {
    std::chrono::microseconds delay;
    std::vector<uint8_t> bytes;
};

// What the far end sent, and how much of it the port took (what it left unread is not).
struct Feed {
    std::vector<Piece> pieces;
    bool hang_up = false;  // the far end closes after the last piece
    std::vector<uint8_t> sent;
    size_t taken = 0;
};

// The far end of a socket pair plays the device: once the request is written it sends the
// pieces, each after its delay.
class PiecesTransport : public Transport {
public:
    explicit PiecesTransport(std::shared_ptr<Feed> feed) : feed_(std::move(feed)) {}
    ~PiecesTransport() override { stop_feeding(); }

    int open(const std::string&, int& fd, WaitPump*) override
    {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
            return errno;
        fd = sv[0];
        far_ = sv[1];
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        return 0;
    }
    void close(int fd) override
    {
        stop_feeding();
        size_t left = 0;
        uint8_t junk[256];
        for (ssize_t r; (r = ::recv(fd, junk, sizeof junk, MSG_DONTWAIT)) > 0;)
            left += size_t(r);
        feed_->taken = feed_->sent.size() - std::min(left, feed_->sent.size());
        ::close(fd);
        ::close(far_);
        far_ = -1;
    }
    int get_state(int, Dcb& dcb) const override
    {
        dcb = line_;
        return 0;
    }
    int set_state(int, const Dcb& dcb) override
    {
        line_ = dcb;
        return 0;
    }
    int purge_input(int fd) override
    {
        uint8_t junk[256];
        while (::recv(fd, junk, sizeof junk, MSG_DONTWAIT) > 0) {
        }
        return 0;
    }
    ssize_t write_some(int, const uint8_t*, size_t n) override
    {
        if (!feeder_.joinable())
            feeder_ = std::thread([this] { feed(); });
        return ssize_t(n);
    }
    bool ends_broken() const override { return false; }

private:
    void feed()
    {
        for (const Piece& p : feed_->pieces) {
            std::this_thread::sleep_for(p.delay);
            if (stop_)
                return;
            if (!p.bytes.empty() &&
                ::send(far_, p.bytes.data(), p.bytes.size(), MSG_NOSIGNAL) == ssize_t(p.bytes.size()))
                feed_->sent.insert(feed_->sent.end(), p.bytes.begin(), p.bytes.end());
        }
        if (feed_->hang_up)
            ::shutdown(far_, SHUT_WR);
    }
    void stop_feeding()
    {
        stop_ = true;
        if (feeder_.joinable())
            feeder_.join();
    }

    std::shared_ptr<Feed> feed_;
    std::thread feeder_;
    std::atomic<bool> stop_{false};
    int far_ = -1;
    Dcb line_;
};

struct Quiet : Notices, Sleeper {
    void message_box(const std::string&, const std::string&) override {}
    void sleep_ms(unsigned) override {}
    void sleep_us(unsigned) override {}
};

// The X key, pressed (when asked) at the second query: during the receive, not before it.
struct Keys : KeyState {
    bool press = false;
    int queries = 0;
    bool pressed_since_last_query(int) override { return press && ++queries == 2; }
};

// The answer's length as the property sees it, apart from the rule the receive is given.
size_t expected_length(uint8_t function, uint8_t third)
{
    if (function & 0x80)
        return 5;
    if (function >= 1 && function <= 4)
        return 5 + size_t(third);
    return function == 16 ? 8 : 0;
}

}  // namespace

int link_receive(const uint8_t* data, size_t size)
{
    constexpr size_t kHeader = 7;
    if (size < kHeader)
        return 0;
    const uint8_t flags = data[0];
    const bool fast = flags & 0x01;
    const int receiver = (flags >> 1) & 0x03;  // 0 answer, 1 answer after a write, 2 and 3 probe
    const bool probe = receiver >= 2;
    const uint8_t kol_wait_bytes = (flags & 0x40) ? data[1] : data[1] % 16;
    const uint8_t sys_num = data[2];
    const uint16_t interval = data[3] % 4, multiplier = (data[3] >> 2) % 2, constant = 1 + (data[3] >> 3) % 8;
    const unsigned settle = receiver == 1 ? data[4] % 8 : 0;
    const uint16_t probe_wait = (data[4] >> 3) % 8;
    const uint8_t code = data[5] % 7;
    const int32_t speeds[] = {scor[code], 1, 230400, 0};
    const int32_t speed = speeds[(data[5] >> 3) % 4];

    auto feed = std::make_shared<Feed>();
    feed->hang_up = flags & 0x10;
    for (size_t at = kHeader; at < size;) {
        const uint8_t c = data[at++];
        const size_t n = std::min<size_t>(c >> 4, size - at);
        feed->pieces.push_back({std::chrono::microseconds(50 * (c & 0x0F)), {data + at, data + at + n}});
        at += n;
    }

    Quiet quiet;
    Keys keys;
    keys.press = probe && (flags & 0x08);
    KeyStop x_stop(keys, kKeyX);
    PortMap ports;
    ports.set(1, "fuzz");
    Link link(quiet, quiet, ports);
    link.set_fast_exchange(fast);
    link.set_fast_probe_wait(probe_wait);
    link.set_sys_num(sys_num);
    link.set_speed_code(code);
    link.set_parity(data[6] % 3);
    link.set_stopbit(1 + (data[6] >> 2) % 2);
    if (flags & 0x20)
        link.expect_late_answer();
    link.set_timeouts({interval, multiplier, constant, 0, 0});
    link.use_transport(std::make_unique<PiecesTransport>(feed));
    if (link.init_com_port_new("COM1", speed, link.settings().parity, link.settings().stopbit, 8) != 0)
        return 0;

    // The answer's buffer ends the result it comes in, which the sanitizer guards as any
    // object on the stack: a byte placed past it is seen.
    Frame request{};
    const std::array<uint8_t, 8> probe_request = {5, 3, 8, 0, 0, 1, 0x87, 0xEE};
    std::copy(probe_request.begin(), probe_request.end(), request.begin() + 1);
    Received r;
    bool aborted = false;
    const auto start = Clock::now();
    link.tuda(request, 8);
    if (probe) {
        r = link.suda_probe({sys_num, 7, answer_length}, &x_stop);
        aborted = r.stopped;
    } else {
        r = link.suda({sys_num, kol_wait_bytes, answer_length, settle});
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    link.close_port();

    // Six one-byte reads; the rest by its count, after its allowance in the fast exchange; a
    // probe's wait for the line time of 16 characters at the slowest speed; and a second to
    // spare for a busy machine.
    const uint8_t c = code < t_allow.size() ? code : 0;
    const long long allowance = fast ? t_allow[c] * (probe ? 6 : kol_wait_bytes) : 0;
    const long long budget = 6LL * (multiplier + constant) + settle + allowance + multiplier * 64LL + constant +
                             (probe && fast ? probe_wait + 16 * 3 : 0);
    expect(took.count() <= budget + 1000, "the receive outlasted its time-outs");

    expect(!aborted || (probe && keys.press && link.pr_out() == 1), "an abort nobody asked for");
    if (aborted)
        return 0;
    const uint8_t kpb = r.kpb;
    const Frame* buf = &r.buf;
    expect(r.pr_out <= 2, "an outcome of the hunt outside 0..2");
    expect(r.pr_out == link.pr_out(), "the outcome told is not the one kept");
    expect((*buf)[0] == 0, "position 0 of the answer was written");
    expect(kpb < kFrameSize, "more answer bytes than the buffer holds");
    const std::vector<uint8_t>& sent = feed->sent;
    const size_t taken = feed->taken;
    expect(taken <= sent.size(), "more was taken than arrived");

    // The bytes in the buffer are the last ones taken, as they arrived.
    const bool answer_taken = r.pr_out == 0 || (!probe && r.pr_out == 1);
    const bool last_byte_only = r.pr_out == 2 && kpb == 1;
    if (answer_taken || last_byte_only) {
        expect(kpb <= taken, "the frame holds bytes that never arrived");
        if (kpb <= taken)
            expect(std::equal(buf->begin() + 1, buf->begin() + 1 + kpb, sent.begin() + long(taken - kpb)),
                   "the frame is not what arrived");
    }
    if (answer_taken) {
        expect(kpb >= 1 && (*buf)[1] == sys_num, "an answer taken without its address byte");
        expect(taken - std::min<size_t>(kpb, taken) <= (r.pr_out == 0 ? 2u : 5u), "too many bytes skipped");
        const size_t asked = probe ? 6 : std::min<size_t>(kol_wait_bytes, kFrameSize - 2);
        expect(kpb <= asked + 1, "more taken than was asked for");
        if (fast && kpb >= 3)
            if (const size_t length = expected_length((*buf)[2], (*buf)[3]); length != 0)
                expect(kpb <= length, "the fast receive took more than the answer's length");
    }
    if (r.pr_out == 2)
        expect(kpb <= 1, "no answer, yet more than one byte");
    if (probe && r.pr_out == 1)
        expect(kpb <= 2, "a probe without an answer placed more than one byte");
    return 0;
}

}  // namespace varnok::fuzz
