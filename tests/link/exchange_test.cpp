#include <chrono>
#include <tuple>

#include "link/link_fixture.h"
#include "modbus/exchange.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A link open on the pseudo-terminal at 9600 bit/s with the time-outs of a speed code.
class Exchange : public LinkOnPty {
protected:
    void SetUp() override { open_at(2); }
    void open_at(uint8_t code)
    {
        link.set_speed_code(code);
        link.vich_timeout(code);
        ASSERT_EQ(link.dw(), 0u);
        sleeper.pauses.clear();
    }
    // An answer from device 5 of the length the request expects (the normal receive asks for
    // one byte more), ended in the fast exchange by Modbus's rule of lengths.
    Received suda(uint8_t kol_wait_bytes, unsigned settle_ms = 0)
    {
        r = link.suda({5, kol_wait_bytes, answer_length, settle_ms});
        return r;
    }
    // The search's receive of the answer to a one-register read, which X may stop.
    Received probe()
    {
        r = link.suda_probe({5, 7, answer_length}, &x_stop);
        return r;
    }
    Received tuda_suda_probe(Frame& ozuper)
    {
        r = link.tuda_suda_probe(ozuper, 8, {5, 7, answer_length}, &x_stop);
        return r;
    }
    Bytes received() const { return Bytes(r.buf.begin() + 1, r.buf.begin() + 1 + r.kpb); }

    Received r;
    KeyStop x_stop{keys, kKeyX};
};

const Bytes kAnswer = unhex("05 03 02 00 05 89 87");

TEST_F(Exchange, TransmitSendsTheFrameBetweenItsPausesAndDiscardsStaleInput)
{
    pty.feed(unhex("AA BB"));  // stale bytes waiting in the driver
    Frame ozuper{};
    ozuper.fill(0x55);
    const Bytes frame = unhex("05 03 08 00 00 01 87 EE");
    std::copy(frame.begin(), frame.end(), ozuper.begin() + 1);
    link.tuda(ozuper, 8);
    EXPECT_EQ(hex(pty.take(8)), hex(frame));
    EXPECT_EQ(ozuper[9], 0);
    EXPECT_EQ(ozuper[10], 0);
    EXPECT_EQ(ozuper[11], 0x55);
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{8, 10}));

    pty.feed(kAnswer);
    suda(2 * 1 + 5);
    EXPECT_EQ(r.pr_out, 0);
    EXPECT_EQ(hex(received()), hex(kAnswer));  // the stale AA BB are gone
}

TEST_F(Exchange, TransmitOnAClosedPortShowsTheWriteError)
{
    link.close_port();
    Frame ozuper{};
    link.tuda(ozuper, 8);
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "ошибка передачи= " + std::to_string(EBADF));
}

TEST_F(Exchange, TheHuntSkipsUpToFiveNoiseBytes)
{
    // Up to two noise bytes: the first pass finds the address; up to five: the second pass.
    const std::pair<const char*, uint8_t> cases[] = {
        {"", 0}, {"00", 0}, {"FF 13", 0}, {"FF 13 21", 1}, {"01 02 03 04 06", 1}};
    for (auto [noise, pass] : cases) {
        pty.feed(unhex(noise));
        pty.feed(kAnswer);
        suda(7);
        EXPECT_EQ(r.pr_out, pass) << noise;
        EXPECT_EQ(r.kpb, kAnswer.size()) << noise;
        EXPECT_EQ(hex(received()), hex(kAnswer)) << noise;
    }

    // Six noise bytes: no address found; the last read delivered one byte.
    pty.feed(unhex("01 02 03 04 06 07"));
    pty.feed(kAnswer);
    suda(7);
    EXPECT_EQ(r.pr_out, 2);
    EXPECT_EQ(r.kpb, 1);
}

TEST_F(Exchange, TheAddressOnTheThirdReadOfTheFirstPassIsFound)
{
    // With the start-up time-outs each silent one-byte read lasts 230 ms: the first two end
    // at 230 and 460 ms, and an answer at 560 ms falls well inside the third.
    link.set_timeouts({link.settings().timeouts.R_IntervalTimeout, 5, 225, 0, 0});
    ASSERT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    // Timed from before the feed is armed: the answer cannot come sooner than 560 ms after it.
    const auto start = Clock::now();
    pty.feed_after(560ms, kAnswer);
    suda(7);
    const auto took = Clock::now() - start;
    pty.join();
    EXPECT_EQ(r.pr_out, 0);
    EXPECT_EQ(hex(received()), hex(kAnswer));
    EXPECT_GE(took, 560ms);
}

