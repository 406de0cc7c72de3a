// A port mapped to tcp://: one deadline for the name's lookup and every connection attempt,
// the window pumped meanwhile, the resolver's own reason when a name is not found; a write to
// a converter that stopped reading, which ends and breaks the connection; a peer that never
// stops sending, let go once; and a stop that ends the port's waits.
#include <arpa/inet.h>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <thread>
#include <future>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <unistd.h>

#include "link/link_fixture.h"
#include "link/tcp.h"
#include "support/flooding_peer.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct CountingPump : WaitPump {
    void pump() override { ++count; }
    int count = 0;
};

// A lookup that answers only when released (or after a minute), as a resolver with no
// server to ask.
struct HeldLookup {
    std::mutex m;
    std::condition_variable cv;
    bool released = false;
    void release()
    {
        const std::lock_guard<std::mutex> hold(m);
        released = true;
        cv.notify_all();
    }
};

class TcpPort : public LinkOnPty {
protected:
    TcpPort() { link.set_wait_pump(&pump); }

    // COM3 goes to `where`, through a transport whose lookup is `lookup`.
    std::chrono::milliseconds set_up(const std::string& where, NameLookup lookup)
    {
        ports.set(3, where);
        link.set_port(3);
        link.use_transport(std::make_unique<TcpTransport>(std::move(lookup)));
        const auto start = Clock::now();
        link.vich_timeout(2);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }
    std::string reason() const { return notices.boxes.empty() ? std::string() : notices.boxes.back().informative; }

    CountingPump pump;
};

