// The main window as a screen reader and a window manager see it.
#include <QAbstractButton>
#include <QAccessible>
#include <QTabBar>
#include <QTimer>

#include "console/busy.h"
#include "console/help_viewer.h"
#include "console/clickable.h"
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
    // Another window of the program (the search notice ends its search with the activation
    // itself, whoever has the focus).
    comdcb->show();
    comdcb->activateWindow();
    ASSERT_TRUE(wait_for([&] { return !glav->isActiveWindow(); }));
    EXPECT_FALSE(glav->readings().Timer_opros.isActive()) << "losing the focus pauses the poll";
    EXPECT_TRUE(glav->tool_button("ToolButton1")->isChecked());

    const int before = int(requests().size());
    comdcb->hide();
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
    MessageBox::set_recorder({});                           // real, modal boxes
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
    ASSERT_TRUE(wait_for([&] { return closed.size() >= 2; })) << closed.join('|').toStdString();
    QTest::qWait(100);  // nothing more may come
    // The port set-up fails, then the address check cannot be sent; and nothing runs twice.
    EXPECT_EQ(closed, QStringList({"ошибка настройки порта ", "ошибка передачи= 9"}));
}

// What a screen reader or a test tool does through the accessibility interface.
void act(QWidget* w, const QString& action)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_TRUE(a && a->actionInterface()) << w->objectName().toStdString();
    ASSERT_TRUE(a->actionInterface()->actionNames().contains(action)) << w->objectName().toStdString();
    a->actionInterface()->doAction(action);
}

TEST_F(Windows, AccessibilityActionsDoWhatAClickDoes)
{
    start_all();
    const QString toggle = QAccessibleActionInterface::toggleAction();
    const QString press = QAccessibleActionInterface::pressAction();
    QToolButton* pusk = glav->tool_button("ToolButton1");

    // Choosing the mode already selected runs nothing.
    glav->set_status_panel(5, "-");
    click(find<QRadioButton>("RGtyp_opros_1"));
    EXPECT_EQ(glav->status_panel(5), "-");

    act(find<QRadioButton>("RGtyp_opros_0"), toggle);
    EXPECT_TRUE(glav->readings().periodic_opros);
    EXPECT_EQ(glav->status_panel(5), " Для запуска периодического опроса нажмите кнопку ПУСК");
    act(pusk, toggle);
    EXPECT_EQ(pusk->text(), "стоп");
    EXPECT_TRUE(glav->readings().Timer_opros.isActive());
    act(pusk, toggle);
    EXPECT_EQ(pusk->text(), "пуск");
    EXPECT_FALSE(glav->readings().Timer_opros.isActive());
    act(find<QRadioButton>("RGtyp_opros_1"), toggle);
    EXPECT_FALSE(glav->readings().periodic_opros);
    act(pusk, toggle);
    EXPECT_FALSE(pusk->isChecked()) << "with 'по запросу' the button springs back";

    // Fields that read on a click read on the Press action and on Enter.
    const int before = int(requests().size());
    act(find<QLineEdit>("LEizm_te2"), press);
    QTest::keyClick(find<QLineEdit>("Ed_version"), Qt::Key_Return);
    EXPECT_EQ(requests().mid(before), QStringList({"05 04 00 4C 00 02 B1 98", "05 04 00 09 00 05 E1 8F"}));

    // The brightness slider moves towards "MAX" (the top, brightness 3) with the Up key.
    auto* slider = find<QSlider>("TrackBar_light");
    slider->setValue(2);
    QTest::keyClick(slider, Qt::Key_Up);
    EXPECT_EQ(slider->value(), 1);
}

