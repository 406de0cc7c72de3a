// Poll modes, periodic ticks, the readings page's single reads and the brightness, driven
// through the controls against the simulator.
#include "console_fixture.h"

namespace varnok::test {
namespace {

class Polling : public ConsoleOnSim {
protected:
    ReadingsPage& page() { return glav->readings(); }
    QToolButton* pusk() { return glav->tool_button("ToolButton1"); }
    void choose(const char* mode) { click(find<QRadioButton>(mode)); }
    int light_writes() const { return int(requests().filter(QRegularExpression("^05 10 00 01 00 01 ")).size()); }
    void slide_to(int position) { find<QSlider>("TrackBar_light")->setValue(position); }
};

TEST_F(Polling, OnRequestIgnoresPuskAndPeriodicRunsOnTicks)
{
    start_all();
    click(pusk());
    EXPECT_FALSE(pusk()->isChecked()) << "with 'по запросу' the button springs back";
    EXPECT_FALSE(page().Timer_opros.isActive());
    EXPECT_TRUE(find<QPushButton>("Bzapros")->isVisible());

    choose("RGtyp_opros_0");
    EXPECT_TRUE(page().periodic_opros);
    EXPECT_FALSE(find<QPushButton>("Bzapros")->isVisible());
    EXPECT_EQ(glav->status_panel(5), " Для запуска периодического опроса нажмите кнопку ПУСК");
    EXPECT_FALSE(page().Timer_opros.isActive()) << "armed, not running";

    click(pusk());
    EXPECT_TRUE(pusk()->isChecked());
    EXPECT_EQ(pusk()->text(), "стоп");
    EXPECT_TRUE(page().Timer_opros.isActive());
    EXPECT_EQ(page().Timer_opros.interval(), 1000);

    const int before = int(requests().size());
    ASSERT_TRUE(wait_for([&] { return glav->status_panel(5).startsWith(" Запущен"); }, 3000));
    EXPECT_EQ(glav->status_panel(5), " Запущен ПЕРИОДИЧЕСКИЙ опрос (Т= 2c)");
    EXPECT_EQ(page().Timer_opros.interval(), 2000);
    // A tick: the address check, then the measured values and the frequency, then the PWM points.
    const QStringList tick = requests().mid(before);
    ASSERT_EQ(tick.size(), 8);
    EXPECT_EQ(tick[0], "05 03 08 00 00 01 87 EE");
    EXPECT_EQ(tick[1], "05 04 00 2C 00 02 B1 86");
    EXPECT_FALSE(find<QListWidget>("ListBox1")->isVisible()) << "a tick hides the information window";

    auto* period = find<QComboBox>("CBtime_opros");
    period->setCurrentIndex(7);
    emit period->activated(7);
    EXPECT_EQ(page().Timer_opros.interval(), 300000);
    EXPECT_TRUE(page().Timer_opros.isActive());

    click(pusk());
    EXPECT_EQ(pusk()->text(), "пуск");
    EXPECT_FALSE(page().Timer_opros.isActive());
    EXPECT_FALSE(page().periodic_opros_in_process);

    choose("RGtyp_opros_1");
    EXPECT_FALSE(page().periodic_opros);
    EXPECT_TRUE(find<QPushButton>("Bzapros")->isVisible());
    EXPECT_EQ(glav->status_panel(5), " Для обновления информации нажмите кнопку \"запрос\" ");
}

TEST_F(Polling, LeavingTheReadingsPagePausesAndReturningResumes)
{
    start_all();
    choose("RGtyp_opros_0");
    click(pusk());
    click(glav->tool_button("ToolButton9"));
    EXPECT_FALSE(page().Timer_opros.isActive());
    EXPECT_TRUE(pusk()->isChecked());
    click(glav->tool_button("ToolButton10"));
    EXPECT_TRUE(page().Timer_opros.isActive());
    EXPECT_EQ(glav->status_panel(5), " Идет периодический опрос каждые 2c");
}

TEST_F(Polling, ADeviceThatStopsAnsweringFallsBackToOnRequest)
{
    start_all();
    choose("RGtyp_opros_0");
    click(pusk());
    sim->command("fault silence always");
    find<QListWidget>("ListBox1")->clear();
    page().Timer_oprosTimer();
    EXPECT_EQ(info_lines(), QStringList{"sys_num=5 перестал отвечать на  scor=9600"});
    EXPECT_FALSE(find<QListWidget>("ListBox1")->isVisible());
    EXPECT_TRUE(find<QRadioButton>("RGtyp_opros_1")->isChecked());
    EXPECT_EQ(pusk()->text(), "пуск");
    EXPECT_FALSE(pusk()->isChecked());
    EXPECT_TRUE(find<QPushButton>("Bzapros")->isVisible());
    EXPECT_FALSE(page().Timer_opros.isActive());
    EXPECT_FALSE(page().periodic_opros);
}

TEST_F(Polling, AnAddressWithNoKnownSpeedCountsElevenTicksThenStops)
{
    start_all();
    click(find<UpDown>("UpDown_adr")->upButton());  // address 6: never heard
    choose("RGtyp_opros_0");
    click(pusk());
    const int sent = int(requests().size());
    for (int n = 1; n <= 11; ++n) {
        ASSERT_TRUE(page().Timer_opros.isActive()) << n;
        page().Timer_oprosTimer();
        EXPECT_EQ(info_lines().last(), QString::number(n) + " scor=0 а скорость-то потерялась ");
    }
    EXPECT_FALSE(page().Timer_opros.isActive());
    EXPECT_EQ(glav->status_panel(5), "  сброшен ПЕРИОДИЧЕСКИЙ опрос (перестал отвечать ) ");
    EXPECT_TRUE(pusk()->isChecked()) << "the button still shows 'стоп'";
    EXPECT_EQ(int(requests().size()), sent) << "nothing is sent";

    // Showing the page again allows exactly one more tick.
    click(glav->tool_button("ToolButton9"));
    click(glav->tool_button("ToolButton10"));
    page().Timer_oprosTimer();
    EXPECT_EQ(info_lines().last(), "12 scor=0 а скорость-то потерялась ");
    EXPECT_FALSE(page().Timer_opros.isActive());
}

TEST_F(Polling, EachChannelOfAPollStandsOnItsOwnAnswer)
{
    start_all();
    // Channel 1's scale request fails; channels 2 and 3 are read. Then their scales change.
    sim->command("setf holding 0x21 100");
    sim->command("setf holding 0x41 10");
    sim->command("fault exception 4");
    find<QListWidget>("ListBox1")->clear();
    click(find<QPushButton>("Bzapros"));
    EXPECT_TRUE(find<QListWidget>("ListBox1")->isVisible());
    ASSERT_EQ(info_lines().size(), 1);
    EXPECT_TRUE(info_lines()[0].startsWith(" 03 0020  \"специфическая ошибка\"5:05 83 04 "))
        << info_lines()[0].toStdString();
    EXPECT_EQ(text("LE_Scl1"), " 250.0") << "channel 1 keeps its fields";
    EXPECT_EQ(text("LE_Scl2"), "10.000");
}

TEST_F(Polling, AZeroScaleOrAnUnknownCodeNeverBreaksTheFields)
{
    start_all();
    sim->command("setf holding 0x41 0");
    sim->command("set holding 0x60 0x0907");  // decimal point 9, unit 7: outside both tables
    click(find<QPushButton>("Bzapros"));
    EXPECT_EQ(text("LEizm_proc2"), "") << "no percentage of a zero scale";
    EXPECT_EQ(find<QLabel>("LE_Scl3_label")->text(), "");
    EXPECT_EQ(text("LE_Scl3a"), "");
    EXPECT_EQ(text("LE_Scl3"), "    20");
    EXPECT_EQ(text("Eizm_te3"), "    2");  // 2.4 with no decimals
}

TEST_F(Polling, AClickOnAMeasuredValueShowsAllItsDigits)
{
    start_all();
    sim->command("signal 1 33.3333");
    click(find<QLineEdit>("LEizm_te1"));
    EXPECT_EQ(text("LEizm_te1"), "83.3324966430664");  // 33333 counts of 0.0025, as a float
    EXPECT_EQ(find<QListWidget>("LBtuda")->item(0)->text(), "05 04 00 2C 00 02 B1 86 ");
}

TEST_F(Polling, BrightnessReadsAndWrites)
{
    start_all();
    auto* slider = find<QSlider>("TrackBar_light");
    // Before any read every move writes: the top is brightness 3, the bottom 1.
    slide_to(3);
    EXPECT_EQ(sim->command("get holding 1"), "ok 1");
    slide_to(1);
    EXPECT_EQ(sim->command("get holding 1"), "ok 3");
    EXPECT_EQ(light_writes(), 2);

    sim->command("set holding 1 2");
    click(find<QLabel>("Llight"));
    EXPECT_EQ(slider->value(), 2);
    EXPECT_EQ(light_writes(), 2) << "a read moves the slider without writing";

    slide_to(1);
    EXPECT_EQ(sim->command("get holding 1"), "ok 3");
    slide_to(2);
    EXPECT_EQ(light_writes(), 4) << "after a write, moving back writes again";
    EXPECT_EQ(sim->command("get holding 1"), "ok 2");

    // Busy: one more answer is received without sending again.
    sim->command("fault busy");
    find<QListWidget>("ListBox1")->clear();
    slide_to(3);
    EXPECT_EQ(light_writes(), 5);
    EXPECT_TRUE(info_lines().isEmpty()) << info_lines().join('|').toStdString();
    EXPECT_EQ(find<QListWidget>("LBsuda")->item(0)->text(), "05 90 05 CD C2  dl=5") << "the second answer is not shown";
    EXPECT_EQ(ctx->device.light(), 1);
}

TEST_F(Polling, ExchangeLogAndInformationWindow)
{
    start_all();
    auto* info = find<QListWidget>("ListBox1");
    sim->command("fault silence");
    click(find<QLineEdit>("LEfreq"));
    EXPECT_EQ(find<QListWidget>("LBtuda")->item(0)->text(), "05 04 00 02 00 02 D1 8F ");
    EXPECT_EQ(find<QListWidget>("LBsuda")->item(0)->text(), "нет ответа");
    EXPECT_EQ(info_lines(), QStringList{" 04 0002  не дождались ответа0:"});
    EXPECT_EQ(find<QListWidget>("LBtuda")->count(), 1);

    QTest::mouseDClick(info->viewport(), Qt::LeftButton);
    EXPECT_FALSE(info->isVisible());
    info->addItem("added while hidden");
    click(find<QListWidget>("LBsuda")->viewport());
    EXPECT_TRUE(info->isVisible());
    EXPECT_EQ(info->count(), 2);
    click(info->viewport());  // below the lines: nothing
    EXPECT_EQ(info->count(), 2);
    const QRect first = info->visualItemRect(info->item(0));
    QTest::mouseClick(info->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(info->count(), 0);
}

}  // namespace
}  // namespace varnok::test
