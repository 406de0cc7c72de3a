// Opening a port mapped to tcp://: one deadline for the name's lookup and every connection
// attempt, the window pumped meanwhile, and the resolver's own reason when a name is not found.
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <unistd.h>

#include "link/link_fixture.h"
#include "link/tcp.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct CountingPump : WaitPump {
    void pump() override { ++count; }
    int count = 0;
};

// A lookup that answers only when released (or after half a minute), as a resolver with no
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

class TcpOpening : public LinkOnPty {
protected:
    TcpOpening() { link.waiting = &pump; }

    // COM3 goes to `where`, through a transport whose lookup is `lookup`.
    std::chrono::milliseconds set_up(const std::string& where, NameLookup lookup)
    {
        ports.set(3, where);
        link.name_comport = "COM3";
        link.num_name_comport = 3;
        link.hcom.use_transport(std::make_unique<TcpTransport>(std::move(lookup)));
        const auto start = Clock::now();
        link.vich_timeout(2, 32);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }
    std::string reason() const { return notices.boxes.empty() ? std::string() : notices.boxes.back().informative; }

    CountingPump pump;
};

TEST_F(TcpOpening, ALookupThatDoesNotEndFailsAtTheDeadlineWithTheWindowPumped)
{
    const auto held = std::make_shared<HeldLookup>();
    const auto took = set_up("tcp://slow.example:502", [held](const std::string&, const std::string&, std::vector<Address>&) {
        std::unique_lock<std::mutex> hold(held->m);
        held->cv.wait_for(hold, 30s, [&] { return held->released; });
        return EAI_AGAIN;
    });
    held->release();
    EXPECT_GE(took, 3000ms);
    EXPECT_LT(took, 10s) << "the opening waited for the lookup";
    EXPECT_NE(link.dw, 0u);
    EXPECT_FALSE(link.hcom.is_open());
    EXPECT_EQ(notices.boxes.size(), 1u);
    EXPECT_NE(reason().find("tcp://slow.example:502\nоткрытие tcp://slow.example:502: поиск адреса slow.example: нет "
                            "ответа за 3 с"),
              std::string::npos)
        << reason();
    EXPECT_GE(pump.count, 10);
}

TEST_F(TcpOpening, AddressesThatDoNotAnswerShareOneDeadline)
{
    // A listener whose one place in the queue is taken: connections to it are never made.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    const auto took = set_up("tcp://five.example:502", [a](const std::string&, const std::string&, std::vector<Address>& found) {
        Address x;
        x.family = AF_INET;
        x.socktype = SOCK_STREAM;
        std::memcpy(&x.addr, &a, sizeof a);
        x.len = sizeof a;
        found.assign(5, x);
        return 0;
    });
    ::close(filler);
    ::close(listener);
    EXPECT_GE(took, 3000ms);
    EXPECT_LT(took, 10s) << "each address had a deadline of its own";
    EXPECT_NE(link.dw, 0u);
    EXPECT_NE(reason().find("Connection timed out"), std::string::npos) << reason();
    EXPECT_GE(pump.count, 10);
}

TEST_F(TcpOpening, ANameNotFoundIsToldInTheResolversWords)
{
    set_up("tcp://nowhere.example:502", [](const std::string&, const std::string&, std::vector<Address>&) {
        return EAI_NONAME;
    });
    EXPECT_NE(link.dw, 0u);
    EXPECT_NE(reason().find("открытие tcp://nowhere.example:502: поиск адреса nowhere.example: Name or service not known"),
              std::string::npos)
        << reason();
}

}  // namespace
}  // namespace varnok::test
