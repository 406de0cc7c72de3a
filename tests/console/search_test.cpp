// The device search of the menu "файл" against the simulator: scans cut short with the
// interrupt keys, the speed search, the answer check, and what each leaves behind.
#include <QAction>
#include <QTimer>
#include <QToolBar>
#include <functional>

#include "console/search/device_search.h"
#include "console_fixture.h"

namespace varnok::test {
namespace {

class Search : public ConsoleOnSim {
protected:
    // `each` runs at every pump of the event loop while the command runs, as an operator's
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

    uint32_t port_baud() const
    {
        Dcb d;
        return ctx->link.hcom.get_state(d) == 0 ? d.BaudRate : 0;
    }
    std::vector<int> timeouts() const
    {
        const Link& l = ctx->link;
        return {l.R_IntervalTimeout, l.R_TotalTimeoutMultiplier, l.R_TotalTimeoutConstant};
    }
    // The speeds at which the simulator heard a request it could not take.
    QStringList foreign_speeds() const
    {
        QFile f(log_path());
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        static const QRegularExpression re("speed mismatch: terminal (\\d+) bit/s");
        for (const QByteArray& line : f.readAll().split('\n'))
            if (const auto m = re.match(QString::fromLatin1(line)); m.hasMatch())
                out << m.captured(1);
        return out;
    }
    // The first byte of each request the simulator heard since `from`.
    QList<int> addressed(int from) const
    {
        QList<int> out;
        for (const QString& r : requests().mid(from))
            out << r.left(2).toInt(nullptr, 16);
        return out;
    }
    QToolBar* tool_bar() const { return glav->findChild<QToolBar*>("ToolBar1"); }
    QColor info_colour() const { return find<QListWidget>("ListBox1")->palette().color(QPalette::Text); }
    void periodic(bool running)
    {
        click(find<QRadioButton>("RGtyp_opros_0"));
        if (running)
            click(glav->tool_button("ToolButton1"));
    }

    const QRegularExpression elapsed{"^  \\d\\d:\\d\\d:\\d\\d:\\d{3} мс  прошло  \\S.* $"};
    const QRegularExpression started{"^ начало в: \\S.* \\.\\.\\.$"};
};

QRegularExpression all_speeds_line(int n, int code)
{
    return QRegularExpression(QStringLiteral("^ №=%1  V=%2 \\.\\.\\.  \\d{1,2}:\\d\\d:\\d\\d:\\d{3}   "
                                             "\\(\\d+:\\d{3} мс\\)  всего: \\d+:\\d\\d:\\d{3} $")
                                  .arg(n)
                                  .arg(code));
}

TEST_F(Search, AnswerCheckShowsOneLineAndABoxOnlyWhenNobodyAnswers)
{
    start_all();
    periodic(true);
    const QString request_line = find<QListWidget>("LBtuda")->item(0)->text();
    const struct {
        int number;
        QString line;
        QStringList boxes;
    } cases[] = {
        {5, " #=5 V=9600 : Pb=0 Sb=1 : OK!", {}},
        {1, " #=1 V=9600 : Pb=0 Sb=1 :  нет ответа", {" #=1 V=9600 : Pb=0 Sb=1 :  нет ответа"}},
    };
    for (const auto& c : cases) {
        ctx->link.sys_num = uint8_t(c.number);
        find<QListWidget>("ListBox1")->hide();
        boxes.clear();
        run("N_yes_otvet");
        EXPECT_TRUE(find<QListWidget>("ListBox1")->isVisible());
        EXPECT_EQ(info_lines().last(), c.line);
        EXPECT_EQ(find<QListWidget>("ListBox1")->currentRow(), info_lines().size() - 1);
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_TRUE(glav->readings().Timer_opros.isActive()) << "the poll timer is left alone";
        EXPECT_EQ(find<QListWidget>("LBtuda")->item(0)->text(), request_line) << "the exchange log is not written";
    }
}

// The number search cut short by Q after number 4; a Q pressed before the scan does not count.
// An entry from an earlier scan (200 at 115200) is in the summary, and the console still ends
// at the lowest number, at that number's speed.
TEST_F(Search, NumberSearchInterruptedByQFindsTheDeviceAndAddressesIt)
{
    start_sim({"--address", "3"});
    write_ini(ini_for_sim());
    start_console();
    show_and_activate();
    ctx->device.scor_CN[200] = 6;
    const int before = int(requests().size());

    QCoreApplication::postEvent(glav.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, "q"));
    QString notice_text;
    bool timer_seen_on = false;
    bool stayed_active = true;
    run("N_poisk_num", [&] {
        if (msg->isVisible())
            notice_text = msg->label1()->text();
        stayed_active &= glav->isActiveWindow();
        timer_seen_on |= glav->readings().Timer_opros.isActive();
        if (glav->status_panel(5) == " Номер: 4 ск=0")
            press(Qt::Key_Q);
    });

