// The device search as operations, against the simulator with several devices on the line:
// what the scans ask and find, where the operator's keys stop them, what they adopt.
#include <functional>

#include "ops/search.h"
#include "ops_fixture.h"

namespace varnok::test {
namespace {

class RecordingProgress : public SearchProgress {
public:
    void scan_begins(uint8_t sys_num) override { begun += std::to_string(sys_num) + ' '; }
    void number_done(uint8_t n, uint8_t code, bool every_speed, const SearchTimes& t) override
    {
        done += std::to_string(n) + ':' + std::to_string(code) + (every_speed ? "* " : " ");
        times.push_back(t);
        if (each)
            each(n);
    }
    void scan_over(const SearchTimes& t) override { over.push_back(t); }
    void adopted(uint8_t n, int32_t speed) override { kept += std::to_string(n) + '@' + std::to_string(speed) + ' '; }

    std::string begun, done, kept;  // "n:code " (a "*" at every speed), "n@speed "
    std::vector<SearchTimes> times, over;
    std::function<void(uint8_t n)> each;  // the operator's hand, after each number
};

// Answers at once and whole: at the higher speeds the probe listens only a few tens of ms.
class SearchOps : public OpsOnSim {
protected:
    explicit SearchOps(std::vector<std::string> devices) : OpsOnSim(args(std::move(devices))) {}
    static std::vector<std::string> args(std::vector<std::string> devices)
    {
        std::vector<std::string> a = {"--noise", "0", "--turnaround", "0", "--whole-answers"};
        for (std::string& d : devices) {
            a.push_back("--device-at");
            a.push_back(std::move(d));
        }
        return a;
    }
    // The speed the port is open at, and its read interval time-out.
    std::pair<uint32_t, uint16_t> port() const
    {
        Dcb d;
        return {link.hcom().get_state(d) == 0 ? d.BaudRate : 0, link.settings().timeouts.R_IntervalTimeout};
    }
    // The operator presses `key` so that its next query (`later` = 1) or a later one sees it.
    void press(int key, int later = 1) { keys.pressed_at.insert({key, keys.queries[key] + later}); }
    std::vector<std::string> boxes() const
    {
        std::vector<std::string> out;
        for (const auto& b : notices.boxes)
            out.push_back(b.text);
        return out;
    }