TEST_F(Exchange, SilenceLeavesTheFillAndNoBytes)
{
    suda(7);
    EXPECT_EQ(r.pr_out, 2);
    EXPECT_EQ(r.kpb, 0);
    EXPECT_EQ(r.buf[0], 0);
    for (size_t i = 1; i <= 32; ++i)
        EXPECT_EQ(r.buf[i], '.') << i;
    EXPECT_EQ(r.buf[33], 0);
}

TEST_F(Exchange, AWriteAnswerReadWithEightExpectedBytesGivesEight)
{
    const Bytes echo = unhex("05 10 00 01 00 01 51 8D");
    pty.feed(echo);
    suda(8);
    EXPECT_EQ(r.pr_out, 0);
    EXPECT_EQ(r.kpb, 8);
    EXPECT_EQ(hex(received()), hex(echo));
    // The wait for the rest of the answer is the allowance per expected byte.
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{3 * 8}));
}

TEST_F(Exchange, TheRestOfAnAnswerIsNeverReadPastTheBuffer)
{
    Bytes flood(80, 0x05);
    pty.feed(flood);
    suda(255);
    EXPECT_EQ(r.kpb, 63);
}

TEST_F(Exchange, ASilentLineCostsSixReadsOfTheCodesTimeouts)
{
    // Per one-byte read: multiplier + constant of the code's row.
    const std::pair<uint8_t, int> costs[] = {{1, 36}, {2, 36}, {3, 36}, {4, 36}, {5, 4}, {6, 4}};
    for (auto [code, per_read] : costs) {
        open_at(code);
        const auto start = Clock::now();
        suda(7);
        const auto ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        EXPECT_EQ(r.pr_out, 2);
        EXPECT_GE(ms, 6.0 * per_read) << "speed code " << int(code);
    }
}

TEST_F(Exchange, SearchModeReadsSixBytesAfterTheAddress)
{
    pty.feed(kAnswer);
    probe();
    EXPECT_EQ(r.pr_out, 0);
    EXPECT_EQ(r.kpb, 7);
    EXPECT_EQ(hex(received()), hex(kAnswer));
}

TEST_F(Exchange, SearchModeWithoutAnAnswerInTheFirstPassEndsAfterOneMoreRead)
{
    const auto start = Clock::now();
    probe();
    const auto ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_EQ(r.pr_out, 1);
    EXPECT_EQ(r.kpb, 1);
    EXPECT_GE(ms, 4 * 36.0);
    // The key was queried once before the reads (discarded) and once after the second pass read.
    EXPECT_EQ(keys.queries[kKeyX], 2);
}

TEST_F(Exchange, TheXKeyDuringTheSecondPassAbortsTheSearch)
{
    keys.pressed_at = {{kKeyX, 1}, {kKeyX, 2}};  // a press before the receive does not count; one during it does
    EXPECT_TRUE(probe().stopped);
    EXPECT_TRUE(x_stop.pressed());
    EXPECT_EQ(link.pr_out(), 1);

    keys.queries.clear();
    keys.pressed_at = {{kKeyX, 1}};
    EXPECT_FALSE(probe().stopped);
    EXPECT_FALSE(x_stop.pressed());
}

TEST_F(Exchange, SearchModeOnAClosedPortGivesNoAnswer)
{
    link.close_port();
    probe();
    EXPECT_EQ(r.pr_out, 2);
    EXPECT_EQ(r.kpb, 0);
}

TEST_F(Exchange, AHungUpTerminalIsToldOnceAndExchangesEndAtOnceUntilTheSetUp)
{
    Frame ozuper{};
    const Bytes frame = unhex("05 03 08 00 00 01 87 EE");
    std::copy(frame.begin(), frame.end(), ozuper.begin() + 1);
    const auto exchange = [&] {
        link.tuda(ozuper, 8);
        suda(7);
    };
    // Hung up between the request and the answer: the receive finds it. A silent line would
    // hold it for six reads of 2 s each.
    link.set_timeouts(
        {link.settings().timeouts.R_IntervalTimeout, link.settings().timeouts.R_TotalTimeoutMultiplier, 2000, 0, 0});
    ASSERT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    link.tuda(ozuper, 8);
    EXPECT_EQ(hex(pty.take(8)), hex(frame));
    pty.hang_up();
    const auto start = Clock::now();
    suda(7);
    EXPECT_LT(Clock::now() - start, 2s) << "a hung-up terminal is not waited on like a silent line";
    EXPECT_EQ(r.pr_out, 2);
    EXPECT_FALSE(link.hcom().is_open());
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "ошибка настройки порта ");
    EXPECT_NE(notices.boxes[0].informative.find(pty.slave_path() + "\nсоединение разорвано: "), std::string::npos)
        << notices.boxes[0].informative;
    EXPECT_NE(notices.boxes[0].informative.find("«инициализация СОМпорта»"), std::string::npos);
    for (int i = 0; i < 3; ++i) {
        exchange();
        EXPECT_EQ(r.pr_out, 2);
    }
    EXPECT_EQ(notices.boxes.size(), 1u) << "told once, not once per exchange";

    // Plugged in again (as another terminal) and set up: it works, and a new loss is told again.
    Pty again;
    ports.set(1, again.slave_path());
    link.vich_timeout(2);
    ASSERT_EQ(link.dw(), 0u) << link.last_failure();
    again.answer(8, kAnswer);
    exchange();
    again.join();
    EXPECT_EQ(r.pr_out, 0);
    EXPECT_EQ(hex(received()), hex(kAnswer));
    again.hang_up();
    exchange();  // hung up before the request: the write finds it
    EXPECT_EQ(notices.boxes.size(), 2u);
    EXPECT_FALSE(link.hcom().is_open());
}

