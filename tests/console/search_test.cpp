// The device search of the menu "файл" against the simulator: scans cut short with the
// interrupt keys, the speed search, the answer check, and what each leaves behind.
#include <QAction>
#include <QTimer>
#include <QToolBar>
#include <functional>

#include "console_fixture.h"

namespace varnok::test {
namespace {

class Search : public ConsoleOnSim {
protected:
    void start(std::vector<std::string> sim_args, int speed = 9600)
    {
        start_sim(std::move(sim_args));
        write_ini(ini_for_sim(speed));
        start_console();
        show_and_activate();
    }
    // `each` runs at every pump of the event loop while the command runs, as the operator's
    // hand would act during a scan.
    void run(const char* item, std::function<void()> each = {})
    {
        QTimer hand;
        if (each) {
            QObject::connect(&hand, &QTimer::timeout, each);
            hand.start(0);
        }
        find<QAction>(item)->trigger();
    }
    void press(Qt::Key key) { QTest::keyClick(glav.get(), key); }

    // The speed the port is open at, and the read time-outs in force.
    std::vector<int> line() const
    {
        Dcb d;
        const LinkSettings& l = ctx->link.settings();
        return {ctx->link.hcom().get_state(d) == 0 ? int(d.BaudRate) : 0, l.timeouts.R_IntervalTimeout,
                l.timeouts.R_TotalTimeoutMultiplier, l.timeouts.R_TotalTimeoutConstant};
    }
    // The speeds at which the simulator heard a request it could not take.
    QStringList foreign_speeds() const
    {
        QFile f(log_path());
        QStringList out;
        static const QRegularExpression re("line mismatch: terminal (\\d+) bit/s");
        for (const QByteArray& l : f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>())
            if (const auto m = re.match(QString::fromLatin1(l)); m.hasMatch())
                out << m.captured(1);
        return out;
    }
    QColor info_colour() const { return find<QListWidget>("ListBox1")->palette().color(QPalette::Text); }
    QStringList last_lines(int n) const { return info_lines().mid(info_lines().size() - n); }
    void expect_like(const QString& line, const QString& pattern)
    {
        EXPECT_TRUE(QRegularExpression(pattern).match(line).hasMatch()) << line.toStdString();
    }
    static QString every_speed_line(int n, int code)
    {
        return QStringLiteral(
                   "^ №=%1  V=%2 \\.\\.\\.  \\d{1,2}:\\d\\d:\\d\\d:\\d{3}   \\(\\d+:\\d{3} мс\\)  "
                   "всего: \\d+:\\d\\d:\\d{3} $")
            .arg(n)
            .arg(code);
    }
    const QString elapsed = "^  \\d\\d:\\d\\d:\\d\\d:\\d{3} мс  прошло  \\S.* $";
    const QString started = "^ начало в: \\S.* \\.\\.\\.$";
};

TEST_F(Search, AnswerCheckShowsOneLineAndABoxOnlyWhenNobodyAnswers)
{
    start({});
    click(find<QRadioButton>("RGtyp_opros_0"));
    click(glav->tool_button("ToolButton1"));
    const QString request = find<QListWidget>("LBtuda")->item(0)->text();
    for (const auto& [number, line, box] : {std::tuple{5, " #=5 V=9600 : Pb=0 Sb=1 : OK!", false},
                                            std::tuple{1, " #=1 V=9600 : Pb=0 Sb=1 :  нет ответа", true}}) {
        ctx->link.set_sys_num(uint8_t(number));
        find<QListWidget>("ListBox1")->hide();
        boxes.clear();
        run("N_yes_otvet");
        EXPECT_TRUE(find<QListWidget>("ListBox1")->isVisible());
        EXPECT_EQ(info_lines().last(), line);
        EXPECT_EQ(find<QListWidget>("ListBox1")->currentRow(), info_lines().size() - 1);
        EXPECT_EQ(boxes, box ? QStringList{line} : QStringList{});
        EXPECT_TRUE(glav->readings().Timer_opros.isActive()) << "the poll goes on";
        EXPECT_EQ(find<QListWidget>("LBtuda")->item(0)->text(), request) << "the exchange log is not written";
    }
}

// Devices at 3 and 17; a number search cut short by Q after 18 (a Q pressed before the scan
// does not count). No click reaches a handler while it runs and the window keeps painting.
// Then a scan cut short after 4 still lists 17, found before, and 200, recorded at 115200;
// the console ends at the lowest number all the same, at that number's own speed.
TEST_F(Search, NumberSearchInterruptedByQFindsTheDevicesAndAddressesTheLowest)
{
    start({"--device-at", "3", "--device-at", "17"});
    const int before = int(requests().size());
    auto* freq = find<QLineEdit>("LEfreq");
    struct : QObject {
        int n = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            n += e->type() == QEvent::Paint;
            return false;
        }
    } paints;
    freq->installEventFilter(&paints);
    auto q_after = [&](int n) {
        return [&, n] {
            if (glav->status_panel(5).startsWith(QStringLiteral(" Номер: %1 ск=").arg(n)))
                press(Qt::Key_Q);
        };
    };

