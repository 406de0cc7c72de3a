// The parameters page driven through its controls against the simulator: interface
// parameters, channel scales and setpoints, and the readings page's clicks that read them.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QButtonGroup>
#include <QClipboard>

#include "console/params/params_page.h"
#include "console_fixture.h"

namespace varnok::test {
namespace {

class Params : public ConsoleOnSim {
protected:
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    ParamsPage& page() { return glav->params(); }
    void open_page() { click(glav->tool_button("ToolButton9")); }
    void press(const QString& name) { click(find<QPushButton>(name.toLatin1().constData())); }
    void choose(const char* list, int index) { find<QComboBox>(list)->setCurrentIndex(index); }
    void pick(const QString& radio) { click(find<QRadioButton>(radio.toLatin1().constData())); }
    // One key press per digit box of an entry, thousands first: the old digit out, the new in.
    void type_digits(const QString& boxes, const char* digits)
    {
        for (int i = 0; i < 4; ++i) {
            QLineEdit* e = find<QComboBox>((boxes + QString::number(4 - i)).toLatin1().constData())->lineEdit();
            QTest::keyClick(e, Qt::Key_Backspace);
            QTest::keyClick(e, digits[i]);
        }
    }
    void type_number(const char* text)
    {
        auto* e = find<QLineEdit>("Eint_sysnum");
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, text);
    }
    QStringList sent_since(int before) const { return requests().mid(before); }
    // Ends this console and simulator, in the fixture's order, so a table row can start afresh.
    void stop_all()
    {
        msg.reset();
        setup.reset();
        comdcb.reset();
        about.reset();
        glav.reset();
        ctx.reset();
        sim.reset();
        boxes.clear();
    }
};

TEST_F(Params, EntryReadsScalesThenSetpointsAndShowsTheConsolesSettings)
{
    start_all();
    const int before = int(requests().size());
    glav->findChild<QAction*>("N_params")->trigger();
    EXPECT_EQ(find<QTabWidget>("PageControl1")->currentIndex(), 1);
    EXPECT_EQ(sent_since(before),
              QStringList({"05 03 00 20 00 03 05 85", "05 03 00 40 00 03 05 9B", "05 03 00 60 00 03 04 51",
                           "05 03 00 23 00 04 B4 47", "05 03 00 43 00 04 B4 59", "05 03 00 63 00 04 B5 93"}));
    EXPECT_EQ(glav->status_panel(5), " Здесь можем менять параметры ШКАЛЫ, УСТАВКИ и ИНТЕРФЕЙСА");
    EXPECT_EQ(find<QLabel>("LE_Scl1_r_label")->text(), "В ");
    EXPECT_TRUE(find<QRadioButton>("RG_scl3mes_w_3")->isChecked());
    EXPECT_EQ(page().new_mes[3], 3);
    const std::pair<const char*, const char*> shown[] = {
        {"LE_Scl1_r", " 250.0"},     {"LE_ust1max_r", "225"},     {"LE_ust2min_r", "0.5"},  {"Eint_cur_scor", "9600"},
        {"Eint_cur_parity", "0"},    {"Eint_cur_stopbit", "1"},   {"Eint_cur_sysnum", "5"}, {"Enastr_tout_bytes", "3"},
        {"Enastr_tout_before", "8"}, {"Enastr_tout_after", "10"}, {"Eint_sysnum", "1"}};
    for (auto [name, value] : shown)
        EXPECT_EQ(text(name), value) << name;
    EXPECT_EQ(find<QComboBox>("CBint_scor")->currentText(), "9600");
    EXPECT_TRUE(find<QListWidget>("ListBox1")->isVisible());
    EXPECT_TRUE(info_lines().isEmpty()) << info_lines().join('|').toStdString();

    // With no device, each of the six reads reports itself and the fields stay.
    click(glav->tool_button("ToolButton10"));
    sim->command("fault silence always");
    open_page();
    ASSERT_EQ(info_lines().size(), 6);
    EXPECT_EQ(info_lines()[0], " 03 0020  не дождались ответа0:");
    EXPECT_EQ(info_lines()[5], " 03 0063  не дождались ответа0:");
    EXPECT_EQ(text("LE_Scl1_r"), " 250.0");
    EXPECT_EQ(text("Eint_cur_scor"), "9600");
}

TEST_F(Params, TheSpeedListShowsTheTimeoutsOfTheChosenSpeed)
{
    start_all();
    open_page();
    const int before = int(requests().size());
    const struct {
        int index;
        const char *bytes, *before, *after;
    } cases[] = {{4, "2", "1", "1"}, {0, "5", "8", "10"}, {5, "2", "1", "1"}};
    for (const auto& c : cases) {
        choose("CBint_scor", c.index);
        EXPECT_EQ(page().new_scor, c.index + 1);
        EXPECT_EQ(text("Enastr_tout_bytes"), c.bytes) << c.index;
        EXPECT_EQ(text("Enastr_tout_before"), c.before) << c.index;
        EXPECT_EQ(text("Enastr_tout_after"), c.after) << c.index;
    }
    EXPECT_EQ(ctx->link.settings().timeouts.R_IntervalTimeout, 3) << "the console's own time-outs stay";
    EXPECT_EQ(int(requests().size()), before);
}

TEST_F(Params, EachWriteIsAdoptedByTheConsoleAndTheNextPollIsAnswered)
{
    // What the window shows after the write, one row per parameter (the link's own settings,
    // every value, are the operation's test).
    const struct {
        const char* list;
        int index;
        const char* button;
        const char* frame;
        int scor;
        uint8_t parity, stopbit, sys_num;
    } cases[] = {
        {"CBint_scor", 4, "SBint_write_scor", "05 10 08 01 00 01 02 00 05 DC 82", 57600, 0, 1, 5},
        {"CBint_parity", 1, "SBint_write_parity", "05 10 08 02 00 01 02 00 01 DD 72", 9600, 1, 1, 5},
        {"CBint_stopbit", 1, "SBint_write_stopbit", "05 10 08 03 00 01 02 00 02 9C A2", 9600, 0, 2, 5},
        {nullptr, 0, "SBint_write_sysnum", "05 10 08 00 00 01 02 00 11 DD 5C", 9600, 0, 1, 17},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame);
        // Answers at once and whole: at 57600 bit/s the normal timing allows a loaded machine
        // no pause inside an answer.
        start_all({"--turnaround", "0"});
        open_page();
        c.list ? choose(c.list, c.index) : type_number("17");
        const int before = int(requests().size());
        press(c.button);
        EXPECT_EQ(sent_since(before).value(0), c.frame);
        // The main window's connection column and the page's current values show them.
        EXPECT_EQ(find<QComboBox>("CBscor")->currentText(), QString::number(c.scor));
        EXPECT_EQ(find<QComboBox>("CBparity")->currentIndex(), c.parity);
        EXPECT_EQ(find<QComboBox>("CBstopbit")->currentIndex(), c.stopbit - 1);
        EXPECT_EQ(text("Ecur_sysnum"), QString::number(c.sys_num));
        const int shown[] = {c.scor, c.parity, c.stopbit, c.sys_num};
        const char* edits[] = {"Eint_cur_scor", "Eint_cur_parity", "Eint_cur_stopbit", "Eint_cur_sysnum"};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(text(edits[i]), QString::number(shown[i])) << edits[i];
        // A periodic tick at the device's new settings is answered: one of three, since a
        // loaded machine may hold the simulator past 57600 bit/s's short time-outs once.
        bool answered = false;
        for (int tick = 0; tick < 3 && !answered; ++tick) {
            find<QListWidget>("ListBox1")->clear();
            glav->readings().Timer_oprosTimer();
            answered = info_lines().isEmpty();
        }
        EXPECT_TRUE(answered) << info_lines().join('|').toStdString();
        EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
        stop_all();
    }
}

