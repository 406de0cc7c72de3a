// Reads under the port's time-outs, the same cases on every backend: the termios emulation
// on Linux and the system's own on Windows give the same results.
#include <gtest/gtest.h>

#include <chrono>

#include "link/line_pair.h"
#include "link/serial_port.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

class PortTimeouts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(port.open(line.near_path()), 0);
        Dcb dcb;
        ASSERT_EQ(port.get_state(dcb), 0);
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = 0;
        dcb.StopBits = 0;
        ASSERT_EQ(port.set_state(dcb), 0);
        ASSERT_EQ(port.purge_input(), 0);  // the line may be shared with an earlier case
    }

    // Reads up to `n` bytes under the time-outs; what came, and how long the read took.
    Bytes read(size_t n, uint32_t interval, uint32_t multiplier, uint32_t constant)
    {
        EXPECT_EQ(port.set_timeouts({interval, multiplier, constant, 0, 0}), 0);
        Bytes got(n);
        size_t count = 0;
        const auto start = Clock::now();
        EXPECT_EQ(port.read(got.data(), n, count), 0);
        took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        got.resize(count);
        return got;
    }

    // The far end's bytes that are on their way: reads that wait for them, up to a deadline.
    Bytes gather(size_t want)
    {
        Bytes all;
        for (const auto until = Clock::now() + 5s; all.size() < want && Clock::now() < until;) {
            const Bytes some = read(want - all.size(), 0, 0, 500);
            all.insert(all.end(), some.begin(), some.end());
        }
        return all;
    }

    LinePair line;
    SerialPort port;
    std::chrono::milliseconds took{};
};

TEST_F(PortTimeouts, ASilentLineEndsTheReadAtTheTotalTimeOut)
{
    // 5 x 5 + 225 ms, as a speed code's time-outs give for a five-byte read.
    EXPECT_TRUE(read(5, 30, 5, 225).empty());
    EXPECT_GE(took, 240ms);

    // The interval alone would wait for the first byte for ever: the read is bounded.
    EXPECT_TRUE(read(5, 50, 0, 0).empty());
    EXPECT_GE(took, std::chrono::milliseconds(kReadCapMs - 20));
}

TEST_F(PortTimeouts, ARequestedCountEndsTheReadAndTheRestWaits)
{
    line.feed({1, 2, 3, 4, 5, 6, 7});
    EXPECT_EQ(read(5, 1000, 0, 10000), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_LT(took, 10000ms);
    EXPECT_EQ(gather(2), (Bytes{6, 7}));
}

TEST_F(PortTimeouts, AGapLongerThanTheIntervalEndsTheReadWithWhatCame)
{
    line.feed({0x05, 0x03, 0x02});
    line.feed_after(800ms, {0xEE});
    EXPECT_EQ(read(8, 100, 0, 10000), (Bytes{0x05, 0x03, 0x02}));
    EXPECT_LT(took, 800ms);
    EXPECT_EQ(gather(1), (Bytes{0xEE}));
}

TEST_F(PortTimeouts, BytesCloserThanTheIntervalAreGathered)
{
    line.feed({1});
    for (uint8_t b = 2; b <= 4; ++b)
        line.feed_after(std::chrono::milliseconds(40 * b), {b});
    EXPECT_EQ(read(4, 1000, 0, 10000), (Bytes{1, 2, 3, 4}));
}

TEST_F(PortTimeouts, TheTotalTimeOutEndsAReadThatStillHasBytesComing)
{
    line.feed({1, 2});
    line.feed_after(800ms, {3});
    EXPECT_EQ(read(8, 0, 0, 300), (Bytes{1, 2}));
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 800ms);
    EXPECT_EQ(gather(1), (Bytes{3}));
}

TEST_F(PortTimeouts, NoWaitGivesWhatHasComeAndReturnsAtOnce)
{
    EXPECT_TRUE(read(8, kReadNoWait, 0, 0).empty());
    EXPECT_LT(took, 1000ms);
    line.feed({0xAA, 0xBB});
    EXPECT_EQ(gather(2), (Bytes{0xAA, 0xBB}));
}

}  // namespace
}  // namespace varnok::test
