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
    run("N_poisk_num", [&] {
        if (msg->isVisible())
            notice_text = msg->label1()->text();
        timer_seen_on |= glav->readings().Timer_opros.isActive();
        if (glav->status_panel(5) == " Номер: 4 ск=0")
            press(Qt::Key_Q);
    });

    EXPECT_EQ(notice_text, "Подождите!... Идет ПОИСК НОМЕРОВ, отвечающих на скорость 9600 ...");
    EXPECT_FALSE(msg->isVisible());
    EXPECT_FALSE(timer_seen_on);
    EXPECT_EQ(addressed(before), QList<int>({1, 2, 3, 4}));
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

}  // namespace
}  // namespace varnok::test
