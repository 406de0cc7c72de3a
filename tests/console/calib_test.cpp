// The calibration page driven through its controls against the simulator: the guided steps,
// the averages, the trim of the converter output and the PWM points.
#include <QGroupBox>
#include <QLocale>

#include "console/calib/calib_page.h"
#include "console/readings_page.h"
#include "console_fixture.h"

namespace varnok::test {
namespace {

// Takes the page's pauses at once, each noted with the function of the request sent before
// it; the frames pass on to the frame log.
class Pauses : public Sleeper, public FrameTap {
public:
    explicit Pauses(Link& link) : link_(link), next_(link.tap()) { link.set_tap(this); }
    ~Pauses() override
    {
        if (link_.tap() == this)
            link_.set_tap(next_);
    }
    void sleep_ms(unsigned ms) override { log << QStringLiteral("%1 after %2").arg(ms).arg(function_); }
    void sent(const uint8_t* bytes, size_t n) override
    {
        function_ = n > 1 ? bytes[1] : 0;
        if (next_)
            next_->sent(bytes, n);
    }
    void received(const uint8_t* bytes, size_t n) override
    {
        if (next_)
            next_->received(bytes, n);
    }
    QStringList log;

private:
    Link& link_;
    FrameTap* next_;
    uint8_t function_ = 0;
};

class Calib : public ConsoleOnSim {
protected:
    ~Calib() override { QLocale::setDefault(saved_locale_); }

    // The console on the calibration page; `sim_setup` runs in the simulator before the console starts.
    void open(std::vector<std::string> sim_setup = {})
    {
        std::vector<std::string> args;
        for (auto& line : sim_setup)
            args.insert(args.end(), {"--command", line});
        start_all(args);
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        pauses = std::make_unique<Pauses>(ctx->link);
        page().set_pauses(*pauses);
        click(glav->tool_button("ToolButton11"));
    }
    CalibPage& page() { return glav->calib(); }
    QWidget* w(const QString& name) const { return find<QWidget>(name.toLatin1().constData()); }
    QString t(const QString& name) const { return find<QLineEdit>(name.toLatin1().constData())->text(); }
    void set_text(const QString& name, const QString& text)
    {
        find<QLineEdit>(name.toLatin1().constData())->setText(text);
    }
    void press(const QString& name) { click(w(name)); }
    void double_click(const QString& name) { QTest::mouseDClick(w(name), Qt::LeftButton); }
    // A radio button, clicked on its round mark.
    void choose(const QString& name)
    {
        QTest::mouseClick(w(name), Qt::LeftButton, {}, QPoint(8, w(name)->height() / 2));
    }
    // Arrow clicks of an up-down control: up when `n` is positive.
    void steps(const QString& updown, int n)
    {
        auto* u = find<UpDown>(updown.toLatin1().constData());
        for (int i = 0; i < std::abs(n); ++i)
            click(n > 0 ? u->upButton() : u->downButton());
    }
    // The frames the simulator received while `action` ran.
    template <class Action>
    QStringList sent_by(Action action)
    {
        const int before = int(requests().size());
        action();
        return requests().mid(before);
    }
    void each_step_with_a_failed_channel(int failing);