    EXPECT_EQ(notice_text, "Подождите!... Идет ПОИСК НОМЕРОВ, отвечающих на скорость 9600 ...");
    // The offscreen platform gives every window shown the focus; on X the notice leaves it.
    if (QGuiApplication::platformName() != "offscreen")
        EXPECT_TRUE(stayed_active) << "the notice does not take the focus";
    EXPECT_FALSE(msg->isVisible());
    EXPECT_FALSE(timer_seen_on);
    QTest::qWait(100);
    EXPECT_EQ(addressed(before), QList<int>({1, 2, 3, 4})) << "and its going runs no activation";
    const QStringList lines = info_lines();
    ASSERT_EQ(lines.size(), 7) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], " ищем отвечающий № на скорости 9600  [ Pb=0, Sb=1 ]");
    EXPECT_TRUE(started.match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "....3 .");
    EXPECT_EQ(lines[3], "прерван поиск на 4 номере");
    EXPECT_TRUE(elapsed.match(lines[4]).hasMatch()) << lines[4].toStdString();
    EXPECT_EQ(lines[5], "Ответилo:2 приборов:   №№:  3 200   :! паритет:0 стопбит:1 !");
    EXPECT_EQ(lines[6], "на скорости 9600 отозвался №3  [ Pb=0 , Sb=1 ]");

    const Device& d = ctx->device;
    EXPECT_EQ(d.scor_CN[3], 2);
    EXPECT_EQ(d.scor_CN[4], 0);
    EXPECT_EQ(ctx->link.sys_num, 3);
    EXPECT_EQ(ctx->link.scor_obmena, 9600);
    EXPECT_EQ(port_baud(), 9600u);
    EXPECT_EQ(glav->status_panel(1), " Номер: 3");
    EXPECT_EQ(glav->status_panel(2), " Скорость Обмена: 9600");
    EXPECT_EQ(glav->status_panel(5), " ");
    EXPECT_TRUE(tool_bar()->isVisible());
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}

// Nobody at 6: a message, and the port back at the speed in force with its time-outs. The
// device at 38400: the lower speeds are tried first, and the console stays at 38400. The
// armed periodic poll starts ticking afterwards although the button still shows "пуск".
TEST_F(Search, SpeedSearchKeepsTheSpeedFoundOrGoesBackToTheOneInForce)
{
    start_sim({"--speed", "38400"});
    write_ini(ini_for_sim());
    start_console();
    show_and_activate();
    periodic(false);

    ctx->link.sys_num = 6;
    run("N_poisk_scor");
    EXPECT_EQ(boxes, QStringList{"№6 не отвечает ни на одной из скоростей   при Pb=0 и Sb=1"});
    EXPECT_EQ(ctx->link.scor_obmena, 9600);
    EXPECT_EQ(port_baud(), 9600u);
    EXPECT_EQ(timeouts(), std::vector<int>({3, 20, 16})) << "not those of 115200, the last speed tried";
    EXPECT_EQ(info_lines().size(), 3);
    EXPECT_TRUE(info_lines().last().startsWith(" конец в: "));

    ctx->link.sys_num = 5;
    boxes.clear();
    QFile::resize(log_path(), 0);
    QString notice_text;
    QString colour_during;
    run("N_poisk_scor", [&] {
        if (msg->isVisible())
            notice_text = msg->label1()->text();
    });
    EXPECT_EQ(notice_text, "Подождите!... Идет ПОИСК СКОРОСТИ для номера 5 ....");
    EXPECT_FALSE(msg->isVisible());
    EXPECT_EQ(foreign_speeds(), QStringList({"4800", "9600", "19200"}));
    EXPECT_EQ(requests().size(), 4) << "one request per speed, the last one answered";
    const QStringList lines = info_lines();
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], " ищем скорость для №=5  [ Pb=0, Sb=1 ]");
    EXPECT_TRUE(started.match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(" конец в: "));
    EXPECT_EQ(lines[3], "№5 ответил на 38400  [ Pb=0, Sb=1 ]");
    EXPECT_EQ(glav->status_panel(5), " Ответил на Скорость Обмена: 38400");
    EXPECT_EQ(ctx->device.scor_CN[5], 4);
    EXPECT_EQ(ctx->link.scor_obmena, 38400);
    EXPECT_EQ(port_baud(), 38400u);
    EXPECT_EQ(timeouts(), std::vector<int>({2, 20, 16}));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
    EXPECT_TRUE(glav->readings().Timer_opros.isActive());
    EXPECT_EQ(glav->tool_button("ToolButton1")->text(), "пуск");
}