TEST_F(Params, ANetworkNumberOutside1To247IsRefusedAndNothingIsSent)
{
    start_all();
    open_page();
    auto* edit = find<QLineEdit>("Eint_sysnum");
    QTest::keyClicks(edit, "a");
    EXPECT_EQ(edit->text(), "1") << "only digits are typed";
    // Pasted text that is not all digits is refused, in the number and in a digit box alike.
    QLineEdit* digit = find<QComboBox>("CB_scl1CI1")->lineEdit();
    for (QLineEdit* e : {edit, digit}) {
        const QString before = e->text();
        QGuiApplication::clipboard()->setText(QStringLiteral("x2 a4"));
        e->selectAll();
        QTest::keySequence(e, QKeySequence::Paste);
        EXPECT_EQ(e->text(), before);
        QGuiApplication::clipboard()->setText(QStringLiteral("7"));
        e->selectAll();
        QTest::keySequence(e, QKeySequence::Paste);
        EXPECT_EQ(e->text(), "7");
    }
    const int before = int(requests().size());
    for (const char* typed : {"", "0", "248", "255", "300"}) {
        type_number(typed);
        boxes.clear();
        press("SBint_write_sysnum");
        EXPECT_EQ(boxes, QStringList{"ошибка преобразования значения"}) << typed;
    }
    EXPECT_EQ(int(requests().size()), before);
    EXPECT_EQ(ctx->link.settings().sys_num, 5);

    // The up-down takes the typed number as its base and keeps within 1..247.
    type_number("246");
    for (int i = 0; i < 2; ++i)
        click(find<UpDown>("UpDown_int_adr")->upButton());
    EXPECT_EQ(edit->text(), "247");
    EXPECT_EQ(page().new_sys_num, 247);
}

