// The console on a port mapped to tcp://, the simulator playing an Ethernet-to-RS-485
// converter on loopback: start-up, a poll, a write and a number search as on a serial line,
// on one connection; a dropped connection told once, and "инициализация СОМпорта" connecting
// again; a peer that never stops sending told once, the window answering all the while.
#include <QAction>
#include <QTimer>

#include "console_fixture.h"
#include "support/flooding_peer.h"

namespace varnok::test {
namespace {

TEST_F(ConsoleOnSim, OverTcpAsOnASerialLine)
{
    // Devices 5 and 3 behind the converter, answers passed on whole as converters do.
    start_sim({"--tcp", "0", "--device-at", "5", "--device-at", "3"});
    ASSERT_TRUE(sim->path().rfind("tcp://127.0.0.1:", 0) == 0);
    write_ini(ini_for_sim());
    start_console();
    show_and_activate();
    EXPECT_EQ(text("Ed_name"), "Варнок ПМ3");
    EXPECT_EQ(requests().value(0), "05 03 08 00 00 01 87 EE") << "the start-up probe";
    EXPECT_EQ(connections(), 1) << "the probe and the activation set the port up twice each";

    click(find<QPushButton>("Bzapros"));
    EXPECT_EQ(text("LEfreq"), "  50.000");
    EXPECT_EQ(text("LE_Scl2"), " 5.000");
    find<QSlider>("TrackBar_light")->setValue(1);  // the top: brightness 3
    EXPECT_EQ(sim->command("get holding 1"), "ok 3");
    EXPECT_TRUE(info_lines().isEmpty()) << info_lines().join('\n').toStdString();
    EXPECT_TRUE(boxes.isEmpty());

    sim->command("drop");
    click(find<QPushButton>("Bzapros"));
    click(find<QPushButton>("Bzapros"));
    EXPECT_EQ(boxes, QStringList{"ошибка настройки порта "}) << "told once, not per exchange";
    EXPECT_TRUE(info_lines().last().contains("не дождались ответа")) << info_lines().join('\n').toStdString();

    click(find<QPushButton>("Binitport"));
    const int lines = int(info_lines().size());
    click(find<QPushButton>("Bzapros"));
    EXPECT_EQ(int(info_lines().size()), lines) << "connected again, every answer good";
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_EQ(connections(), 2);

    // A number search, cut short by Q once number 6 is under way, finds both devices.
    QTimer hand;
    QObject::connect(&hand, &QTimer::timeout, [&] {
        if (glav->status_panel(5).startsWith(QStringLiteral(" Номер: 6 ск=")))
            QTest::keyClick(glav.get(), Qt::Key_Q);
    });
    hand.start(0);
    find<QAction>("N_poisk_num")->trigger();
    EXPECT_TRUE(info_lines().contains("Ответилo:2 приборов:   №№:  3 5   :! паритет:0 стопбит:1 !"))
        << info_lines().join('\n').toStdString();
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_EQ(connections(), 2) << "each number sets the port up twice";

    // The device's parity written: the console follows it on the same connection.
    click(glav->tool_button("ToolButton9"));
    find<QComboBox>("CBint_parity")->setCurrentIndex(2);
    click(find<QPushButton>("SBint_write_parity"));
    EXPECT_EQ(ctx->link.settings().parity, 2);
    EXPECT_EQ(ctx->link.dcb().Parity, 2);
    EXPECT_EQ(connections(), 2);
}

TEST_F(ConsoleOnSim, APeerThatNeverStopsSendingIsToldOnce)
{
    const FloodingPeer peer;
    ASSERT_FALSE(peer.where().empty());
    write_ini(QStringLiteral("[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\n\n[порты]\nCOM1=%1\n")
                  .arg(QString::fromStdString(peer.where())));
    start_console();
    show_and_activate();
    ASSERT_TRUE(wait_for([&] { return peer.requests() >= 1; }));
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 3; ++i)
        click(find<QPushButton>("Bzapros"));
    EXPECT_LT(t.elapsed(), 20000) << "three polls under the flood";
    EXPECT_EQ(boxes, QStringList{"ошибка настройки порта "}) << "told once, not per exchange";
    EXPECT_GE(peer.sent(), 1 << 16);
    EXPECT_FALSE(ctx->link.hcom().is_open());
}

}  // namespace
}  // namespace varnok::test