    QCoreApplication::postEvent(glav.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, "q"));
    QString notice;
    bool polled = false, stayed_active = true;
    run("N_poisk_num", [&, q = q_after(18)] {
        notice = msg->isVisible() ? msg->label1()->text() : notice;
        polled |= glav->readings().Timer_opros.isActive();
        stayed_active &= glav->isActiveWindow();
        click(find<QPushButton>("Binitport"));
        freq->update();
        q();
    });
    EXPECT_EQ(notice, "Подождите!... Идет ПОИСК НОМЕРОВ, отвечающих на скорость 9600 ...");
    EXPECT_FALSE(msg->isVisible());
    EXPECT_FALSE(polled);
    EXPECT_EQ(find<QListWidget>("LB_initport")->count(), 0) << "the clicks were swallowed";
    EXPECT_GT(paints.n, 0);
    // The offscreen platform gives every window shown the focus; on X the notice leaves it.
    if (QGuiApplication::platformName() != "offscreen") {
        EXPECT_TRUE(stayed_active);
    }
    // Numbers 1..18, then the activation at the number found.
    ASSERT_TRUE(wait_for([&] { return int(requests().size()) - before >= 19; }));
    EXPECT_EQ(requests()[before + 17].left(2), "12");
    EXPECT_EQ(requests()[before + 18], "03 03 08 00 00 01 87 88");

    QStringList lines = info_lines();
    ASSERT_EQ(lines.size(), 7) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], " ищем отвечающий № на скорости 9600  [ Pb=0, Sb=1 ]");
    expect_like(lines[1], started);
    EXPECT_EQ(lines[2], "....3 " + QString(14, '.') + "17 .");
    EXPECT_EQ(lines[3], "прерван поиск на 18 номере");
    expect_like(lines[4], elapsed);
    EXPECT_EQ(lines[5], "Ответилo:2 приборов:   №№:  3 17   :! паритет:0 стопбит:1 !");
    EXPECT_EQ(lines[6], "на скорости 9600 отозвался №3  [ Pb=0 , Sb=1 ]");
    EXPECT_EQ(ctx->device.scor_CN(3), 2);
    EXPECT_EQ(ctx->device.scor_CN(17), 2);
    EXPECT_EQ(ctx->link.settings().sys_num, 3);
    EXPECT_EQ(glav->status_panel(1) + glav->status_panel(2) + glav->status_panel(5), " Адрес: 3 Скорость: 9600 ");
    EXPECT_TRUE(glav->findChild<QToolBar*>("ToolBar1")->isVisible());

    ctx->device.record_speed(200, 6);
    run("N_poisk_num", q_after(4));
    lines = last_lines(4);
    EXPECT_EQ(lines[0], "прерван поиск на 4 номере");
    EXPECT_EQ(lines[2], "Ответилo:3 приборов:   №№:  3 17 200   :! паритет:0 стопбит:1 !");
    EXPECT_EQ(lines[3], "на скорости 9600 отозвался №3  [ Pb=0 , Sb=1 ]");
    EXPECT_EQ(ctx->link.settings().scor_obmena, 9600);
    EXPECT_EQ(line(), std::vector<int>({9600, 3, 20, 16}));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}

