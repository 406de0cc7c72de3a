// The simulator's line behaviour seen from a plain descriptor on its terminal: answer
// timing, request framing, and the control channel around it.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "sim/sim_fixture.h"
#include "support/pty.h"
#include "support/raw_line.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

const Bytes kReadScale = with_crc({5, 3, 0, 0x20, 0, 3});  // an 11-byte answer

struct Pace {
    uint32_t baud;
    speed_t code;
    int turnaround_ms;
    int slow_ms;
};

class AnswerTiming : public ::testing::TestWithParam<Pace> {};

// Only what load cannot break: no byte comes before the line could have carried it. The
// figures themselves are measured by bench/line_timing.
TEST_P(AnswerTiming, NoByteComesBeforeTheTurnaroundAndItsCharacterTimes)
{
    const Pace& p = GetParam();
    SimProcess sim({"--speed", std::to_string(p.baud), "--turnaround", std::to_string(p.turnaround_ms)});
    RawLine line(sim.path(), p.code);
    const double ct = 10'000.0 / p.baud;  // ms: start, 8 data, 1 stop
    if (p.slow_ms) {
        ASSERT_EQ(sim.command("fault slow " + std::to_string(p.slow_ms) + " always"), "ok");
    }
    for (int n = 0; n < 3; ++n) {
        const auto sent = line.send(kReadScale);
        const auto got = line.receive(11, 2s);
        ASSERT_EQ(got.size(), 11u);
        for (size_t i = 0; i < got.size(); ++i) {
            // Byte i is handed over as its stop bit ends.
            const double earliest = p.turnaround_ms + p.slow_ms + double(i + 1) * ct;
            EXPECT_GE(Ms(got[i].second - sent).count(), earliest - 0.1) << p.baud << " byte " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Speeds, AnswerTiming,
                         ::testing::Values(Pace{9600, B9600, 5, 0}, Pace{38400, B38400, 2, 0},
                                           Pace{9600, B9600, 5, 20}));

// As a USB adapter delivers it: the whole answer at once, not before its last byte is due.
TEST(WholeAnswers, AnAnswerComesInOnePieceWhenItsLastByteIsDue)
{
    SimProcess sim({"--whole-answers"});
    RawLine line(sim.path(), B9600);
    const auto sent = line.send(kReadScale);
    const auto got = line.receive(11, 2s);
    ASSERT_EQ(got.size(), 11u);
    EXPECT_EQ(got.front().second, got.back().second) << "one read took it all";
    EXPECT_GE(Ms(got.front().second - sent).count(), 5 + 11 * 10'000.0 / 9600 - 0.1);
}

TEST(RequestFraming, APartialRequestIsDroppedAfterSilenceAndTheNextOneAnswered)
{
    // At 4800 bit/s a request may pause up to 3.5 characters (7.3 ms) inside itself.
    SimProcess sim({"--speed", "4800"});
    RawLine line(sim.path(), B4800);
    auto answer_of = [&](size_t want) {
        auto got = line.receive(want, 2s);
        EXPECT_TRUE(line.receive(1, 20ms).empty()) << "nothing more";
        return got.size();
    };
    line.send(Bytes(kReadScale.begin(), kReadScale.begin() + 5));
    std::this_thread::sleep_for(20ms);  // a silence that only grows on a busy machine
    line.send(kReadScale);
    EXPECT_EQ(answer_of(11), 11u);

    // A request that comes in two writes straight after each other is still one request.
    line.send(Bytes(kReadScale.begin(), kReadScale.begin() + 3));
    line.send(Bytes(kReadScale.begin() + 3, kReadScale.end()));
    EXPECT_EQ(answer_of(11), 11u);

    // Two requests back to back get two answers.
    Bytes two = kReadScale;
    two.insert(two.end(), kReadScale.begin(), kReadScale.end());
    line.send(two);
    EXPECT_EQ(answer_of(22), 22u);
    EXPECT_EQ(sim.dump()["ignored"], "1");
}

TEST(SerialDevice, TheSimulatorSetsTheDevicesLineItselfAndAnswersOnIt)
{
    Pty adapter;  // its far side stands in for a second serial adapter
    SimProcess sim({"--device", adapter.slave_path(), "--speed", "19200"});
    EXPECT_EQ(sim.path(), adapter.slave_path());
    termios t{};
    tcgetattr(adapter.master(), &t);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));

    adapter.feed(kReadScale);
    EXPECT_EQ(hex(adapter.take(11, 2s)), hex(with_crc({5, 3, 6, 2, 1, 0, 0, 0x7A, 0x43})));
    ASSERT_EQ(sim.command("line speed 4800 stop 2"), "ok 5 4800 8N2");
    tcgetattr(adapter.master(), &t);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

// ---------------------------------------------------------------- control channel

std::string socket_command(const std::string& path, const std::string& line)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return "no connection";
    }
    const std::string out = line + "\n";
    EXPECT_EQ(::write(fd, out.data(), out.size()), ssize_t(out.size()));
    std::string reply;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 2000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n')
        reply += c;
    ::close(fd);
    return reply;
}