TEST_F(Params, ReadsShowTheConsolesSpeedAndTheDevicesCodesAndLeaveThePortAlone)
{
    start_all();
    open_page();
    // The device holds settings it does not use yet.
    sim->command("stored speed 57600 parity even stop 2");
    const struct {
        const char* button;
        const char* edit;
        const char* shown;
    } cases[] = {{"Bread_scor", "Eint_cur_scor", "9600"},
                 {"Bread_parity", "Eint_cur_parity", "2"},
                 {"Bread_stopbit", "Eint_cur_stopbit", "2"}};
    for (const auto& c : cases) {
        press(c.button);
        EXPECT_EQ(text(c.edit), c.shown) << c.button;
    }
    EXPECT_TRUE(info_lines().isEmpty()) << info_lines().join('|').toStdString();
    const LinkSettings& link = ctx->link.settings();
    EXPECT_EQ(link.num_scor, 5) << "the code read is kept";
    EXPECT_EQ(link.scor_obmena, 9600);
    EXPECT_EQ(link.parity, 2);
    EXPECT_EQ(link.stopbit, 2);
    EXPECT_EQ(ctx->link.dcb().Parity, 0) << "the port keeps its settings until it is set up again";
    EXPECT_EQ(ctx->link.dcb().StopBits, 0);

    // A parity write then shows its own list; the speed list keeps the line's speed.
    choose("CBint_parity", 0);
    press("SBint_write_parity");
    EXPECT_EQ(find<QComboBox>("CBparity")->currentIndex(), 0);
    EXPECT_EQ(find<QComboBox>("CBscor")->currentText(), "9600");
}