    std::unique_ptr<Pauses> pauses;

private:
    QLocale saved_locale_;
};

TEST_F(Calib, FirstEntryTextsAndLeaving)
{
    open();
    EXPECT_EQ(find<QComboBox>("CBenable_calibr")->currentText(), "разрешена");
    EXPECT_EQ(glav->status_panel(5), " Здесь можем откалибровать прибор заново ");
    for (const char* on : {"B_cal0_old", "B_cal100_old"})
        EXPECT_TRUE(w(on)->isEnabled()) << on;
    for (const char* off : {"B_cal0_new", "B_cal100_new", "SB_save_cal0_1", "SB_save_cal100_3", "Bcal0_aver_2",
                            "Bcal100_aver_1", "E_ADCout2", "UpDown_cal0_1", "SB_save_PWMH3", "L_cal0_1", "L_cal100_2"})
        EXPECT_FALSE(w(off)->isEnabled()) << off;
    EXPECT_TRUE(glav->readings().onoff_swJMP78()) << "the jumper is set while the page is shown";
    EXPECT_FALSE(w("Image_swJmp78_on")->isHidden());
    EXPECT_TRUE(w("Image_swJMP78_off")->isHidden());
    // The pending values start as their edits show them; a greyed field takes no double click.
    EXPECT_EQ(page().new_cal0[2], 450);
    EXPECT_EQ(page().new_calAH[3], 1180);
    EXPECT_TRUE(sent_by([&] { double_click("E_ADCout1"); }).isEmpty());

    const std::pair<const char*, const char*> texts[] = {
        {"L_cal_title", "КАЛИБРОВКА прибора от ПК: следуйте инструкциям"},
        {"B_cal0_old", "1. запросить текущие калибровки 0% "},
        {"L_cal0_1", "2. !!! ВНИМАНИЕ !   В режиме ИЗМЕРЕНИЯ   подать   сигнал    0 %"},
        {"B_cal0_new", "3. калибровка 0% - измерить новые значения"},
        {"L_cal0_2", "При необходимости повторить п.1-4. (калибровка 0%)"},
        {"B_cal100_old", "5. запросить текущие калибровки 100% "},
        {"L_cal100_1", "6. !!! ВНИМАНИЕ !    В режиме ИЗМЕРЕНИЯ  подать  сигнал 100 %"},
        {"B_cal100_new", "7. калибровки 100% - измерить новые значения "},
        {"L_cal100_2", "При необходимости повторить п.5-8. (калибровка 100%)"},
        {"B_old_PWM", "а1.  текущие калибровки ШИМа"},
        {"LcalAL", "НИЖНЯЯ скважность (180-780)"},
        {"LcalAH", "ВЕРХНЯЯ скважность(1180-1780)"},
        {"RGcal100offset_caption", "единица коррекции"},
        {"RGcalPWM_var_write_caption", "реагировать на изменение"},
        {"ST_cal0_kol", "число измерений"},
        {"SB_save_cal0_2", "4.2 калибровать"},
        {"SB_save_cal100_3", "8.3 калибровать"},
        {"Bcal0_aver_1", "3.1 усреднить"},
        {"Bcal100_aver_2", "7.2 усреднить"},
        {"SB_save_PWML2", "а2.2 калибровать"},
        {"SB_save_PWMH3", "а3.3 калибровать"},
        {"RGcal0_var_write_0", "немедленно"},
        {"RGcal100_var_write_1", "по кнопке"},
        {"RGcal100offset_2", "100"},
        {"SBizm_enable", "изменить"},
        {"Ecal0_new1", "450"},
        {"E_PWML3_new", "180"},
        {"E_PWMH1_new", "1180"},
    };
    for (const auto& [name, text] : texts)
        EXPECT_EQ(w(name)->property("text").toString(), QString::fromUtf8(text)) << name;
    const std::pair<const char*, const char*> hints[] = {
        {"Ecal0L_1", "кликни для запроса текущего значения"}, {"Ecal100L_1", "кликни для запроса текущего значения"},
        {"Ecal0_new1", "НОВОЕ ИЗМЕРЕНИЕ (кликни дважды)"},    {"E_PWML1", "кликни-получишь текущее значение"},
        {"E_PWMH1", "запроси текущее значение(кликни)"},      {"ListBox2", "ИНФОРМАЦИОННОЕ ОКНО"},
    };
    for (const auto& [name, hint] : hints)
        EXPECT_EQ(w(name)->toolTip(), QString::fromUtf8(hint)) << name;
    EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Калибровка ШИМ");

    click(glav->tool_button("ToolButton9"));
    EXPECT_FALSE(glav->readings().onoff_swJMP78());
    EXPECT_TRUE(w("Image_swJmp78_on")->isHidden());
    EXPECT_TRUE(w("Image_swJMP78_off")->isHidden());
    EXPECT_FALSE(find<QLabel>("Image_K1_on")->pixmap().isNull()) << "the relay pictures are drawn";
}

TEST_F(Calib, AFullCalibrationAsAnEngineerDoesIt)
{
    // A device whose stored calibration is off: zeros 40 counts low, coefficients 10 % high.
    open({"signal 1 0", "signal 2 0", "signal 3 0", "set holding 0x27 972", "set holding 0x47 833",
          "set holding 0x67 1490", "setf holding 0x28 0.00275", "setf holding 0x48 0.000055",
          "setf holding 0x68 0.00022"});
    auto reads = [&](int k) { return t(QStringLiteral("LEcal_te%1").arg(k)).replace(',', '.').toDouble(); };
    press("B_cal0_old");
    EXPECT_EQ(t("Ecal0L_1"), "972");
    EXPECT_EQ(t("Ecal0_h3"), "05D2");
    press("B_cal0_new");
    EXPECT_EQ(t("Ecal0_new1"), "1012");
    for (int k = 1; k <= 3; ++k) {
        press(QStringLiteral("SB_save_cal0_%1").arg(k));
        EXPECT_NEAR(reads(k), 0.0, 0.01) << k;
        sim->command("signal " + std::to_string(k) + " 100");
    }
    EXPECT_EQ(t("LEcal_te1").size(), 10) << "%10.5f";
    EXPECT_TRUE(w("L_cal0_2")->isEnabled());

    press("B_cal100_old");
    EXPECT_EQ(t("Ecal100L_1"), " 0,0027500000");
    press("B_cal100_new");
    EXPECT_EQ(t("E_ADCout2"), "000186A0");
    const double tops[] = {0, 250, 5, 20};
    for (int k = 1; k <= 3; ++k) {
        press(QStringLiteral("SB_save_cal100_%1").arg(k));
        EXPECT_NEAR(reads(k), tops[k], tops[k] / 10000) << k;
    }
    EXPECT_EQ(pauses->log.count("500 after 16"), 6) << "after each write";

    // The averaged variants, with the converter noisy again, give the same within the noise.
    sim->command("noise 3");
    sim->command("signal 2 0");
    press("Bcal0_aver_2");
    EXPECT_EQ(find<QListWidget>("ListBox2")->count(), 17);
    EXPECT_NEAR(page().new_cal0[2], 873, 3);
    press("SB_save_cal0_2");
    sim->command("signal 2 100");
    press("Bcal100_aver_2");
    EXPECT_EQ(find<QListWidget>("ListBox2")->count(), 5);
    press("SB_save_cal100_2");
    EXPECT_NEAR(ctx->device.Ch(2).Urms_te, 5.0, 0.001);
}

TEST_F(Calib, StoredAndNewCoefficientsAndTheirWords)
{
    open({"setf holding 0x28 1.0", "setf holding 0x21 100", "setl input 0x2F 100000"});
    press("B_cal100_old");
    EXPECT_EQ(t("Ecal100L_1"), " 1,0000000000");
    EXPECT_EQ(t("Ecal100_2b_h1") + t("Ecal100_2b_l1"), "3F800000");

    press("B_cal100_new");
    EXPECT_EQ(t("E_ADCout1"), "000186A0");
    EXPECT_EQ(t("Ecal100_new1"), " 0,0010000000");
    EXPECT_EQ(t("Ecal100new1_2b_h") + " " + t("Ecal100new1_2b_l"), "3A83 126F");
    EXPECT_TRUE(sent_by([&] { press("SB_save_cal100_1"); }).value(0).startsWith("05 10 00 28 00 02 04 6F 12 83 3A "));

    // A re-derivation by double click shows all the digits; an output of 0 counts as 1.
    double_click("Ecal100_new1");
    EXPECT_EQ(t("Ecal100_new1"), "0,00100000004749745");
    sim->command("setl input 0x2F 0");
    press("B_cal100_new");
    EXPECT_EQ(t("E_ADCout1"), "00000000");
    EXPECT_EQ(t("Ecal100_new1"), "100,0000000000");
}

// Each channel of a three-channel read stands on its own answer: the failed channel keeps
// its field and gets its error line, channel 2 is shown, and the next step waits; only step 7,
// which reads fresh values, opens whatever step 5 found.
void Calib::each_step_with_a_failed_channel(int failing)
{
    open();
    struct Case {
        const char* ready;  // a step that succeeds first, so that this one can be taken
        const char* step;
        const char* field;  // of channel %1
        int offset;         // of the register in the channel's block that the read touches
        const char* next;
        bool next_open;
    };
    const Case cases[] = {
        {nullptr, "B_cal0_old", "Ecal0L_%1", 7, "B_cal0_new", false},
        {nullptr, "B_cal100_old", "Ecal100L_%1", 7, "B_cal100_new", true},
        {"B_cal100_old", "B_cal0_new", "Ecal0_new%1", 14, "SB_save_cal0_2", false},
        {nullptr, "B_cal100_new", "E_ADCout%1", 15, "SB_save_cal100_2", false},
        {nullptr, "B_old_PWM", "E_PWML%1", 10, "SB_save_PWML1", false},
    };
    for (const Case& c : cases) {
        if (c.ready)
            press(c.ready);
        const QString failed = QString::fromLatin1(c.field).arg(failing), shown = QString::fromLatin1(c.field).arg(2);
        const QString failed_before = t(failed), shown_before = t(shown);
        find<QListWidget>("ListBox1")->clear();
        sim->command("fault exception 4 at " + std::to_string(32 * failing + c.offset));
        press(c.step);
        EXPECT_EQ(info_lines().size(), 1) << c.step;
        EXPECT_EQ(t(failed), failed_before) << c.step;
        EXPECT_NE(t(shown), shown_before) << c.step;
        EXPECT_EQ(w(c.next)->isEnabled(), c.next_open) << c.step;
        if (c.next_open) {
            EXPECT_TRUE(w("L_cal100_1")->isEnabled()) << c.step;
        }
    }
}

TEST_F(Calib, OnlyChannelOneFails) { each_step_with_a_failed_channel(1); }

TEST_F(Calib, OnlyChannelThreeFails) { each_step_with_a_failed_channel(3); }

TEST_F(Calib, WritesReadBacksAndRefusals)
{
    open({"signal 1 0", "setf holding 0x28 0.25"});
    press("Ecal0L_1");

    // A pending text that is no number, or too big for a register, is refused.
    for (const char* bad : {"", "70000"}) {
        boxes.clear();
        set_text("Ecal0_new1", QString::fromLatin1(bad));
        EXPECT_EQ(boxes, QStringList{"ошибка преобразования значения"}) << bad;
        EXPECT_EQ(page().new_cal0[1], 450) << bad;
    }

    // At the top of its range a step sends nothing.
    set_text("Ecal0_new1", "2100");
    EXPECT_TRUE(sent_by([&] { steps("UpDown_cal0_1", 1); }).isEmpty());

    // "немедленно": write, pause, fixed-point read-back, pause, read-back with all digits.
    choose("RGcal0_var_write_0");
    set_text("Ecal0_new1", "1000");
    const QStringList frames = sent_by([&] { steps("UpDown_cal0_1", 1); });
    ASSERT_EQ(frames.size(), 3);
    EXPECT_TRUE(frames[0].startsWith("05 10 00 27 00 01 02 03 E9 "));
    EXPECT_EQ(pauses->log, (QStringList{"500 after 16", "500 after 4"}));
    EXPECT_EQ(t("LEcal_te1"), "2,75") << "1012 - 1001 counts at 0.25";
    EXPECT_EQ(t("Ecal0_new1"), "1001");

    // A refused write: its box, the repeat instruction, no read-back.
    const std::array<const char*, 3> refusals[] = {{"Ecal0L_1", "SB_save_cal0_1", "L_cal0_2"},
                                                   {"Ecal100L_1", "SB_save_cal100_1", "L_cal100_2"}};
    for (const auto& [enabler, button, instruction] : refusals) {
        click(glav->tool_button("ToolButton10"));
        click(glav->tool_button("ToolButton11"));
        press(enabler);
        boxes.clear();
        sim->command("fault exception 3");
        press(button);
        ASSERT_EQ(boxes.size(), 1) << button;
        EXPECT_TRUE(boxes[0].contains("недопустимое значение")) << boxes[0].toStdString();
        EXPECT_TRUE(w(instruction)->isEnabled()) << button;
        EXPECT_EQ(t("LEcal_te1"), "") << button;
    }

    // A read-back that fails shows no value, and says why.
    set_text("LEcal_te1", "old");
    find<QListWidget>("ListBox1")->clear();
    sim->command("fault exception 4");
    press("LEcal_te1");
    EXPECT_EQ(t("LEcal_te1"), "");
    EXPECT_EQ(info_lines().size(), 1);
}

TEST_F(Calib, Averages)
{
    open({"setf holding 0x21 100", "setf holding 0x41 100", "setl input 0x2F 100000", "setl input 0x4F 100000"});
    auto* list = find<QListWidget>("ListBox2");
    auto* counts = find<QComboBox>("CBcal100_kolizm");
    QTest::keyClick(counts, Qt::Key_1);
    EXPECT_EQ(counts->currentText(), "4") << "typing picks nothing";
    counts->setCurrentIndex(3);
    EXPECT_EQ(page().kol_izm_cal100, 16);
    EXPECT_EQ(page().st2_kol_izm_cal100, 4);
    counts->setCurrentIndex(1);

    // Sixteen zero readings and their mean (which mean is the operation's test).
    press("Ecal0L_1");
    sim->command("script input 0x2E 450*8 451*8");
    press("Bcal0_aver_1");
    ASSERT_EQ(list->count(), 17);
    EXPECT_EQ(list->item(2)->text(), "3: 01C2 450");
    EXPECT_EQ(list->item(16)->text(), " = 01C3 451");
    EXPECT_EQ(page().new_cal0[1], 451);
    EXPECT_EQ(t("Ecal0_new1"), "451");

    // Channel 1's lines differ from the others' only in their separators.
    for (int k : {1, 2}) {
        press(QStringLiteral("Ecal100L_%1").arg(k));
        press(QStringLiteral("Bcal100_aver_%1").arg(k));
        ASSERT_EQ(list->count(), 5) << k;
        EXPECT_EQ(list->item(0)->text(), k == 1 ? "1:000186A0   0,0010000000" : "1: 000186A0    0,0010000000");
        EXPECT_EQ(list->item(4)->text(), k == 1 ? "= 000186A0   0,0010000000" : " = 000186A0    0,0010000000");
    }

    // One reading of four fails: no result, the output shown stays.
    set_text("E_ADCout1", "00000007");
    sim->command("fault exception 4");
    press("Bcal100_aver_1");
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(t("E_ADCout1"), "00000007");

    // A coefficient of three integer digits keeps its columns.
    sim->command("setl input 0x2F 0");
    press("Bcal100_aver_1");
    EXPECT_EQ(list->item(0)->text(), "1:00000000  100,0000000000");
    EXPECT_EQ(list->item(4)->text(), "= 00000000  100,0000000000");
    EXPECT_EQ(t("E_ADCout1"), "00000000");

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(3)).center());
    EXPECT_EQ(list->count(), 0);
}

