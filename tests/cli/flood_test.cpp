// varnok-cli against a TCP peer that never stops sending once it has a request, and one that
// never answers: the run ends by itself with the line named, and Ctrl-C or a request to
// terminate ends it at once, with its file whole.
#include <csignal>
#include <sys/wait.h>

#include "cli_on_sim.h"
#include "support/flooding_peer.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class CliOnAFlood : public ::testing::Test {
protected:
    CliOnAFlood()
    {
        dir = fs::temp_directory_path() / ("varnok-flood-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "varnok.ini") << "[связь]\n";
    }
    ~CliOnAFlood() override { fs::remove_all(dir); }

    pid_t start(const std::string& where, const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {VARNOK_CLI_PATH, "--settings", (dir / "varnok.ini").string(),
                                        "--history", (dir / "history.sqlite").string(), "-p", where, "-a", "5"};
        all.insert(all.end(), args.begin(), args.end());
        return spawn_with_files(std::move(all), dir);
    }
    // The exit code once the tool has ended by `within`; -1 (and the tool killed) when it has not.
    int finish(pid_t pid, std::chrono::seconds within = 30s)
    {
        int status = 0;
        const bool ended = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, within);
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        out = slurp(dir / "out");
        err = slurp(dir / "err");
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static size_t count(const std::string& text, const std::string& part)
    {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    fs::path dir;
    std::string out, err;
};

TEST_F(CliOnAFlood, AReadEndsByItselfNamingTheLineAndCtrlCEndsItAtOnce)
{
    const FloodingPeer peer;
    ASSERT_FALSE(peer.where().empty());
    EXPECT_EQ(finish(start(peer.where(), {"read", "--count", "3", "--every", "0.2"})), 1) << err;
    EXPECT_EQ(count(err, "порт " + peer.where() +
                             ": линия не умолкает: байты идут без перерыва дольше 250 мс, соединение закрыто\n"),
              1u)
        << err;
    EXPECT_GE(peer.requests(), 1);
    EXPECT_EQ(count_lines(out), 3) << "a line per poll, its fields empty: " << out;

    // Ctrl-C while the flood is under way, and a request to terminate: each ends the run.
    for (const int signal : {SIGINT, SIGTERM}) {
        const FloodingPeer flood;
        const fs::path csv = dir / ("r" + std::to_string(signal) + ".csv");
        const pid_t pid = start(flood.where(), {"read", "--count", "0", "--every", "0.1", "--out", csv.string()});
        ASSERT_TRUE(eventually([&] { return flood.requests() >= 1 && flood.sent() > (1 << 16); })) << slurp(dir / "err");
        const auto asked = Clock::now();
        ::kill(pid, signal);
        EXPECT_EQ(finish(pid, 20s), 1) << err;
        EXPECT_LT(Clock::now() - asked, 5s);
        // Whole lines only: the header and a line per poll that was not cut short.
        const std::string rows = slurp(csv);
        EXPECT_EQ(rows.rfind("time,address,value1,", 0), 0u) << rows;
        EXPECT_EQ(rows.back(), '\n') << rows;
    }
}

// A peer that takes the requests and never answers: Ctrl-C ends the poll under way, which
// gives no reading.
TEST_F(CliOnAFlood, CtrlCEndsAWaitForAnAnswer)
{
    const FloodingPeer silent(false);
    const pid_t pid = start(silent.where(), {"--json", "read", "--count", "0"});
    ASSERT_TRUE(eventually([&] { return silent.requests() >= 1; }));  // the tool waits for the answer
    const auto asked = Clock::now();
    ::kill(pid, SIGINT);
    EXPECT_EQ(finish(pid, 60s), 1) << err;
    EXPECT_LT(Clock::now() - asked, 5s);
    EXPECT_EQ(out, "") << "a poll cut short is no reading";
    // The device's silence told before, as it was; nothing of the exchanges Ctrl-C cut short.
    const std::string last = "read: прервано до первого показания\n";
    ASSERT_GE(err.size(), last.size()) << err;
    EXPECT_EQ(err.substr(err.size() - last.size()), last) << err;
    EXPECT_LE(count_lines(err), 2) << err;
}

}  // namespace
}  // namespace varnok::test