// Every field that reads on a click still gives a screen reader its text, as a plain field does.
TEST_F(Windows, ClickableFieldsOfEveryPageReadTheirTextAndPress)
{
    start_all();
    int fields = 0;
    for (QLineEdit* e : glav->findChildren<QLineEdit*>()) {
        if (!e->findChild<Clickable*>(QString(), Qt::FindDirectChildrenOnly))
            continue;
        ++fields;
        if (e->text().isEmpty())
            e->setText(QStringLiteral("12.5"));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(e);
        ASSERT_TRUE(a && a->textInterface()) << e->objectName().toStdString();
        const QAccessibleTextInterface* t = a->textInterface();
        EXPECT_EQ(t->text(0, t->characterCount()), e->text()) << e->objectName().toStdString();
        EXPECT_EQ(a->text(QAccessible::Value), e->text()) << e->objectName().toStdString();
        EXPECT_TRUE(a->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    }
    EXPECT_GE(fields, 30) << "readings, parameters and calibration fields";

    // The fields a screen-reader user asked about, by the names they hear.
    const std::pair<const char*, const char*> spoken[] = {{"LEizm_te1", "1 канал ТЕ"},
                                                          {"Ed_version", "версия ПО иприбора"},
                                                          {"LE_ust1max_r", "1 канал УСТАВКИ Max: значение"}};
    for (const auto& [name, heard] : spoken) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(find<QLineEdit>(name));
        EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8(heard));
        EXPECT_EQ(a->textInterface()->text(0, -1), text(name)) << name;
    }
    const int before = int(requests().size());
    act(find<QLineEdit>("LE_ust1max_r"), QAccessibleActionInterface::pressAction());
    act(find<QLineEdit>("Ed_version"), QAccessibleActionInterface::pressAction());
    EXPECT_EQ(requests().mid(before), QStringList({"05 03 00 23 00 04 B4 47", "05 04 00 09 00 05 E1 8F"}));
}

TEST_F(Windows, HelpIsReadBesideThePollAsIfAnotherProgram)
{
    start_all();
    click(find<QRadioButton>("RGtyp_opros_0"));
    click(glav->tool_button("ToolButton1"));
    glav->N_spravkaClick();
    HelpViewer* viewer = HelpViewer::instance();
    ASSERT_TRUE(viewer->isVisible()) << boxes.join('|').toStdString();
    viewer->activateWindow();
    ASSERT_TRUE(wait_for([&] { return viewer->isActiveWindow(); }));
    EXPECT_TRUE(glav->readings().Timer_opros.isActive()) << "reading help does not pause the poll";

    const int before = int(requests().size());
    glav->activateWindow();
    ASSERT_TRUE(wait_for([&] { return glav->isActiveWindow(); }));
    QTest::qWait(100);
    EXPECT_FALSE(requests().mid(before).contains("05 03 00 20 00 03 05 85")) << "no activation on the way back";
    EXPECT_EQ(glav->tool_button("ToolButton1")->text(), "стоп");

    glav->close();
    EXPECT_FALSE(viewer->isVisible()) << "closing the main window ends the program, help and all";
}

TEST_F(Windows, LeavingForAnotherWindowStopsThePollAtOnceEvenInsideAnExchange)
{
    start_all();
    click(find<QRadioButton>("RGtyp_opros_0"));
    click(glav->tool_button("ToolButton1"));
    emit find<QComboBox>("CBtime_opros")->activated(7);
    ASSERT_EQ(glav->readings().Timer_opros.interval(), 300000);
    {
        Busy exchanging(ctx->busy);
        comdcb->show();
        comdcb->activateWindow();
        ASSERT_TRUE(wait_for([&] { return !glav->isActiveWindow(); }));
        EXPECT_FALSE(glav->readings().Timer_opros.isActive());

        // A tick and the activation arriving inside the exchange wait for it to end.
        const int before = int(requests().size());
        glav->readings().Timer_oprosTimer();
        comdcb->hide();
        glav->activateWindow();
        ASSERT_TRUE(wait_for([&] { return glav->isActiveWindow(); }));
        QTest::qWait(50);
        EXPECT_EQ(int(requests().size()), before);
    }
    ASSERT_TRUE(wait_for([&] { return glav->readings().Timer_opros.interval() == 1000; }))
        << "the activation puts the poll interval back";
    EXPECT_EQ(requests().filter("05 03 08 00 00 01 87 EE").size(), 3) << "probe, first activation, this one";
}

TEST_F(Windows, TheShellKeepsItsPanelsAndToolBarAndFitsALaptopScreen)
{
    start_all();
    QStatusTipEvent hint(QStringLiteral("подсказка"));
    QApplication::sendEvent(glav.get(), &hint);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(glav->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i))->isVisible()) << i;
    EXPECT_EQ(glav->createPopupMenu(), nullptr) << "no menu that hides the tool bar";

    const QSize least = glav->minimumSizeHint().expandedTo(glav->minimumSize());
    EXPECT_LE(least.width(), 1366);
    EXPECT_LE(least.height(), 768 - 60) << "room for a title bar and a panel";

    // The port list tells the devices as they are when it opens.
    auto* ports = find<QComboBox>("CBport");
    ctx->ports.set(3, "/dev/ttyVARNOK3");
    ports->showPopup();
    EXPECT_EQ(ports->itemData(2, Qt::ToolTipRole).toString(), "/dev/ttyVARNOK3");
    ports->hidePopup();
}

}  // namespace
}  // namespace varnok::test
