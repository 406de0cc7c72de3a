// The window's writes in the unit's history: every kind of write with the value the window knew
// before it and the new one, refusals marked, runs of steps kept as one record, a profile load,
// and a store that cannot be opened told once while the writes go on.
#include <QSlider>
#include <filesystem>

#include "console/file_chooser.h"
#include "console/params/params_page.h"
#include "console_fixture.h"
#include "record/history.h"

namespace varnok::test {
namespace {

class WindowWrites : public ConsoleOnSim {
protected:
    ~WindowWrites() override
    {
        set_file_chooser({});
        MessageBox::set_confirmer({});
    }
    // The console against the simulator, its history at `store`.
    void start_with_store(const QString& store)
    {
        start_sim();
        write_ini(ini_for_sim() + QStringLiteral("\n[история]\nфайл=%1\n").arg(store));
        start_console();
        show_and_activate();
    }
    void press(const char* name) { click(find<QWidget>(name)); }
    void pick(const char* radio) { click(find<QRadioButton>(radio)); }
    void type_digits(const QString& boxes, const char* digits)
    {
        for (int i = 0; i < 4; ++i) {
            QLineEdit* e = find<QComboBox>((boxes + QString::number(4 - i)).toLatin1().constData())->lineEdit();
            QTest::keyClick(e, Qt::Key_Backspace);
            QTest::keyClick(e, digits[i]);
        }
    }
    void steps(const char* updown, int n)
    {
        for (int i = 0; i < n; ++i)
            click(find<UpDown>(updown)->upButton());
    }
    // kind|what|old|new of each record, oldest first.
    static std::vector<std::string> records(const std::string& path, record::HistoryRecord* newest = nullptr)
    {
        std::string error;
        const std::unique_ptr<record::History> h = record::History::open(path, error);
        EXPECT_TRUE(h) << error;
        std::vector<record::HistoryRecord> all;
        std::vector<std::string> out;
        if (!h || !h->list({}, all, error))
            return out;
        EXPECT_EQ(h->verify(), "");
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            out.push_back(it->kind + "|" + it->what + "|" + it->old_value + "|" + it->new_value);
        if (newest && !all.empty())
            *newest = all.front();
        return out;
    }
};

TEST_F(WindowWrites, EveryKindIsRecordedWithTheValueKnownBeforeAndRefusalsMarked)
{
    const std::string store = dir.filePath(QStringLiteral("history.sqlite")).toStdString();
    start_with_store(QString::fromStdString(store));

    // Parameters: the page's entry reads the scales and setpoints, so their old values are known.
    click(glav->tool_button("ToolButton9"));
    type_digits(QStringLiteral("CB_scl1CI"), "1234");
    pick("RG_scl1dt_w_1");
    pick("RG_scl1mes_w_3");
    press("SB_write_scl1");
    type_digits(QStringLiteral("CB_ust1maxCI"), "0750");
    pick("RG_ust1maxdt_w_2");
    press("SB_write_ust1max");
    press("SB_write_ust1max");  // the value it wrote is now the one known
    sim->command("fault exception 3");
    type_digits(QStringLiteral("CB_ust1minCI"), "0005");
    press("SB_write_ust1min");
    find<QComboBox>("CBint_stopbit")->setCurrentIndex(1);
    press("SBint_write_stopbit");
    ASSERT_EQ(sim->command("get holding 0x803"), "ok 2");

    // Brightness, from the readings page's slider.
    click(glav->tool_button("ToolButton10"));
    find<QSlider>("TrackBar_light")->setValue(3);
    ASSERT_EQ(sim->command("get holding 1"), "ok 1");

    // Calibration: three steps that write at once are one record of the value left.
    click(glav->tool_button("ToolButton11"));
    press("Ecal0L_1");
    click(find<QRadioButton>("RGcal0_var_write_0"));
    find<QLineEdit>("Ecal0_new1")->setText(QStringLiteral("1000"));
    steps("UpDown_cal0_1", 3);
    ASSERT_EQ(sim->command("get holding 0x27"), "ok 1003");
    press("E_PWMH1");
    press("SB_save_PWMH1");

    EXPECT_EQ(records(store), (std::vector<std::string>{
                                  "запись|scale1|250.0|12.34",
                                  "запись|unit1|В|мА",
                                  "запись|max1|225|75",
                                  "запись|max1|75|75",
                                  "запись|min1 (не принято)|25|5",
                                  "запись|stopbits|1|2",
                                  "запись|brightness||1",
                                  "запись|zero1|1012|1003",
                                  "запись|pwm_high1|1480|1480",
                              }));
    record::HistoryRecord newest;
    records(store, &newest);
    EXPECT_EQ(newest.unit.network_number, 5);
    EXPECT_EQ(newest.unit.line, "COM1 9600 8N2");
    EXPECT_EQ(newest.unit.factory_number, "");
    EXPECT_EQ(newest.unit.name + "|" + newest.unit.version, "Варнок ПМ3|V2.07 2026");
    EXPECT_TRUE(boxes.filter(QStringLiteral("история")).isEmpty()) << boxes.join('|').toStdString();

    // A profile load: one record per change, the old value from the load's own read.
    const QString profile = dir.filePath(QStringLiteral("pm3.conf"));
    set_file_chooser([&](QWidget*, const QString&, const QString&, const QString&, bool) { return profile; });
    MessageBox::set_confirmer([](const QString&, const QString&) { return true; });
    find<QAction>("N_conf_save")->trigger();
    sim->command("setf holding 0x23 200");
    find<QAction>("N_conf_load")->trigger();
    ASSERT_EQ(sim->command("get holding 0x24"), "ok 38466");
    const std::vector<std::string> all = records(store);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), "профиль|max1 из " + profile.toStdString() + "|200|75");

    // Once the check window named the unit, the writes that follow carry its factory number.
    ctx->written.name_unit("ЗН-0427");
    click(glav->tool_button("ToolButton11"));
    press("SB_save_PWMH1");
    records(store, &newest);
    EXPECT_EQ(newest.what + "|" + newest.unit.factory_number, "pwm_high1|ЗН-0427");
}

TEST_F(WindowWrites, AStoreThatCannotBeOpenedIsToldOnceAndTheWritesGoOn)
{
    const QString folder = dir.filePath(QStringLiteral("folder"));
    std::filesystem::create_directories(folder.toStdString());
    start_with_store(folder);
    click(glav->tool_button("ToolButton9"));
    type_digits(QStringLiteral("CB_ust1maxCI"), "0750");
    pick("RG_ust1maxdt_w_2");
    press("SB_write_ust1max");
    type_digits(QStringLiteral("CB_ust1minCI"), "0005");
    press("SB_write_ust1min");
    click(glav->tool_button("ToolButton10"));
    find<QSlider>("TrackBar_light")->setValue(3);

    EXPECT_EQ(sim->command("get holding 1"), "ok 1");
    EXPECT_EQ(sim->command("get holding 0x24"), "ok 38466");
    EXPECT_EQ(boxes.filter(QStringLiteral("история")),
              QStringList{QStringLiteral("история ") + folder + QStringLiteral(" не открывается: это папка, а не обычный файл")});
    EXPECT_EQ(ctx->history().pending(), 3u) << "kept in memory for when the store comes back";
}

}  // namespace
}  // namespace varnok::test