// Nobody at 6: a message, and the port back at the speed in force with its time-outs; X
// ends such a search without the message. The
// device at 38400: the lower speeds are tried first, and the console stays at 38400. The
// armed periodic poll ticks afterwards although the button still shows "пуск".
TEST_F(Search, SpeedSearchKeepsTheSpeedFoundOrGoesBackToTheOneInForce)
{
    start({"--speed", "38400"});
    click(find<QRadioButton>("RGtyp_opros_0"));
    ctx->link.set_sys_num(6);
    run("N_poisk_scor");
    EXPECT_EQ(boxes, QStringList{"№6 не отвечает ни на одной из скоростей   при Pb=0 и Sb=1"});
    EXPECT_EQ(ctx->link.settings().scor_obmena, 9600);
    EXPECT_EQ(line(), std::vector<int>({9600, 3, 20, 16})) << "not 115200, the last speed tried";

    run("N_poisk_scor", [&] {  // X while the second speed is awaited: no message this time
        if (ctx->link.pr_out() == 1 && line()[0] == 9600)
            press(Qt::Key_X);
    });
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_EQ(line()[0], 9600);
    EXPECT_FALSE(msg->isVisible());

    ctx->link.set_sys_num(5);
    boxes.clear();
    QFile::resize(log_path(), 0);
    QString notice;
    run("N_poisk_scor", [&] { notice = msg->isVisible() ? msg->label1()->text() : notice; });
    EXPECT_EQ(notice, "Подождите!... Идет ПОИСК СКОРОСТИ для номера 5 ....");
    EXPECT_FALSE(msg->isVisible());
    EXPECT_EQ(foreign_speeds(), QStringList({"4800", "9600", "19200"}));
    ASSERT_GE(requests().size(), 5);
    EXPECT_EQ(requests()[4], "05 03 08 00 00 01 87 EE") << "the found speed's answer, then the activation";
    const QStringList lines = info_lines();
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], " ищем скорость для №=5  [ Pb=0, Sb=1 ]");
    expect_like(lines[1], started);
    expect_like(lines[2], "^ конец в: \\S");
    EXPECT_EQ(lines[3], "№5 ответил на 38400  [ Pb=0, Sb=1 ]");
    EXPECT_EQ(glav->status_panel(5), " Ответил на Скорость Обмена: 38400");
    EXPECT_EQ(ctx->device.scor_CN(5), 4);
    EXPECT_EQ(ctx->link.settings().scor_obmena, 38400);
    EXPECT_EQ(line(), std::vector<int>({38400, 3, 20, 16})) << "the time-outs of the speed code in force";
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
    EXPECT_TRUE(glav->readings().Timer_opros.isActive());
    EXPECT_EQ(glav->tool_button("ToolButton1")->text(), "пуск");
}

