// The main window as a screen reader and a window manager see it.
#include <QAbstractButton>
#include <QTabBar>
#include <QTimer>

#include "console/help_viewer.h"
#include "console_fixture.h"

namespace varnok::test {
namespace {

using Windows = ConsoleOnSim;

TEST_F(Windows, EveryControlThatTakesInputOrShowsAValueHasAnAccessibleName)
{
    start_all();
    int checked = 0;
    for (QWidget* w : glav->findChildren<QWidget*>()) {
        const bool kind = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QListWidget*>(w) ||
                          qobject_cast<QSlider*>(w) || qobject_cast<QAbstractButton*>(w);
        // Parts of compound controls (a tab bar's scroll arrows, an up-down's arrows) speak for their owner.
        const bool part = qobject_cast<QTabBar*>(w->parentWidget()) || qobject_cast<UpDown*>(w->parentWidget());
        if (!kind || part || w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
            continue;
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 50);
    EXPECT_EQ(find<QLineEdit>("LE_max1")->accessibleName(), "1 канал Max");
    EXPECT_EQ(find<QLineEdit>("LEizm_te3")->accessibleName(), "3 канал ТЕ");
    EXPECT_EQ(find<QComboBox>("CBtime_opros")->accessibleName(), "Период опроса, с");
}

TEST_F(Windows, TheWindowAsLaidOut)
{
    start_all();
    EXPECT_EQ(glav->windowTitle(), "... Varnok, Tessil ... - проверка интерфейса  RS485 ...");
    auto* pages = find<QTabWidget>("PageControl1");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(0), "показания");
    EXPECT_EQ(pages->tabText(1), "параметры");
    EXPECT_EQ(pages->tabText(2), "калибровка");
    EXPECT_EQ(glav->tool_button("ToolButton1")->toolTip(), "запуск\\останов периодического опроса");
    EXPECT_FALSE(glav->tool_button("ToolButton2")->isVisible());
    for (const char* hidden : {"N_prsv", "N_obCOM", "N_klava"})
        EXPECT_FALSE(glav->findChild<QAction*>(hidden)->isVisible()) << hidden;
    for (const char* name : {"GB_CI", "RGv_ind", "LEizm_imp", "Image_K1_on", "Image_swRS485"})
        EXPECT_FALSE(glav->findChild<QWidget*>(name)->isVisible()) << name;
    EXPECT_FALSE(find<QLineEdit>("LEizm_proc2")->isEnabled());
    // Nothing of the shell lies on top of another part of it.
    const QRect pages_rect = pages->geometry();
    for (const char* other : {"Panel_left", "Panel_bottom", "Panel_top"})
        EXPECT_FALSE(glav->findChild<QWidget*>(other)->geometry().intersects(pages_rect)) << other;
}

TEST_F(Windows, F1OpensTheHelpTopicOfTheFocusedControl)
{
    start_all();
    find<QRadioButton>("RGtyp_opros_1")->setFocus();
    glav->context_help();
    HelpViewer* viewer = HelpViewer::instance();
    ASSERT_TRUE(viewer->isVisible()) << boxes.join('|').toStdString();
    EXPECT_EQ(viewer->currentAnchor(), HelpViewer::contextAnchor(5));
    find<QComboBox>("CBport")->setFocus();
    glav->context_help();
    EXPECT_EQ(viewer->currentAnchor(), HelpViewer::contextAnchor(1));
    viewer->close();
}

TEST_F(Windows, ReturningFromAnotherWindowOfTheProgramRunsTheActivationAgain)
{
    start_all();
    click(find<QRadioButton>("RGtyp_opros_0"));
    click(glav->tool_button("ToolButton1"));
    ASSERT_TRUE(glav->readings().Timer_opros.isActive());
    msg->show();
    msg->activateWindow();
    ASSERT_TRUE(wait_for([&] { return !glav->isActiveWindow(); }));
    EXPECT_FALSE(glav->readings().Timer_opros.isActive()) << "losing the focus pauses the poll";
    EXPECT_TRUE(glav->tool_button("ToolButton1")->isChecked());

    const int before = int(requests().size());
    msg->hide();
    glav->activateWindow();
    ASSERT_TRUE(wait_for([&] { return int(requests().size()) >= before + 2; }));
    EXPECT_EQ(requests()[before], "05 03 08 00 00 01 87 EE") << "the activation's address check";
    EXPECT_FALSE(glav->readings().Timer_opros.isActive()) << "the activation alone does not restart the poll";
}

TEST_F(Windows, AMessageBoxDuringActivationDoesNotActivateAgain)
{
    start_sim();
    write_ini(ini_for_sim(9600, 2));
    start_console();
    ctx->ports.set(2, dir.filePath("gone").toStdString());  // the port is unplugged
    MessageBox::set_recorder({});                            // real, modal boxes
    QStringList closed;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            closed << box->text();
            box->close();
        }
    });
    closer.start(50);
    show_and_activate();
    QTest::qWait(300);
    // The port set-up fails, then the address check cannot be sent; and nothing runs twice.
    EXPECT_EQ(closed, QStringList({"ошибка настройки порта ", "ошибка передачи= 9"}));
}

}  // namespace
}  // namespace varnok::test