// Every speed of numbers 1..3, Q after 3. The exchange lines are cleared, the information
// window is red while it runs, no click reaches a handler, the window keeps being painted;
// afterwards the console talks to the device found at its speed and time-outs, and the
// running periodic poll goes on.
TEST_F(Search, DeviceSearchAtEverySpeedInterruptedByQ)
{
    start_sim({"--address", "2", "--speed", "19200"});
    write_ini(ini_for_sim());
    start_console();
    show_and_activate();
    periodic(true);
    const QColor colour = info_colour();
    find<QListWidget>("LBtuda")->addItem("01 02 ");
    auto* freq = find<QLineEdit>("LEfreq");
    int paints = 0;
    struct PaintCounter : QObject {
        int& n;
        explicit PaintCounter(int& count) : n(count) {}
        bool eventFilter(QObject*, QEvent* e) override
        {
            n += e->type() == QEvent::Paint;
            return false;
        }
    } counter(paints);
    freq->installEventFilter(&counter);

    QString notice_text;
    bool red = false, lines_cleared = false, timer_seen_on = false;
    run("N_poisk_pribor", [&] {
        if (msg->isVisible())
            notice_text = msg->label1()->text();
        red |= info_colour() == QColor(Qt::red);
        lines_cleared |= find<QListWidget>("LBtuda")->count() == 0 && find<QListWidget>("LBsuda")->count() == 0;
        timer_seen_on |= glav->readings().Timer_opros.isActive();
        click(find<QPushButton>("Binitport"));
        freq->update();
        if (info_lines().join('|').contains(" №=3 "))
            press(Qt::Key_Q);
    });

    EXPECT_EQ(notice_text, "Подождите!... Идет ПОИСК приборов, отвечающих на наш запрос.....");
    EXPECT_TRUE(red);
    EXPECT_TRUE(lines_cleared);
    EXPECT_FALSE(timer_seen_on);
    EXPECT_EQ(find<QListWidget>("LB_initport")->count(), 0) << "the clicks were swallowed";
    EXPECT_GT(paints, 0);
    EXPECT_FALSE(msg->isVisible());
    EXPECT_EQ(info_colour(), colour);

    const QStringList lines = info_lines().mid(info_lines().size() - 6);
    EXPECT_TRUE(all_speeds_line(1, 0).match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(all_speeds_line(2, 3).match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(all_speeds_line(3, 0).match(lines[2]).hasMatch()) << lines[2].toStdString();
    EXPECT_EQ(lines[3], "прерван поиск на 3 номере");
    EXPECT_TRUE(elapsed.match(lines[4]).hasMatch()) << lines[4].toStdString();
    EXPECT_EQ(lines[5], "Ответилo:1 приборов:   №№:  2   :! паритет:0 стопбит:1 !");

    EXPECT_EQ(ctx->link.sys_num, 2);
    EXPECT_EQ(ctx->link.scor_obmena, 19200);
    EXPECT_EQ(ctx->link.num_scor, 2) << "the speed code and the connection column stay";
    EXPECT_EQ(port_baud(), 19200u);
    EXPECT_EQ(timeouts(), std::vector<int>({3, 20, 16})) << "not those of 115200, the last speed tried";
    EXPECT_EQ(glav->status_panel(1), " Номер: 2");
    EXPECT_EQ(glav->status_panel(2), " Скорость Обмена: 19200");
    EXPECT_TRUE(glav->readings().Timer_opros.isActive());
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}

// X while a silent number is awaited ends a scan or the speed search like the end of its
// loop: notice hidden, colour restored, number and speed as before, time and summary written.
TEST_F(Search, TheXKeyEndsASearchWithItsClosingSteps)
{
    start_sim({"--address", "9"});
    write_ini(ini_for_sim());
    start_console();
    show_and_activate();
    const QColor colour = info_colour();
    const Link& link = ctx->link;
    auto x_during = [&](int number) {
        return [&, number] {
            if (link.sys_num == number && link.pr_out == 1)
                press(Qt::Key_X);
        };
    };

    run("N_poisk_pribor", x_during(2));
    const QStringList lines = info_lines().mid(info_lines().size() - 4);
    EXPECT_TRUE(all_speeds_line(1, 0).match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "прерван поиск на 2 номере");
    EXPECT_TRUE(elapsed.match(lines[2]).hasMatch()) << lines[2].toStdString();
    EXPECT_EQ(lines[3], "Ответилo:0 приборов:   №№:    :! паритет:0 стопбит:1 !");
    EXPECT_FALSE(msg->isVisible());
    EXPECT_EQ(info_colour(), colour);
    EXPECT_EQ(link.sys_num, 5);
    EXPECT_EQ(link.scor_obmena, 9600);
    EXPECT_EQ(port_baud(), 9600u) << "back from 4800, where X came";
    EXPECT_EQ(timeouts(), std::vector<int>({3, 20, 16}));

    run("N_poisk_scor", x_during(5));
    EXPECT_TRUE(info_lines().last().startsWith(" конец в: "));
    EXPECT_EQ(info_lines().size(), 3);
    EXPECT_FALSE(msg->isVisible());
    EXPECT_EQ(port_baud(), 9600u);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}

TEST_F(Search, AScanEndsAtTheFirstNumberWhenThePortCannotBeOpened)
{
    start_all();
    ctx->ports.set(1, dir.filePath("gone").toStdString());  // unplugged
    boxes.clear();
    run("N_poisk_num");
    EXPECT_EQ(boxes, QStringList({"ошибка настройки порта ", "ошибка настройки порта "})) << "number 1, then the set-back";
    const QStringList lines = info_lines();
    ASSERT_EQ(lines.size(), 7) << lines.join('|').toStdString();
    EXPECT_EQ(lines[2], "..");
    EXPECT_EQ(lines[3], "прерван поиск на 1 номере");
    EXPECT_EQ(lines[5], "Ответилo:1 приборов:   №№:  5   :! паритет:0 стопбит:1 !") << "found at start-up";
}

TEST_F(Search, ANumberSearchWithoutASpeedAsksOnceAndSendsNothing)
{
    start_all();
    ctx->link.scor_obmena = 0;
    const int before = int(requests().size());
    boxes.clear();
    run("N_poisk_num");
    EXPECT_EQ(boxes, QStringList{"выберите скорость "});
    EXPECT_EQ(int(requests().size()), before);
    EXPECT_EQ(info_lines().first(), " ищем отвечающий № на скорости 0  [ Pb=0, Sb=1 ]");
    EXPECT_EQ(info_lines().size(), 3);
    EXPECT_FALSE(msg->isVisible());
}

// All 247 numbers at 115200 (the fastest time-outs), one device at 100: three standing
// progress lines of 75 numbers each and the last one of 22.
TEST_F(Search, AFullNumberSearchLeavesThreeStandingProgressLinesAndALastOne)
{
    start_sim({"--address", "100", "--speed", "115200"});
    write_ini(ini_for_sim(115200));
    start_console();
    show_and_activate();
    run("N_poisk_num");
    const QStringList lines = info_lines();
    ASSERT_EQ(lines.size(), 9) << lines.join('|').toStdString();
    EXPECT_EQ(lines[2], QString(76, '.'));
    EXPECT_EQ(lines[3], " " + QString(25, '.') + "100 " + QString(50, '.'));
    EXPECT_EQ(lines[4], " " + QString(75, '.'));
    EXPECT_EQ(lines[5], " " + QString(22, '.'));
    EXPECT_TRUE(elapsed.match(lines[6]).hasMatch()) << lines[6].toStdString();
    EXPECT_EQ(lines[7], "Ответилo:1 приборов:   №№:  100   :! паритет:0 стопбит:1 !");
    EXPECT_EQ(lines[8], "на скорости 115200 отозвался №100  [ Pb=0 , Sb=1 ]");
    EXPECT_EQ(ctx->link.sys_num, 100);
    EXPECT_EQ(glav->status_panel(5), " ");
}

}  // namespace
}  // namespace varnok::test
