// mbpoll, a master none of us wrote, against the simulator: what it reads must be what the
// simulator says it holds, what it writes must be stored, and a wrong speed gets nothing.

#include <cstdio>
#include <map>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/sim_fixture.h"

namespace varnok::test {
namespace {

struct PollResult {
    int status = -1;
    std::string output;          // standard output and error together
    std::map<int, long> values;  // "[ref]: value" lines
};

class Mbpoll : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/usr/bin/mbpoll", X_OK) != 0)
            GTEST_SKIP() << "mbpoll is not installed";
    }

    // One poll of the device at 5, 9600 bit/s 8N1, with PDU addresses (-0); values to write
    // go after the device path.
    PollResult mbpoll(const std::string& args, const std::string& values = "", const std::string& baud = "9600")
    {
        const std::string cmd = "/usr/bin/mbpoll -m rtu -a 5 -b " + baud + " -P none -s 1 -1 -0 " + args + " " +
                                sim.path() + " " + values + " 2>&1";
        PollResult r;
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p)
            return r;
        char buf[512];
        while (std::fgets(buf, sizeof buf, p))
            r.output += buf;
        r.status = ::pclose(p);
        static const std::regex value(R"(^\[(\d+)\]:\s+(-?\d+))");
        std::smatch m;
        for (size_t at = 0, nl; at < r.output.size(); at = nl + 1) {
            nl = r.output.find('\n', at);
            if (nl == std::string::npos)
                nl = r.output.size();
            const std::string line = r.output.substr(at, nl - at);
            if (std::regex_search(line, m, value))
                r.values[std::stoi(m[1])] = std::stol(m[2]);
        }
        return r;
    }

    // Every reference mbpoll printed must equal the simulator's own view of it.
    void expect_same(const PollResult& r, const std::string& kind, size_t count)
    {
        SCOPED_TRACE(r.output);
        EXPECT_EQ(WEXITSTATUS(r.status), 0);
        ASSERT_EQ(r.values.size(), count);
        auto state = sim.dump();
        for (const auto& [ref, v] : r.values)
            EXPECT_EQ(state[kind + " " + std::to_string(ref)], std::to_string(v)) << kind << " " << ref;
    }

    SimProcess sim{{"--noise", "0"}};
};

TEST_F(Mbpoll, ReadsEveryTableAsTheSimulatorHoldsIt)
{
    ASSERT_EQ(sim.command("name Тест"), "ok");
    expect_same(mbpoll("-t 4 -r 1"), "holding", 1);
    for (const char* block : {"32", "64", "96"})
        expect_same(mbpoll(std::string("-t 4 -r ") + block + " -c 12"), "holding", 12);
    expect_same(mbpoll("-t 4 -r 2048 -c 4"), "holding", 4);
    expect_same(mbpoll("-t 3 -r 2 -c 12"), "input", 12);
    for (const char* block : {"44", "76", "108"})
        expect_same(mbpoll(std::string("-t 3 -r ") + block + " -c 5"), "input", 5);
    expect_same(mbpoll("-t 0 -r 0 -c 3"), "coil", 3);
    expect_same(mbpoll("-t 1 -r 0 -c 3"), "discrete", 3);

    // The name as mbpoll sees it: Windows-1251, first character in the high byte.
    const PollResult name = mbpoll("-t 3 -r 4 -c 2");
    EXPECT_EQ(name.values.at(4), 0xD2E5);  // "Те"
    EXPECT_EQ(name.values.at(5), 0xF1F2);  // "ст"

    const PollResult outside = mbpoll("-t 4 -r 2");
    EXPECT_NE(WEXITSTATUS(outside.status), 0);
    EXPECT_NE(outside.output.find("Illegal data address"), std::string::npos) << outside.output;
}

TEST_F(Mbpoll, WritesTwoRegistersWithFunctionSixteen)
{
    const PollResult w = mbpoll("-v -t 4 -r 42", "500 1500");
    EXPECT_EQ(WEXITSTATUS(w.status), 0) << w.output;
    EXPECT_NE(w.output.find("[05][10][00][2A][00][02][04][01][F4][05][DC]"), std::string::npos) << w.output;
    EXPECT_EQ(sim.command("get holding 42"), "ok 500");
    EXPECT_EQ(sim.command("get holding 43"), "ok 1500");
    expect_same(mbpoll("-t 4 -r 42 -c 2"), "holding", 2);

    // A single value goes out with function 6, which the device does not know.
    const PollResult one = mbpoll("-v -t 4 -r 1", "2");
    EXPECT_NE(one.output.find("[05][06]"), std::string::npos) << one.output;
    EXPECT_NE(one.output.find("Illegal function"), std::string::npos) << one.output;
    EXPECT_EQ(sim.command("get holding 1"), "ok 3");
}

TEST_F(Mbpoll, AMasterAtAnotherSpeedTimesOut)
{
    const PollResult r = mbpoll("-o 0.2 -t 4 -r 1", "", "19200");
    EXPECT_NE(WEXITSTATUS(r.status), 0);
    EXPECT_NE(r.output.find("timed out"), std::string::npos) << r.output;
    EXPECT_TRUE(r.values.empty());
    EXPECT_EQ(sim.dump()["ignored"], "1");
}

}  // namespace
}  // namespace varnok::test