// Devices at 1 (38400) and 2 (19200). Every speed of numbers 1..3, ended by X while number 3
// is awaited at 4800: the exchange
// lines cleared and the information window red while it runs; then the closing steps all the
// same, and the console at the device found, with that speed's time-outs, polling again.
TEST_F(Search, DeviceSearchAtEverySpeedEndedByX)
{
    start({"--device-at", "1:38400", "--device-at", "2:19200"});
    click(find<QRadioButton>("RGtyp_opros_0"));
    click(glav->tool_button("ToolButton1"));
    const QColor colour = info_colour();
    QString notice;
    bool red = false, cleared = false, polled = false;
    run("N_poisk_pribor", [&] {
        notice = msg->isVisible() ? msg->label1()->text() : notice;
        red |= info_colour() == QColor(Qt::red);
        cleared |= find<QListWidget>("LBtuda")->count() + find<QListWidget>("LBsuda")->count() == 0;
        polled |= glav->readings().Timer_opros.isActive();
        if (ctx->link.settings().sys_num == 3 && ctx->link.pr_out() == 1)  // the receive's second pass
            press(Qt::Key_X);
    });
    EXPECT_EQ(notice, "Подождите!... Идет ПОИСК приборов, отвечающих на наш запрос.....");
    EXPECT_TRUE(red && cleared && !polled);
    EXPECT_FALSE(msg->isVisible());
    EXPECT_EQ(info_colour(), colour);

    const QStringList lines = last_lines(5);
    expect_like(lines[0], every_speed_line(1, 4));
    expect_like(lines[1], every_speed_line(2, 3));
    EXPECT_EQ(lines[2], "прерван поиск на 3 номере");
    expect_like(lines[3], elapsed);
    EXPECT_EQ(lines[4], "Ответилo:2 приборов:   №№:  1 2   :! паритет:0 стопбит:1 !");
    EXPECT_EQ(ctx->link.settings().sys_num, 2);
    EXPECT_EQ(ctx->link.settings().scor_obmena, 19200);
    EXPECT_EQ(ctx->link.settings().num_scor, 2) << "the speed code stays";
    EXPECT_EQ(line(), std::vector<int>({19200, 3, 20, 16})) << "not 4800's, where X came";
    EXPECT_EQ(glav->status_panel(1) + glav->status_panel(2), " Адрес: 2 Скорость: 19200");
    EXPECT_TRUE(glav->readings().Timer_opros.isActive());
}

// Devices at 2 (9600) and 3 (19200, its own name and signal), the console at 5 where none
// is: the search ends at 3 with the start-up's exchanges, so that 3's name, version and
// readings are shown at once, and its speed is noted as the one the port runs at.
TEST_F(Search, ADeviceSearchEndsAskingAndShowingTheDeviceFound)
{
    start({"--device-at", "2", "--device-at", "3:19200", "--command", "device 2", "--command", "name Прибор 3",
           "--command", "version V3.1", "--command", "signal 1 50"});
    QFile::resize(log_path(), 0);
    run("N_poisk_pribor", [&] {
        if (info_lines().value(info_lines().size() - 1).startsWith(QStringLiteral(" №=3 ")))
            press(Qt::Key_Q);
    });
    EXPECT_EQ(ctx->link.settings().sys_num, 3);
    EXPECT_EQ(ctx->link.settings().num_scor, 2) << "the speed code stays";
    EXPECT_EQ(ctx->device.scor_CN(3), 3) << "19200, where it answers";
    EXPECT_EQ(text("Ed_name"), "Прибор 3");
    EXPECT_EQ(text("Ed_version"), "V3.1");
    EXPECT_EQ(text("LEizm_te1"), "125.0000");
    EXPECT_EQ(text("LEizm_proc1"), " 50.0000");
    EXPECT_EQ(glav->status_panel(0) + '|' + glav->status_panel(1) + '|' + glav->status_panel(2) + '|' +
                  glav->status_panel(3) + '|' + glav->status_panel(4),
              " Порт: COM1| Адрес: 3| Скорость: 19200| паритет: нет | стопбит:1");
    const QStringList sent = requests();
    const QStringList start_up = {
        "03 03 08 00 00 01 87 88",  // the search's probe of 3
        "03 03 08 00 00 01 87 88",  // the activation's address check
        "03 03 00 20 00 03 05 E3", "03 03 00 40 00 03 05 FD", "03 03 00 60 00 03 04 37", "03 03 00 23 00 04 B4 21",
        "03 03 00 43 00 04 B4 3F", "03 03 00 63 00 04 B5 F5", "03 04 00 2C 00 02 B1 E0", "03 04 00 4C 00 02 B1 FE",
        "03 04 00 6C 00 02 B0 34", "03 04 00 02 00 02 D1 E9", "03 03 00 2A 00 02 E4 21", "03 03 00 4A 00 02 E4 3F",
        "03 03 00 6A 00 02 E5 F5", "03 04 00 04 00 05 70 2A", "03 04 00 09 00 05 E1 E9",
    };
    ASSERT_GE(sent.size(), start_up.size());
    EXPECT_EQ(sent.mid(sent.size() - start_up.size()), start_up) << sent.join('|').toStdString();
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}