// A loopback listener on a free port; `rcvbuf`, when given, is the receive buffer of the
// connections it takes.
struct Listener {
    explicit Listener(int rcvbuf = 0, int backlog = 4)
    {
        if (rcvbuf != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, backlog) == 0 &&
             ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    }
    ~Listener() { ::close(fd); }
    std::string where() const { return "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port)); }

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    bool ok = false;
};

TEST_F(TcpPort, ALookupThatDoesNotEndFailsAtTheDeadlineWithTheWindowPumped)
{
    const auto held = std::make_shared<HeldLookup>();
    const auto took =
        set_up("tcp://slow.example:502", [held](const std::string&, const std::string&, std::vector<Address>&) {
            std::unique_lock<std::mutex> hold(held->m);
            held->cv.wait_for(hold, 60s, [&] { return held->released; });
            return EAI_AGAIN;
        });
    held->release();
    EXPECT_GE(took, 3000ms);
    EXPECT_LT(took, 30s) << "the opening waited for the lookup";
    EXPECT_NE(link.dw(), 0u);
    EXPECT_FALSE(link.hcom().is_open());
    EXPECT_EQ(notices.boxes.size(), 1u);
    EXPECT_NE(reason().find("tcp://slow.example:502\nоткрытие tcp://slow.example:502: поиск адреса slow.example: нет "
                            "ответа за 3 с"),
              std::string::npos)
        << reason();
    EXPECT_GE(pump.count, 10);
}

TEST_F(TcpPort, AddressesThatDoNotAnswerShareOneDeadline)
{
    // A listener whose one place in the queue is taken: connections to it are never made.
    const Listener full(0, 0);
    ASSERT_TRUE(full.ok);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = full.a;
    ASSERT_EQ(::connect(filler, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);

    const auto took =
        set_up("tcp://twelve.example:502", [a](const std::string&, const std::string&, std::vector<Address>& found) {
            Address x;
            x.family = AF_INET;
            x.socktype = SOCK_STREAM;
            std::memcpy(&x.addr, &a, sizeof a);
            x.len = sizeof a;
            found.assign(12, x);
            return 0;
        });
    ::close(filler);
    EXPECT_GE(took, 3000ms);
    EXPECT_LT(took, 30s) << "each address had a deadline of its own";
    EXPECT_NE(link.dw(), 0u);
    EXPECT_NE(reason().find("Connection timed out"), std::string::npos) << reason();
    EXPECT_GE(pump.count, 10);
}

TEST_F(TcpPort, ANameNotFoundIsToldInTheResolversWords)
{
    set_up("tcp://nowhere.example:502",
           [](const std::string&, const std::string&, std::vector<Address>&) { return EAI_NONAME; });
    EXPECT_NE(link.dw(), 0u);
    EXPECT_NE(
        reason().find("открытие tcp://nowhere.example:502: поиск адреса nowhere.example: Name or service not known"),
        std::string::npos)
        << reason();
}

TEST_F(TcpPort, AWriteToAConverterThatStoppedReadingEndsAndTheBreakIsToldOnce)
{
    const Listener peer(2048);
    ASSERT_TRUE(peer.ok);
    set_up(peer.where(), system_lookup);
    ASSERT_EQ(link.dw(), 0u) << link.last_failure();
    const int conn = ::accept(peer.fd, nullptr, nullptr);  // and never read
    ASSERT_GE(conn, 0);

    // Frames go out until the buffers of both ends are full and a write cannot end.
    Frame ozuper{};
    ozuper.fill(0x55);
    auto sending = std::async(std::launch::async, [&] {
        Clock::duration last{};
        for (int i = 0; i < 1'000'000 && notices.boxes.empty(); ++i) {
            const auto start = Clock::now();
            link.tuda(ozuper, 63);
            last = Clock::now() - start;
        }
        return last;
    });
    const bool ended = sending.wait_for(20s) == std::future_status::ready;
    ::close(conn);  // lets a write that never ends fail, so that the test ends
    const auto last = sending.get();
    ASSERT_TRUE(ended) << "a write waited 20 s for a peer that does not read";
    EXPECT_GE(last, 1000ms);
    EXPECT_LT(last, 10s);

    for (int i = 0; i < 3; ++i) {
        link.tuda(ozuper, 8);
        EXPECT_EQ(link.suda({5, 7}).pr_out, 2);
    }
    ASSERT_EQ(notices.boxes.size(), 2u);
    EXPECT_EQ(notices.boxes[0].text, "ошибка передачи= " + std::to_string(ETIMEDOUT));
    EXPECT_EQ(notices.boxes[1].text, "ошибка настройки порта ");
    EXPECT_NE(notices.boxes[1].informative.find("соединение разорвано"), std::string::npos)
        << notices.boxes[1].informative;
    EXPECT_FALSE(link.hcom().is_open());
}

// The set-up of a session and of the port button opens the port twice; a connection that was
// not made is not tried again, so that it fails in the time the guide gives, not twice that.
TEST_F(TcpPort, ASetUpThatCannotConnectTriesOnce)
{
    const auto held = std::make_shared<HeldLookup>();
    const auto calls = std::make_shared<std::atomic<int>>(0);
    ports.set(3, "tcp://slow.example:502");
    link.set_port(3);
    link.use_transport(std::make_unique<TcpTransport>([held, calls](const std::string&, const std::string&,
                                                                    std::vector<Address>&) {
        ++*calls;
        std::unique_lock<std::mutex> hold(held->m);
        held->cv.wait_for(hold, 60s, [&] { return held->released; });
        return EAI_AGAIN;
    }));
    const auto start = Clock::now();
    link.set_up_port();
    const auto took = Clock::now() - start;
    held->release();
    EXPECT_EQ(*calls, 1);
    EXPECT_GE(took, 3000ms);
    EXPECT_NE(link.dw(), 0u);
    EXPECT_EQ(notices.boxes.size(), 1u);
}

struct StopFlag : StopRequest {
    bool requested() const override { return on; }
    std::atomic<bool> on{false};
};

// A peer that sends without a pause once it has a request: the next transmit's purge gives up
// after its time and lets the connection go, told once; what follows fails at once.
TEST_F(TcpPort, APeerThatNeverStopsSendingIsToldOnceAndLetGo)
{
    auto peer = std::make_unique<FloodingPeer>();
    ASSERT_FALSE(peer->where().empty());
    set_up(peer->where(), system_lookup);
    ASSERT_EQ(link.dw(), 0u) << link.last_failure();
    Frame ozuper{};
    ozuper.fill(0x11);
    // A busy machine may keep the peer from sending for a while: each exchange gives it a chance.
    auto exchanges = std::async(std::launch::async, [&] {
        for (int i = 0; i < 50 && notices.boxes.empty(); ++i) {
            link.tuda(ozuper, 8);
            link.suda({5, 7});
        }
        for (int i = 0; i < 3; ++i) {
            link.tuda(ozuper, 8);
            link.suda({5, 7});
        }
    });
    const bool ended = exchanges.wait_for(30s) == std::future_status::ready;
    if (!ended)
        peer.reset();  // the flood stops, and with it a purge that would read for ever
    exchanges.get();
    ASSERT_TRUE(ended) << "the exchanges read the flood for 30 s";
    EXPECT_GE(peer->sent(), 1 << 16);
    EXPECT_EQ(link.hcom().broken(), kLineNotQuiet);
    EXPECT_FALSE(link.hcom().is_open());
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "ошибка настройки порта ");
    EXPECT_EQ(notices.boxes[0].informative,
              peer->where() + "\nлиния не умолкает: байты идут без перерыва дольше 250 мс, соединение закрыто\n"
                              "Подключиться снова: «инициализация СОМпорта».");
    // The button connects again, to the same flood, which is told again.
    link.set_up_port();
    EXPECT_EQ(link.dw(), 0u);
    for (int i = 0; i < 50 && notices.boxes.size() < 2; ++i) {
        link.tuda(ozuper, 8);
        link.suda({5, 7});
    }
    EXPECT_EQ(notices.boxes.size(), 2u);
}

// A stop ends a read whose time-outs run long, and a connection being made.
TEST_F(TcpPort, AStopEndsTheWaitsOfThePort)
{
    StopFlag stop;
    link.set_stop(&stop);
    const FloodingPeer silent(false);
    set_up(silent.where(), system_lookup);
    ASSERT_EQ(link.dw(), 0u) << link.last_failure();
    link.set_timeouts({0, 0, 10000, 0, 0});
    link.init_com_port_new();  // the same connection, with the long time-outs
    ASSERT_EQ(link.dw(), 0u);
    Frame ozuper{};
    ozuper.fill(0x11);
    link.tuda(ozuper, 8);
    std::thread stopper([&] {
        // Once the request is out the read waits for its answer; a deadline all the same.
        for (const auto until = Clock::now() + 10s; silent.requests() < 1 && Clock::now() < until;)
            std::this_thread::sleep_for(5ms);
        stop.on = true;
    });
    auto start = Clock::now();
    const Received r = link.suda({5, 7});
    auto took = Clock::now() - start;
    stopper.join();
    EXPECT_EQ(r.pr_out, 2);
    EXPECT_LT(took, 5s) << "six reads of 10 s each were not cut short";
    EXPECT_TRUE(link.hcom().is_open()) << "a stop is no broken connection";

    const auto held = std::make_shared<HeldLookup>();
    took = set_up("tcp://slow.example:502", [held](const std::string&, const std::string&, std::vector<Address>&) {
        std::unique_lock<std::mutex> hold(held->m);
        held->cv.wait_for(hold, 60s, [&] { return held->released; });
        return EAI_AGAIN;
    });
    held->release();
    EXPECT_LT(took, 2500ms) << "the opening waited out its 3 s";
    EXPECT_NE(reason().find("поиск адреса slow.example: прервано"), std::string::npos) << reason();
}

}  // namespace
}  // namespace varnok::test