    RecordingProgress progress;
    Search search{dev, report, progress, keys, notices};
};

class OpsScanOneSpeed : public SearchOps {
protected:
    OpsScanOneSpeed() : SearchOps({"3", "4:38400"}) {}
};

// A range at 9600: 3 answers, 4 (at 38400) does not; the lowest found is addressed. A range
// past 247 asks only up to 247. Then the answer check of a number present and of one absent.
TEST_F(OpsScanOneSpeed, AScanAtOneSpeedFindsTheDevicesOfItsRangeAndAddressesTheLowest)
{
    open_at(9600);
    const ScanResult r = search.poisk_pribor(true, 2, 4);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(progress.begun, "5 ");
    EXPECT_EQ(progress.done, "2:0 3:2 4:0 ");
    EXPECT_EQ(progress.over.size(), 1u);
    EXPECT_EQ(progress.kept, "3@9600 ");
    EXPECT_EQ(r.found, std::vector<uint8_t>{3});
    EXPECT_EQ(r.interrupted_at + r.port_failed_at, 0);
    EXPECT_EQ(report.lines, std::vector<std::string>{"Ответилo:1 приборов:   №№:  3   :! паритет:0 стопбит:1 !"});
    EXPECT_EQ(link.settings().sys_num, 3);
    EXPECT_EQ(dev.scor_CN(3), 2);
    EXPECT_TRUE(report.requests.empty()) << "probes are not shown as exchanges";

    link.set_sys_num(5);
    const FirstFound f = search.address_first_found();
    EXPECT_EQ(f.number, 3);
    EXPECT_EQ(f.speed, 9600);
    EXPECT_FALSE(f.speed_changed);
    EXPECT_EQ(link.settings().sys_num, 3);
    EXPECT_EQ(report.lines.back(), "на скорости 9600 отозвался №3  [ Pb=0 , Sb=1 ]");

    progress.done.clear();
    EXPECT_TRUE(search.poisk_pribor(true, 246, 255).found == std::vector<uint8_t>{3}) << "3 was found before";
    EXPECT_EQ(progress.done, "246:0 247:0 ");

    EXPECT_TRUE(search.yes_otvet());
    EXPECT_EQ(report.lines.back(), " #=3 V=9600 : Pb=0 Sb=1 : OK!");
    link.set_sys_num(2);
    EXPECT_FALSE(search.yes_otvet());
    EXPECT_EQ(report.lines.back(), " #=2 V=9600 : Pb=0 Sb=1 :  нет ответа");
    EXPECT_EQ(boxes(), std::vector<std::string>{" #=2 V=9600 : Pb=0 Sb=1 :  нет ответа"});
}

class OpsScanEverySpeed : public SearchOps {
protected:
    OpsScanEverySpeed() : SearchOps({"1:38400", "2:19200"}) {}
};

// Every speed of 1..3, X while 3 is awaited: the closing steps all the same, ending at the
// last number found at its speed, the speed code kept. Then a scan at that speed stopped by
// Q after 2 (a Q before the scan does not count), and one whose port will not open.
TEST_F(OpsScanEverySpeed, AScanAtEverySpeedStopsOnXOrQAndKeepsWhatItFound)
{
    open_at(9600);
    progress.each = [&](uint8_t n) {
        if (n == 2)
            press(kKeyX, 2);  // number 3's first silent wait: the clear, then the wait
    };
    const ScanResult r = search.poisk_pribor(false, 1, 3);
    EXPECT_EQ(progress.done, "1:4* 2:3* ");
    EXPECT_EQ(r.interrupted_at, 3);
    EXPECT_EQ(r.found, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(progress.kept, "1@38400 2@19200 ");
    EXPECT_EQ(report.lines, (std::vector<std::string>{"прерван поиск на 3 номере",
                                                      "Ответилo:2 приборов:   №№:  1 2   :! паритет:0 стопбит:1 !"}));
    EXPECT_EQ(link.settings().sys_num, 2);
    EXPECT_EQ(link.settings().scor_obmena, 19200);
    EXPECT_EQ(link.settings().num_scor, 2) << "the speed code stays";
    EXPECT_EQ(port(), (std::pair<uint32_t, uint16_t>{19200, 3})) << "not 4800, where X came";
    // Each number's times follow on from the one before; the scan is over after the last.
    ASSERT_EQ(progress.times.size(), 2u);
    ASSERT_EQ(progress.over.size(), 1u);
    const SearchTimes &t1 = progress.times[0], &t2 = progress.times[1];
    EXPECT_EQ(t1.Time_tmp, t1.Time_begin);
    EXPECT_EQ(t2.Time_tmp, t1.Time_over);
    EXPECT_LE(t2.Time_over, progress.over[0].Time_over);

    progress.done.clear();
    report.lines.clear();
    press(kKeyQ);
    progress.each = [&](uint8_t n) {
        if (n == 2)
            press(kKeyQ);
    };
    EXPECT_EQ(search.poisk_pribor(true, 1, 5).interrupted_at, 2);
    EXPECT_EQ(progress.done, "1:0 2:3 ");
    EXPECT_EQ(report.lines.front(), "прерван поиск на 2 номере");
    for (const auto& b : notices.boxes)
        ADD_FAILURE() << "a box: " << b.text << " | " << b.informative;

    progress.done.clear();
    report.lines.clear();
    ports.set(1, "/nonexistent/varnok-port");
    progress.each = nullptr;
    EXPECT_EQ(search.poisk_pribor(true, 1, 5).port_failed_at, 1);
    EXPECT_EQ(progress.done, "1:0 ");
    EXPECT_EQ(report.lines.front(), "поиск прекращён на 1 номере: порт COM1 не открывается");
}

class OpsSpeedSearch : public SearchOps {
protected:
    OpsSpeedSearch() : SearchOps({"5:38400"}) {}
};

// Nobody at 6: a message, and the port back at the speed in force; X ends such a search
// without it. Number 5 answers at 38400, tried after the lower speeds, and the line stays there.
TEST_F(OpsSpeedSearch, TheSpeedSearchAdoptsTheSpeedFoundOrGoesBackToTheOneInForce)
{
    open_at(9600);
    link.set_sys_num(6);
    SpeedFound found = search.poisk_scor();
    EXPECT_EQ(found.code, 0);
    EXPECT_FALSE(search.adopt_speed(found));
    EXPECT_EQ(boxes(), std::vector<std::string>{"№6 не отвечает ни на одной из скоростей   при Pb=0 и Sb=1"});
    EXPECT_EQ(port(), (std::pair<uint32_t, uint16_t>{9600, 3})) << "not 115200, the last speed tried";

    press(kKeyX, 2);
    found = search.poisk_scor();
    EXPECT_TRUE(found.aborted);
    EXPECT_FALSE(search.adopt_speed(found));
    EXPECT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(port().first, 9600u);

    link.set_sys_num(5);
    found = search.poisk_scor();
    EXPECT_EQ(found.code, 4);
    EXPECT_FALSE(found.aborted);
    EXPECT_EQ(dev.scor_CN(5), 4);
    EXPECT_TRUE(search.adopt_speed(found));
    EXPECT_EQ(report.statuses, std::vector<std::string>{" Ответил на Скорость Обмена: 38400"});
    EXPECT_EQ(report.lines, std::vector<std::string>{"№5 ответил на 38400  [ Pb=0, Sb=1 ]"});
    EXPECT_EQ(link.settings().scor_obmena, 38400);
    EXPECT_EQ(link.settings().num_scor, 2);
    EXPECT_EQ(port(), (std::pair<uint32_t, uint16_t>{38400, 2}));
    EXPECT_TRUE(search.yes_otvet()) << "the device answers at the speed adopted";
    EXPECT_EQ(boxes().size(), 1u);
}

}  // namespace
}  // namespace varnok::test