TEST_F(Calib, TheTrimMovesTheOutputByItsUnitAcrossCarryAndBorrow)
{
    open({"setl input 0x2F 5000", "setl input 0x4F 5000", "setl input 0x6F 5000"});
    auto output = [&](int k) { return int(t(QStringLiteral("E_ADCout%1").arg(k)).toUInt(nullptr, 16)); };
    auto trim = [&](int k) {
        return find<UpDown>(QStringLiteral("UpDown_new_cal100_%1").arg(k).toLatin1().constData());
    };
    press("B_cal100_old");
    press("B_cal100_new");
    EXPECT_EQ(output(1), 5000);
    QTest::keyClicks(w("E_ADCout1"), "7");
    EXPECT_EQ(output(1), 5000) << "the output is moved by the trim, not typed";

    // Losing the focus drops the offset: the output returns to the base.
    double_click("E_ADCout1");
    steps("UpDown_new_cal100_1", 2);
    ASSERT_TRUE(trim(1)->hasFocus());
    QTest::keyClick(trim(1), Qt::Key_Up);
    EXPECT_EQ(output(1), 5003);
    w("Ecal0_new1")->setFocus();
    EXPECT_EQ(output(1), 5000);
    EXPECT_EQ(page().inc_cal100[1], 0);

    struct Case {
        int channel;
        const char* unit;  // the item chosen in "единица коррекции"; none: 0..10 by 1
        int steps;         // up when positive, from the base read afresh at position 0
        int offset;        // of the output from the base
        int position;
    };
    const Case cases[] = {
        {1, nullptr, 11, 11, 1},               // past the top
        {1, nullptr, -1, -1, 9},               // below 0
        // Channels 2 and 3 carry and borrow by the unit too, so that they stay on its grid.
        {2, "RGcal100offset_1", 2, 20, 10},  // 0..10 by 10
        {2, "RGcal100offset_1", -1, -10, 0},
        {3, "RGcal100offset_1", 2, 20, 10},
        {3, "RGcal100offset_1", -1, -10, 0},
        {1, "RGcal100offset_2", 2, 200, 100},  // 0..100 by 100
        {2, "RGcal100offset_2", 2, 200, 100},
        {2, "RGcal100offset_2", -1, -100, 0},
        {3, "RGcal100offset_2", 3, 300, 100},
        {3, "RGcal100offset_2", -2, -200, 0},
    };
    for (const Case& c : cases) {
        if (c.unit)
            choose(c.unit);
        double_click(QStringLiteral("E_ADCout%1").arg(c.channel));
        ASSERT_EQ(output(c.channel), 5000);
        steps(QStringLiteral("UpDown_new_cal100_%1").arg(c.channel), c.steps);
        EXPECT_EQ(output(c.channel), 5000 + c.offset) << c.channel << c.steps;
        EXPECT_EQ(trim(c.channel)->position(), c.position) << c.channel << c.steps;
    }

    // A base this high is no longer raised by a carry: the output moves by the offset alone.
    choose("RGcal100offset_1");
    sim->command("setl input 0x2F 16777216");
    double_click("E_ADCout1");
    steps("UpDown_new_cal100_1", 2);
    EXPECT_EQ(output(1), 16777226);

    // "немедленно": a step writes the coefficient of the output before it; a carry writes twice.
    sim->command("setl input 0x2F 5000");
    double_click("E_ADCout1");
    choose("RGcal100_var_write_0");
    auto writes = [&] {
        return sent_by([&] { steps("UpDown_new_cal100_1", 1); }).filter(QRegularExpression("^05 10 00 28 "));
    };
    const QStringList one = writes();
    ASSERT_EQ(one.size(), 1);
    EXPECT_TRUE(one[0].startsWith("05 10 00 28 00 02 04 CD CC 4C 3D ")) << "250 / 5000";
    EXPECT_EQ(pauses->log.mid(pauses->log.size() - 2), (QStringList{"500 after 16", "1000 after 4"}));
    EXPECT_EQ(output(1), 5010);
    EXPECT_EQ(writes().size(), 2);
    EXPECT_EQ(output(1), 5020);

    // The same on channels 2 and 3 with the unit 10: each carry and borrow writes twice and
    // the output stays on the unit's grid.
    for (int k = 2; k <= 3; ++k) {
        const QString updown = QStringLiteral("UpDown_new_cal100_%1").arg(k);
        const QRegularExpression coefficient(QStringLiteral("^05 10 00 %1 ").arg(32 * k + 8, 2, 16, QChar('0')).toUpper());
        auto writes_of = [&](int n) { return sent_by([&] { steps(updown, n); }).filter(coefficient).size(); };
        double_click(QStringLiteral("E_ADCout%1").arg(k));
        EXPECT_EQ(writes_of(1), 1) << k;
        EXPECT_EQ(output(k), 5010) << k;
        EXPECT_EQ(writes_of(1), 2) << k << ": a carry";
        EXPECT_EQ(output(k), 5020) << k;
        double_click(QStringLiteral("E_ADCout%1").arg(k));
        EXPECT_EQ(writes_of(-1), 2) << k << ": a borrow";
        EXPECT_EQ(output(k), 4990) << k;
    }
}