class ControlChannel : public ::testing::Test {
protected:
    ControlChannel()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "varnok-sim-test-XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
    }
    ~ControlChannel() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

TEST_F(ControlChannel, LinkAndSocketLiveAsLongAsTheSimulator)
{
    const auto link = dir / "ttyVARNOK", control = dir / "control";
    std::filesystem::create_symlink("/dev/null", link);  // a stale link is replaced
    {
        SimProcess sim({"--link", link, "--control", control});
        EXPECT_EQ(std::filesystem::read_symlink(link), sim.path());
        EXPECT_THROW(SimProcess({"--link", link}), std::runtime_error) << "a live simulator's link is another test's";
        EXPECT_EQ(socket_command(control, "get holding 0x800"), "ok 5");
        EXPECT_EQ(socket_command(control, "line address 9"), "ok 9 9600 8N1");
        EXPECT_EQ(sim.command("get holding 0x800"), "ok 9");
        EXPECT_EQ(socket_command(control, "frobnicate"), "error: unknown command frobnicate; try help");
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(std::filesystem::exists(control));

    SimProcess sim({"--link", link, "--no-stdin"});
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    ASSERT_EQ(::kill(sim.pid(), SIGTERM), 0);
    const auto deadline = Clock::now() + 2s;
    while (std::filesystem::is_symlink(link) && Clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

// Each command row of the help names a command the simulator takes: run bare, it answers,
// if only with its usage.
TEST_F(ControlChannel, EveryCommandTheHelpListsIsTaken)
{
    SimProcess sim;
    ASSERT_EQ(sim.command("help"), "ok");
    const std::vector<std::string> help = sim.body();
    size_t rows = 0;
    for (const std::string& row : help) {
        if (row == "Fault kinds:")
            break;
        if (row.size() < 3 || row.compare(0, 2, "  ") != 0 || !std::islower(uint8_t(row[2])))
            continue;
        const std::string name = row.substr(2, row.find_first_of(" ,", 2) - 2);
        const std::string reply = sim.command(name);
        EXPECT_TRUE(reply.rfind("ok", 0) == 0 || reply.rfind("error: ", 0) == 0) << name << ": " << reply;
        EXPECT_EQ(reply.find("unknown command"), std::string::npos) << name;
        ++rows;
    }
    EXPECT_GE(rows, 25u);
}

TEST_F(ControlChannel, OptionsSetTheStartingState)
{
    SimProcess sim({"--address", "17", "--speed", "4", "--parity", "even", "--stop", "2", "--noise", "0", "--signal",
                    "1=100", "--fault", "crc times 3", "--command", "switch XP3 closed"});
    auto d = sim.dump();
    EXPECT_EQ(d["address"], "17");
    EXPECT_EQ(d["speed"], "4 (38400 bit/s)");
    EXPECT_EQ(d["parity"], "2 (even)");
    EXPECT_EQ(d["stop bits"], "2");
    EXPECT_EQ(d["terminal line"], "38400 bit/s 8E2");  // the terminal starts at the device's line
    EXPECT_EQ(d["ch1 adc"], "100000");
    EXPECT_EQ(d["ch1 value"], "250");
    EXPECT_EQ(d["fault crc"], "times 3");
    EXPECT_EQ(d["discrete 2"], "0");
    EXPECT_EQ(d["holding 2050"], "2");

    EXPECT_THROW(SimProcess({"--speed", "1234"}), std::runtime_error);
    EXPECT_THROW(SimProcess({"--fault", "gremlins"}), std::runtime_error);
}

}  // namespace
}  // namespace varnok::test