TEST_F(Exchange, TransmitAndSearchReceiveInOne)
{
    Frame ozuper{};
    const Bytes frame = unhex("05 03 08 00 00 01 87 EE");
    std::copy(frame.begin(), frame.end(), ozuper.begin() + 1);
    pty.answer(8, kAnswer);
    EXPECT_EQ(tuda_suda_probe(ozuper).pr_out, 0);
    pty.join();
    EXPECT_EQ(hex(pty.heard()), hex(frame));
    EXPECT_EQ(r.kpb, 7);
}

// The opt-in fast exchange on the same terminal at 9600 bit/s.
class FastExchange : public Exchange {
protected:
    void SetUp() override
    {
        Exchange::SetUp();
        link.set_fast_exchange(true);
    }
    void frame_in(Frame& ozuper, const Bytes& frame) { std::copy(frame.begin(), frame.end(), ozuper.begin() + 1); }
};

TEST_F(FastExchange, TheReceiveEndsWhenTheAnswerIsCompleteByItsLength)
{
    // The bytes behind each answer stay unread: its length ended the receive, not a time-out.
    const std::tuple<const char*, uint8_t, const char*> cases[] = {
        {"05 83 02 81 30", 7, "exception: 5 bytes"},
        {"05 03 02 00 05 89 87", 7, "one register: 5 + its byte count"},
        {"05 03 06 02 05 00 00 7A 43 BC C6", 11, "three registers: 5 + 6"},
        {"05 01 01 05 90 BB", 11, "coils: 5 + 1, though 11 were asked for"},
        {"05 10 00 01 00 01 51 8D", 8, "write echo: 8"},
        {"05 03 02 00 05 89 88", 7, "a wrong CRC ends it all the same"},
    };
    for (const auto& [answer, kol_wait_bytes, why] : cases) {
        pty.feed(unhex(answer));
        pty.feed(unhex("05 03 02"));
        suda(kol_wait_bytes);
        EXPECT_EQ(r.pr_out, 0) << why;
        EXPECT_EQ(hex(received()), answer) << why;
        pty.discard_input();
    }
    EXPECT_TRUE(sleeper.pauses.empty()) << "no allowance is slept";
}

TEST_F(FastExchange, AnAnswerCutShortEndsOnTheIntervalTimeoutAndNoMoreIsTakenThanWasAskedFor)
{
    pty.feed(unhex("05 03 06 02 05"));
    pty.feed_after(300ms, unhex("00 00 7A 43 BC C6"));
    const auto start = Clock::now();
    suda(11);
    const auto took = Clock::now() - start;
    pty.join();
    EXPECT_EQ(hex(received()), "05 03 06 02 05");
    EXPECT_GE(took, 36ms);  // in the normal timing: the allowance of 11 x 3 ms, then the interval time-out

    pty.discard_input();
    pty.feed(unhex("05 03 FF 01 02 03 04 05 06 07 08 09 0A"));  // a byte count beyond the request
    suda(7);
    EXPECT_EQ(r.kpb, 8);
}

// After a request that got no answer, its late answer may pass for the next one's: an answer
// with another right behind it is refused whole; a busy device's answer after its exception,
// and an answer alone, are taken as they are.
TEST_F(FastExchange, AfterAMissedAnswerOneFollowedByAnotherIsTakenWhole)
{
    suda(7);
    ASSERT_EQ(r.pr_out, 2);
    pty.feed(unhex("05 03 02 00 05 89 87 05 03 02 00 06 C9 86"));
    suda(7);
    EXPECT_EQ(hex(received()), "05 03 02 00 05 89 87 05 03 02 00 06 C9 86");

    suda(7);
    pty.feed(unhex("05 83 05 C0 F2 05 03 02 00 05 89 87"));
    suda(7);
    EXPECT_EQ(hex(received()), "05 83 05 C0 F2");
    pty.discard_input();

    suda(7);
    pty.feed(unhex("05 03 02 00 05 89 87"));
    suda(7);
    EXPECT_EQ(hex(received()), "05 03 02 00 05 89 87");
}

