// Start-up, activation, the connection column and the settings file, against the simulator.
#include <QAccessible>

#include "console/params/params_page.h"
#include "console_fixture.h"
#include "support/libmodbus_slave.h"
#include "support/pty.h"

namespace varnok::test {
namespace {

using Startup = ConsoleOnSim;

TEST_F(Startup, FirstStartWritesTheDefaultsProbesThenPollsInOrder)
{
    start_sim();
    start_console(/*map_com1=*/true);
    EXPECT_EQ(read_ini(),
              QStringLiteral("[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=1\n\n"
                             "[таймауты]\n RIT=30\n RTTM=5\n RTTC=225\n WTTM=0\n WTTC=0\n"));
    show_and_activate();

    const QStringList expected = {
        "05 03 08 00 00 01 87 EE",  // start-up probe (search mode)
        "05 03 08 00 00 01 87 EE",  // activation's address check
        "05 03 00 20 00 03 05 85", "05 03 00 40 00 03 05 9B", "05 03 00 60 00 03 04 51", "05 03 00 23 00 04 B4 47",
        "05 03 00 43 00 04 B4 59", "05 03 00 63 00 04 B5 93", "05 04 00 2C 00 02 B1 86", "05 04 00 4C 00 02 B1 98",
        "05 04 00 6C 00 02 B0 52", "05 04 00 02 00 02 D1 8F", "05 03 00 2A 00 02 E4 47", "05 03 00 4A 00 02 E4 59",
        "05 03 00 6A 00 02 E5 93", "05 04 00 04 00 05 70 4C", "05 04 00 09 00 05 E1 8F",
    };
    ASSERT_TRUE(wait_for([&] { return requests().size() >= expected.size(); }));
    EXPECT_EQ(requests(), expected);

    EXPECT_EQ(glav->status_panel(0), " Порт: COM1");
    EXPECT_EQ(glav->status_panel(1), " Адрес: 5");
    EXPECT_EQ(glav->status_panel(2), " Скорость: 9600");
    EXPECT_EQ(glav->status_panel(3), " паритет: нет ");
    EXPECT_EQ(glav->status_panel(4), " стопбит:1");
    EXPECT_EQ(ctx->device.scor_CN(5), 2);

    // The simulator's own values, in the console's formats.
    const Device& d = ctx->device;
    EXPECT_EQ(text("LE_Scl1"), " 250.0");
    EXPECT_EQ(text("LE_Scl1a"), "ddd.d");
    EXPECT_EQ(find<QLabel>("LE_Scl1_label")->text(), "В ");
    EXPECT_EQ(text("LE_Scl2"), " 5.000");
    EXPECT_EQ(find<QLabel>("LEizm_te3_label")->text(), "мА");
    EXPECT_EQ(text("LE_max1"), "225");
    EXPECT_EQ(text("LE_min2"), "0.5");
    EXPECT_EQ(text("LEizm_te1"), "106.2500");  // 42.5 % of 250
    EXPECT_EQ(text("Eizm_te1"), "106.2");
    EXPECT_EQ(text("LEizm_proc1"), " 42.5000");
    EXPECT_EQ(text("LEfreq"), "  50.000");
    EXPECT_EQ(text("Ed_name"), "Варнок ПМ3");
    EXPECT_EQ(text("Ed_version"), "V2.07 2026");
    EXPECT_EQ(d.Ch(1).PWML, 480);  // read by the poll, not shown
    // The last exchange shown is the version read; the PWM reads are not shown.
    EXPECT_EQ(find<QListWidget>("LBtuda")->item(0)->text(), "05 04 00 09 00 05 E1 8F ");
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}

TEST_F(Startup, ClosingRewritesOnlyTheLinkSectionAndKeepsHandEditedTimeouts)
{
    start_sim();
    write_ini(ini_for_sim() + QStringLiteral("\n[таймауты]\n RIT=30\n RTTM=5\n RTTC=300\n WTTM=0\n WTTC=0\n"));
    start_console();
    show_and_activate();
    auto* scor = find<QComboBox>("CBscor");
    scor->setCurrentIndex(2);
    emit scor->activated(2);
    glav->close();
    const QString after = read_ini();
    EXPECT_TRUE(after.contains("СКОРОСТЬ=19200\n")) << after.toStdString();
    EXPECT_TRUE(after.contains(" RTTC=300\n")) << after.toStdString();
    EXPECT_TRUE(after.contains(QStringLiteral("COM1=") + QString::fromStdString(sim->path())));
}

TEST_F(Startup, TheFastExchangeBoxSwitchesTheLinkAndIsRememberedAcrossRuns)
{
    start_all();
    auto* box = find<QCheckBox>("ChBfast_obmen");
    EXPECT_EQ(box->accessibleName(), "быстрый обмен");
    EXPECT_TRUE(box->toolTip().startsWith("быстрый обмен: "));
    const bool was = fast_run();
    EXPECT_EQ(box->isChecked(), was);

    // A screen reader's toggle switches it as a click does.
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
    ASSERT_TRUE(a && a->actionInterface());
    a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(ctx->link.settings().fast_exchange, !was);
    glav->close();
    EXPECT_TRUE(read_ini().contains(QStringLiteral("[быстрый обмен]\nВКЛЮЧЕН=%1\n").arg(was ? 0 : 1)))
        << read_ini().toStdString();

    msg.reset();
    setup.reset();
    comdcb.reset();
    about.reset();
    glav.reset();
    ctx.reset();
    start_console();
    EXPECT_EQ(ctx->link.settings().fast_exchange, !was);
    EXPECT_EQ(find<QCheckBox>("ChBfast_obmen")->isChecked(), !was);
}

TEST_F(Startup, TheStoredPortAndSpeedAreWhereTheConsoleLooksForTheDevice)
{
    start_sim({"--speed", "19200"});
    write_ini(ini_for_sim(19200, 3));
    start_console();
    EXPECT_EQ(ctx->device.scor_CN(5), 3) << "the start-up probe found the device at 19200 on COM3";
    show_and_activate();
    EXPECT_EQ(glav->status_panel(0), " Порт: COM3");
    EXPECT_EQ(glav->status_panel(2), " Скорость: 19200");
    EXPECT_EQ(find<QComboBox>("CBport")->currentText(), "COM3");
    EXPECT_EQ(find<QComboBox>("CBscor")->currentText(), "19200");
    EXPECT_EQ(text("Ed_name"), "Варнок ПМ3");
}

// A speed that is none of the six reads as 9600: the fast exchange once timed its start-up
// probe by 1 bit/s and hung the console for half a minute.
TEST_F(Startup, AnUnknownStoredSpeedStartsAt9600AtOnce)
{
    start_sim();
    write_ini(ini_for_sim(1) + (fast_run() ? QString() : QStringLiteral("\n[быстрый обмен]\nВКЛЮЧЕН=1\n")));
    QElapsedTimer took;
    took.start();
    start_console();
    show_and_activate();
    EXPECT_LT(took.elapsed(), 15000);
    EXPECT_TRUE(ctx->link.settings().fast_exchange);
    EXPECT_EQ(ctx->link.settings().scor_obmena, 9600);
    EXPECT_EQ(ctx->device.scor_CN(5), 2) << "the start-up probe found the device at 9600";
    EXPECT_EQ(find<QComboBox>("CBscor")->currentText(), "9600");
    EXPECT_EQ(text("Ed_name"), "Варнок ПМ3");
}

TEST_F(Startup, ASilentDeviceLeavesTheFieldsAsTheyWereWithoutAWord)
{
    start_sim({"--fault", "silence always"});
    write_ini(ini_for_sim());
    start_console();
    show_and_activate();
    EXPECT_EQ(ctx->device.scor_CN(5), 0);
    EXPECT_EQ(text("Ed_name"), "");
    EXPECT_EQ(text("LE_Scl1"), "");
    EXPECT_TRUE(info_lines().isEmpty());
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(requests().size(), 2) << "probe and address check only";
}

TEST_F(Startup, ACorruptSettingsFileLeavesTheDefaultsSaysSoOnceAndIsNotOverwritten)
{
    start_sim();
    const QByteArray junk("\xFF\xFE[связь]\x00\x01garbage", 18);
    {
        QFile f(ini_path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(junk);
    }
    start_console(true);
    show_and_activate();
    ASSERT_EQ(info_lines().size(), 1);
    EXPECT_TRUE(info_lines()[0].contains(ini_path())) << info_lines()[0].toStdString();
    EXPECT_EQ(ctx->link.settings().sys_num, 5);
    EXPECT_EQ(text("Ed_name"), "Варнок ПМ3") << "the console runs on its defaults";
    glav->close();
    QFile f(ini_path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), junk);
}

TEST_F(Startup, AnUnwritableSettingsFolderIsReportedAndTheConsoleRuns)
{
    start_sim();
    QFile blocker(dir.filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    MessageBox::set_recorder([this](const QString& t, const QString&) { boxes << t; });
    ctx = std::make_unique<ConsoleContext>(dir.filePath("not-a-folder/varnok.ini").toStdString());
    ctx->ports.set(1, sim->path());
    glav = std::make_unique<TFglav>(*ctx);
    setup = std::make_unique<TFMsetup>(*ctx, *glav);
    show_and_activate();
    ASSERT_EQ(info_lines().size(), 1);
    EXPECT_TRUE(info_lines()[0].contains("not-a-folder")) << info_lines()[0].toStdString();
    EXPECT_EQ(text("Ed_name"), "Варнок ПМ3");
    glav->close();  // a second failure, told in a box before the window is gone, never a crash
    EXPECT_EQ(info_lines().size(), 2);
    EXPECT_EQ(boxes, QStringList("Настройки не сохранены"));
}

TEST_F(Startup, ConnectionListsChangeOnlyTheSettings)
{
    start_all();
    const struct {
        const char* list;
        int index;
    } picks[] = {{"CBscor", 5}, {"CBparity", 2}, {"CBstopbit", 1}, {"CBport", 15}};
    for (const auto& p : picks) {
        auto* cb = find<QComboBox>(p.list);
        cb->setCurrentIndex(p.index);
        emit cb->activated(p.index);
    }
    const LinkSettings& link = ctx->link.settings();
    EXPECT_EQ(link.scor_obmena, 115200);
    EXPECT_EQ(link.num_scor, 6);
    EXPECT_EQ(link.parity, 2);
    EXPECT_EQ(link.stopbit, 2);
    EXPECT_EQ(link.num_name_comport, 16);
    EXPECT_EQ(link.name_comport, "COM16");
    EXPECT_EQ(glav->status_panel(2), " Скорость: 9600") << "the status bar waits for the next activation";
    EXPECT_FALSE(find<QComboBox>("CBscor")->isEditable());
}

TEST_F(Startup, TheAddressMovesOnlyThroughTheUpDownWithinItsRange)
{
    start_all();
    auto* edit = find<QLineEdit>("Esysnum");
    auto* updown = find<UpDown>("UpDown_adr");
    edit->clear();
    QTest::keyClicks(edit, "1a2");
    EXPECT_EQ(edit->text(), "12") << "a letter inserts nothing";
    EXPECT_EQ(ctx->link.settings().sys_num, 5) << "typing alone does not change the address";
    click(updown->upButton());
    EXPECT_EQ(ctx->link.settings().sys_num, 13);
    EXPECT_EQ(edit->text(), "13");
    EXPECT_EQ(text("Ecur_sysnum"), "13");

    edit->setText("246");
    for (int i = 0; i < 2; ++i)
        click(updown->upButton());
    EXPECT_EQ(ctx->link.settings().sys_num, 247);
    EXPECT_EQ(edit->text(), "247");
    edit->setText("2");
    for (int i = 0; i < 2; ++i)
        click(updown->downButton());
    EXPECT_EQ(ctx->link.settings().sys_num, 1);
    EXPECT_EQ(edit->text(), "1");
}

TEST_F(Startup, PortInitialisationListsNineLines)
{
    start_all();
    for (int round = 0; round < 2; ++round)
        click(find<QPushButton>("Binitport"));
    auto* list = find<QListWidget>("LB_initport");
    ASSERT_EQ(list->count(), 9);
    const QStringList expected = {"U=9600",  "bytesize=8", "P=0",    "Sp=1",  "RTI=3",
                                  "RTTM=20", "RTTC=16",    "WTTM=0", "WTTC=0"};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(list->item(i)->text(), expected[i]);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Startup, APortThatCannotBeOpenedIsReportedAtActivation)
{
    start_sim();
    write_ini(ini_for_sim(9600, 2));  // COM2 maps to the simulator ...
    start_console();
    ctx->ports.set(2, dir.filePath("gone").toStdString());  // ... but it is unplugged
    boxes.clear();
    show_and_activate();
    ASSERT_FALSE(boxes.isEmpty());
    EXPECT_EQ(boxes[0], "ошибка настройки порта ");
}

// A network number register holding 250 (a device or a noisy answer with a good CRC): the
// console follows the number through the start-up probe, the activation and a poll tick,
// where nobody answers at 250.
TEST_F(Startup, ANumberOutsideOneTo247FromTheWireIsReportedNeverAdopted)
{
    Pty line;
    LibmodbusSlave device(line.master(), 5);
    device.map->tab_registers[0x800] = 250;
    device.start();
    write_ini(QStringLiteral("[связь]\nНОМЕР=5\n[порты]\nCOM1=") + QString::fromStdString(line.slave_path()));
    start_console();
    EXPECT_EQ(ctx->link.settings().sys_num, 5);
    EXPECT_EQ(ctx->device.scor_CN(250), 0);
    show_and_activate();
    EXPECT_EQ(glav->status_panel(1), " Адрес: 5");

    glav->params().BreadClick(kRowSysnum);
    EXPECT_EQ(ctx->link.settings().sys_num, 5);
    EXPECT_TRUE(info_lines().contains(" 03 0800  неверный формат ответа adr|kol7:05 03 02 00 FA C9 C7 "))
        << info_lines().join('|').toStdString();
    glav->readings().Timer_oprosTimer();
    EXPECT_EQ(ctx->link.settings().sys_num, 5);
}

}  // namespace
}  // namespace varnok::test