TEST_F(Calib, PwmPoints)
{
    open({"set holding 0x2A 300", "set holding 0x4A 300", "set holding 0x2B 1180"});
    choose("RGcalPWM_var_write_0");

    // A lower point read while its control stands elsewhere is written back at once.
    QStringList frames = sent_by([&] { press("E_PWML1"); });
    EXPECT_EQ(t("E_PWML1"), " 300");
    ASSERT_EQ(frames.size(), 2);
    EXPECT_TRUE(frames[0].startsWith("05 03 00 2A 00 02 "));
    EXPECT_TRUE(frames[1].startsWith("05 10 00 2A 00 01 02 01 2C "));
    EXPECT_EQ(pauses->log.last(), "300 after 16");
    press("E_PWML2");
    EXPECT_EQ(t("E_PWML2"), "300");
    EXPECT_EQ(pauses->log.last(), "500 after 16");

    // An upper point read is only taken over; a step writes the value shown before it.
    EXPECT_EQ(sent_by([&] { press("E_PWMH1"); }).size(), 1);
    EXPECT_EQ(page().new_calAH[1], 1180);
    frames = sent_by([&] { steps("UpDown_PWMH1", 1); });
    ASSERT_EQ(frames.size(), 1);
    EXPECT_TRUE(frames[0].startsWith("05 10 00 2B 00 01 02 04 9C "));
    EXPECT_EQ(pauses->log.last(), "400 after 16");
    EXPECT_EQ(page().new_calAH[1], 1181) << "the edit's 1181";

    // At the top of its range a lower control's step does nothing.
    set_text("E_PWML1_new", "780");
    const int paused = int(pauses->log.size());
    EXPECT_TRUE(sent_by([&] { steps("UpDown_PWML1", 1); }).isEmpty());
    EXPECT_EQ(int(pauses->log.size()), paused);

    // Channel 3 reads only the point clicked; a refused write is shown in a box.
    EXPECT_TRUE(sent_by([&] { press("E_PWMH3"); }).value(0).startsWith("05 03 00 6B 00 01 "));
    sim->command("fault exception 3");
    press("SB_save_PWMH3");
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("недопустимое значение"));
}

}  // namespace
}  // namespace varnok::test