TEST_F(Params, ScaleWritesValueThenPointAndUnit)
{
    const QStringList point_1 = {"05 10 00 21 00 02 04 A4 70 45 41 F5 00", "05 10 00 20 00 01 02 01 03 D2 61"};
    const struct {
        const char* point;  // the radio picked, if any
        int unit;
        const char* fault;
        QStringList frames;
        const char* shown;
        uint8_t decpos;
        const char* readings_scale;  // LE_Scl1, LE_Scl1a and the unit on the readings page
    } cases[] = {
        {"RG_scl1dt_w_1", 3, nullptr, point_1, "12.34", 1, " 12.34|dd.dd|мА"},
        {nullptr,
         0,
         nullptr,
         {"05 10 00 21 00 02 04 00 40 9A 44 4E 0C", "05 10 00 20 00 01 02 03 00 93 00"},
         "1234.",
         3,
         "  1234|dddd|  "},
        {"RG_scl1dt_w_1", 3, "fault exception 4", point_1, "12.34", 1, " 250.0|ddd.d|В "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown + std::string(c.fault ? c.fault : ""));
        start_all();
        open_page();
        type_digits("CB_scl1CI", "1234");
        if (c.point)
            pick(c.point);
        pick(QStringLiteral("RG_scl1mes_w_%1").arg(c.unit));
        if (c.fault)
            sim->command(c.fault);
        const int before = int(requests().size());
        press("SB_write_scl1");
        EXPECT_EQ(sent_since(before), c.frames);
        EXPECT_EQ(text("LE_Scl1_r"), c.shown);
        EXPECT_EQ(find<QLabel>("LE_Scl1_r_label")->text(), QString::fromUtf8(txt_mes[size_t(c.unit)]));
        EXPECT_EQ(page().new_decpos[1], c.decpos);
        const TParSCL& s = ctx->device.parScl(1);
        EXPECT_EQ(text("LE_Scl1") + '|' + text("LE_Scl1a") + '|' + find<QLabel>("LE_Scl1_label")->text(),
                  c.readings_scale);
        EXPECT_EQ(find<QLabel>("LEizm_te1_label")->text(), QString::fromUtf8(c.readings_scale).section('|', 2));
        if (c.fault) {
            // The refused value write has its line; the readings keep the old point.
            EXPECT_EQ(info_lines().size(), 1);
            EXPECT_TRUE(info_lines().value(0).startsWith("02: 10 0021  \"специфическая ошибка\"5:"));
            EXPECT_EQ(s.DecPosition, 2);
        } else {
            EXPECT_TRUE(info_lines().isEmpty());
            EXPECT_EQ(sim->command("get holding 0x20"), "ok " + std::to_string(c.decpos * 256 + c.unit));
            EXPECT_EQ(s.DecPosition, c.decpos);
            EXPECT_EQ(s.Measure, c.unit);
            // The next poll shows the measured value with the new number of decimals.
            glav->readings().zapros_par(0);
            const QString v = text("Eizm_te1");
            EXPECT_EQ(v.contains('.') ? v.size() - v.indexOf('.') - 1 : 0, 3 - c.decpos) << v.toStdString();
        }
        stop_all();
    }
}

TEST_F(Params, SetpointWritesAndTheirErrorLines)
{
    start_all();
    open_page();
    type_digits("CB_ust1maxCI", "0750");
    pick("RG_ust1maxdt_w_2");
    const int before = int(requests().size());
    press("SB_write_ust1max");
    EXPECT_EQ(sent_since(before), QStringList{"05 10 00 23 00 02 04 00 00 96 42 4B 03"});
    EXPECT_EQ(text("LE_ust1max_r"), "075.0");
    EXPECT_EQ(ctx->device.parUst(1).Max.as_float(), 225.0f) << "the record waits for the next read";

    // A box left empty, or offered a letter, keeps the pending number; a choice from the list counts.
    auto* units = find<QComboBox>("CB_ust1maxCI1");
    QTest::keyClick(units->lineEdit(), Qt::Key_Backspace);
    QTest::keyClick(units->lineEdit(), 'x');
    EXPECT_EQ(units->currentText(), "");
    EXPECT_EQ(page().new_max[1], 750);
    units->setCurrentIndex(9);
    EXPECT_EQ(page().new_max[1], 759);

    const std::pair<const char*, const char*> silent[] = {
        {"SB_write_ust3min", "22: 10 0065  не дождались ответа0:"},
        {"SB_write_ust3max", "2 3: 10 0063  не дождались ответа0:"},
        {"SB_write_ust2min", "22: 10 0045  не дождались ответа0:"},
    };
    for (auto [button, line] : silent) {
        find<QListWidget>("ListBox1")->clear();
        sim->command("fault silence");
        press(button);
        EXPECT_EQ(info_lines(), QStringList{line});
    }
    EXPECT_EQ(page().new_decposmin[3], 3) << "no point chosen writes the number itself";
    EXPECT_EQ(glav->findChild<QButtonGroup*>("RG_ust3mindt_w")->checkedButton(), nullptr);
}