TEST_F(FastExchange, TheLineIsSilentForThreeAndAHalfCharactersAroundARequest)
{
    // 9600 bit/s, 8N1: a character lasts 1041.7 us, 3.5 of them 3646 us.
    Frame ozuper{};
    const auto start = Clock::now();
    link.tuda(ozuper, 63);  // the line has long been quiet: no pause before
    EXPECT_EQ(sleeper.pauses_us, (std::vector<unsigned>{3646}));
    link.tuda(ozuper, 8);  // the line still carries the 63 characters of the first frame
    const auto between = std::chrono::ceil<std::chrono::microseconds>(Clock::now() - start).count();
    // The pause before it and the time the machine took between the two (the whole time,
    // and no pause, on a machine slow enough) together cover the first frame and the gap.
    ASSERT_GE(sleeper.pauses_us.size(), 2u);
    ASSERT_LE(sleeper.pauses_us.size(), 3u);
    const long long before = sleeper.pauses_us.size() == 3 ? sleeper.pauses_us[1] : 0;
    EXPECT_GE(before + between, 3646 + 63 * 1041);
    EXPECT_LE(before, 3646 + 63 * 1042);
    EXPECT_EQ(sleeper.pauses_us.back(), 3646u);
    EXPECT_TRUE(sleeper.pauses.empty());

    open_at(6);  // 115200 bit/s: 3.5 characters are 304 us, the gap never less than 1750
    link.tuda(ozuper, 8);
    EXPECT_EQ(sleeper.pauses_us.back(), 1750u);
}

TEST_F(FastExchange, ASpeedOutsideTheSixIsTimedAsTheSlowestOfThem)
{
    // The terminal refuses 1 bit/s and stays open on its line; timed by that speed, a
    // character would last 10 s and a probe of a silent line minutes.
    link.set_speed(1);
    link.vich_timeout(link.settings().num_scor);
    EXPECT_NE(link.dw(), 0u);
    Frame ozuper{};
    frame_in(ozuper, unhex("05 03 08 00 00 01 87 EE"));
    const auto start = Clock::now();
    link.tuda(ozuper, 8);
    suda(7);
    EXPECT_EQ(tuda_suda_probe(ozuper).pr_out, 1);
    auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    for (const unsigned us : sleeper.pauses_us)
        took += std::chrono::microseconds(us);
    EXPECT_LT(took, 5s);
    EXPECT_EQ(sleeper.pauses_us.back(), 7292u) << "3.5 characters at 4800 bit/s";
}

TEST_F(FastExchange, AWriteAnswerIsListenedForWhileTheDeviceStores)
{
    open_at(6);  // 4 ms per one-byte read: the hunt alone gives up after 24 ms
    const Bytes echo = unhex("05 10 00 23 00 02 B1 86");
    pty.feed_after(30ms, echo);
    suda(8, 100);
    pty.join();
    EXPECT_EQ(hex(received()), hex(echo));
    EXPECT_TRUE(sleeper.pauses.empty()) << "the settling time is listened through, not slept";
}

TEST_F(FastExchange, AProbeWaitsItsSettingBeyondTheLineTimeOfRequestAndAnswer)
{
    Frame ozuper{};
    frame_in(ozuper, unhex("05 03 08 00 00 01 87 EE"));

    // Silence: no answer after the first pass, the second takes only what is there.
    // 9600 bit/s: request and answer take 15.6 ms on the line, plus the 20 ms wait.
    auto start = Clock::now();
    EXPECT_EQ(tuda_suda_probe(ozuper).pr_out, 1);
    EXPECT_GE(Clock::now() - start, 35ms);
    EXPECT_EQ(r.kpb, 1);
    EXPECT_EQ(keys.queries[kKeyX], 2);

    // An answer later than the wait is no answer, though the normal first pass, with the
    // start-up time-outs in force, would wait 690 ms for it; within a longer wait it is, by
    // its length.
    link.set_timeouts({link.settings().timeouts.R_IntervalTimeout, 5, 225, 0, 0});
    ASSERT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    pty.feed_after(150ms, unhex("05 83 02 81 30"));
    EXPECT_EQ(tuda_suda_probe(ozuper).pr_out, 1);
    pty.join();
    link.set_fast_probe_wait(500);
    pty.feed_after(100ms, unhex("05 83 02 81 30"));
    EXPECT_EQ(tuda_suda_probe(ozuper).pr_out, 0);
    pty.join();
    EXPECT_EQ(hex(received()), "05 83 02 81 30");
}

}  // namespace
}  // namespace varnok::test