// With a port that cannot be opened the number search ends at number 1 (the summary still
// lists 5, found at start-up); without a speed it asks once and sends nothing. The
// activation that follows each has its own say about the port.
TEST_F(Search, ANumberSearchThatCannotRunSaysSoOnce)
{
    start({});
    ctx->ports.set(1, dir.filePath("gone").toStdString());
    boxes.clear();
    run("N_poisk_num");
    EXPECT_EQ(boxes.mid(0, 2), QStringList({"ошибка настройки порта ", "ошибка настройки порта "}))
        << "number 1, the set-back";
    QStringList lines = info_lines();
    ASSERT_GE(lines.size(), 7) << lines.join('|').toStdString();
    EXPECT_EQ(lines[2] + lines[3], "..поиск прекращён на 1 номере: порт COM1 не открывается");
    EXPECT_EQ(lines[5], "Ответилo:1 приборов:   №№:  5   :! паритет:0 стопбит:1 !");
    EXPECT_EQ(lines[6], "на скорости 9600 отозвался №5  [ Pb=0 , Sb=1 ]");

    ctx->ports.set(1, sim->path());
    ctx->link.set_speed(0);
    const int before = int(requests().size());
    boxes.clear();
    run("N_poisk_num");
    EXPECT_EQ(boxes.value(0), "выберите скорость ");
    EXPECT_EQ(boxes.count("выберите скорость "), 1) << boxes.join('|').toStdString();
    lines = info_lines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], " ищем отвечающий № на скорости 0  [ Pb=0, Sb=1 ]");
    EXPECT_EQ(lines[2], " ");
    EXPECT_TRUE(requests().mid(before).filter(QRegularExpression("^(?!05 )")).isEmpty()) << "only 5 is asked";
    EXPECT_FALSE(msg->isVisible());
}

// All 247 numbers at 115200 (the shortest time-outs: about 5 s; no device, as one would have
// to answer within 12 ms on a busy machine): three standing progress lines of 75 numbers
// and the last one of 22.
TEST_F(Search, AFullNumberSearchLeavesThreeStandingProgressLinesAndALastOne)
{
    start({"--fault", "silence always"}, 115200);
    // Nobody answers: the probe's own wait, not the room a busy machine needs for an answer.
    if (fast_run())
        ctx->link.set_fast_probe_wait(20);
    run("N_poisk_num");
    const QStringList lines = info_lines();
    ASSERT_EQ(lines.size(), 8) << lines.join('|').toStdString();
    EXPECT_EQ(lines[2], QString(76, '.'));
    EXPECT_EQ(lines[3], " " + QString(75, '.'));
    EXPECT_EQ(lines[4], " " + QString(75, '.'));
    EXPECT_EQ(lines[5], " " + QString(22, '.'));
    expect_like(lines[6], elapsed);
    EXPECT_EQ(lines[7], "Ответилo:0 приборов:   №№:    :! паритет:0 стопбит:1 !");
    EXPECT_EQ(boxes, QStringList{"на скорости 115200 не отвечает ни один номер из 1..247"});
}

// The start-up probe is no search: X pressed while it waits for a silent number ends nothing
// (it used to escape as the search's interrupt and end the program), and the number stays
// without a speed.
TEST_F(Search, TheXKeyDuringTheStartUpProbeEndsNothing)
{
    start({});
    write_ini(ini_for_sim(9600, 1, 6));
    QTimer hand;
    QObject::connect(&hand, &QTimer::timeout, [&] {
        if (ctx->link.pr_out() == 1)
            press(Qt::Key_X);
    });
    hand.start(0);
    TFMsetup again(*ctx, *glav);
    hand.stop();
    EXPECT_EQ(ctx->link.settings().sys_num, 6);
    EXPECT_EQ(ctx->device.scor_CN(6), 0);
}

}  // namespace
}  // namespace varnok::test