TEST_F(Params, ReadsUseTheLocalesSeparatorAndTolerateUnknownCodes)
{
    start_all();
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    sim->command("setf holding 0x23 12.34");
    sim->command("set holding 0x60 0x0907");  // point 9, unit 7: in neither table
    open_page();
    EXPECT_EQ(text("LE_Scl1_r"), " 250,0");
    EXPECT_EQ(text("LE_ust1max_r"), "12,3400001525879");
    EXPECT_EQ(text("LE_scl3_r"), "    20");
    EXPECT_EQ(find<QLabel>("LE_scl3_r_label")->text(), "");
    EXPECT_EQ(glav->findChild<QButtonGroup*>("RG_scl3mes_w")->checkedButton(), nullptr);
}

TEST_F(Params, ReadingsPageClicksReadTheScaleAndSilentlyTheSetpoints)
{
    start_all();
    sim->command("set holding 0x40 0x0104");  // point 1, unit 4
    sim->command("setf holding 0x41 12.5");
    click(find<QLineEdit>("LE_Scl2a"));
    const std::pair<const char*, const char*> shown[] = {
        {"LE_Scl2", " 12.50"}, {"LE_Scl2a", "dd.dd"}, {"LE_dt2", "1"}, {"LE_ed2", "4"}};
    for (auto [name, value] : shown)
        EXPECT_EQ(text(name), value) << name;
    EXPECT_EQ(find<QLabel>("LE_Scl2_label")->text(), "А ");

    auto fields = [&] {
        QStringList texts;
        for (QLineEdit* e : glav->readings().findChildren<QLineEdit*>())
            texts << e->text();
        return texts;
    };
    sim->command("setf holding 0x43 99");
    const QStringList before_click = fields();
    const int before = int(requests().size());
    click(find<QLineEdit>("LE_max2"));
    EXPECT_EQ(sent_since(before), QStringList{"05 03 00 43 00 04 B4 59"});
    EXPECT_EQ(ctx->device.parUst(2).Max.as_float(), 99.0f);
    EXPECT_EQ(fields(), before_click) << "nothing visible changes";

    open_page();
    const QString shown_max = text("LE_ust3max_r");
    sim->command("setf holding 0x63 7");
    click(find<QLineEdit>("LE_ust3max_r"));
    EXPECT_EQ(ctx->device.parUst(3).Max.as_float(), 7.0f);
    EXPECT_EQ(text("LE_ust3max_r"), shown_max);
}

TEST_F(Params, AccessibleNamesAndActionsDoWhatAClickDoes)
{
    start_all();
    open_page();
    EXPECT_EQ(find<QPushButton>("SBint_write_scor")->accessibleName(), "Скорость: изменить");
    EXPECT_EQ(find<QPushButton>("SB_write_scl2")->accessibleName(), "2 канал ШКАЛА: изменить");
    auto act = [&](QWidget* w, const QString& action) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_TRUE(a && a->actionInterface());
        a->actionInterface()->doAction(action);
    };
    act(find<QRadioButton>("RG_scl2dt_w_0"), QAccessibleActionInterface::toggleAction());
    act(find<QRadioButton>("RG_scl2mes_w_6"), QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(page().new_decpos[2], 0);
    EXPECT_EQ(page().new_mes[2], 6);
    const int before = int(requests().size());
    act(find<QPushButton>("SB_write_scl2"), QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(wait_for([&] { return sent_since(before).size() == 2; }));
    EXPECT_EQ(text("LE_scl2_r"), "0.000");
}

}  // namespace
}  // namespace varnok::test
