// The about box, the search notice and the serial port inspector.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>
#include <termios.h>

#include "console/search/tfmsg.h"
#include "console/tfabout.h"
#include "console/tfcomdcb.h"
#include "link/link.h"
#include "support/pty.h"

namespace varnok {
namespace {

template <typename T>
T* child(QWidget& w, const char* name)
{
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

QString text_of(QWidget& w, const char* name)
{
    QLineEdit* e = child<QLineEdit>(w, name);
    return e ? e->text() : QString();
}

TEST(TFabout, ShowsNameVersionAndIcon)
{
    TFabout about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("о программе"));
    EXPECT_EQ(child<QLabel>(about, "ProductName")->text(), QStringLiteral("Проверка связи прибора Varnok с ПК"));
    EXPECT_EQ(child<QLabel>(about, "Version")->text(), QStringLiteral("Версия V2.0.3.6"));
    // The icon comes from the library's resources: missing when they are not linked in.
    EXPECT_FALSE(child<QLabel>(about, "ProgramIcon")->pixmap().isNull());
}

TEST(TFabout, OkAndEnterCloseWithAccepted)
{
    TFabout about;
    QPushButton* ok = child<QPushButton>(about, "OKButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());

    about.show();
    about.setResult(QDialog::Rejected);
    ok->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);

    // Enter anywhere in the box presses the default button.
    about.show();
    about.setResult(QDialog::Rejected);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&about, &enter);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(TFmsg, TextsAsStored)
{
    TFmsg msg;
    EXPECT_EQ(msg.label1()->objectName(), QStringLiteral("Label1"));
    EXPECT_EQ(msg.label1()->text(),
              QStringLiteral("Подождите ..... идет поиск приборов, отвечающих на наш запрос ......"));
    EXPECT_EQ(msg.label2()->objectName(), QStringLiteral("Label2"));
    EXPECT_EQ(msg.label2()->text(), QStringLiteral("Чтобы  прервать  поиск   Нажмите 'Q'  "));
    EXPECT_EQ(msg.cancelButton()->objectName(), QStringLiteral("Bmsg_cancel"));
    EXPECT_EQ(msg.cancelButton()->text(), QStringLiteral("отмена"));
    EXPECT_FALSE(msg.cancelButton()->isEnabled());

    msg.setWaitText(QStringLiteral("Подождите!... Идет ПОИСК СКОРОСТИ для номера 5 ...."));
    EXPECT_EQ(msg.label1()->text(), QStringLiteral("Подождите!... Идет ПОИСК СКОРОСТИ для номера 5 ...."));
}

TEST(TFmsg, FixedOnTopWindowWithoutButtons)
{
    TFmsg msg;
    const Qt::WindowFlags f = msg.windowFlags();
    EXPECT_TRUE(msg.isWindow());
    EXPECT_TRUE(f & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(f & Qt::CustomizeWindowHint);
    EXPECT_FALSE(f & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(msg.minimumSize(), QSize(704, 66));
    EXPECT_EQ(msg.maximumSize(), QSize(704, 66));

    msg.show();
    EXPECT_EQ(msg.size(), QSize(704, 66));
    EXPECT_EQ(msg.pos(), QPoint(297, 345));
    EXPECT_TRUE(msg.autoFillBackground());
    EXPECT_EQ(msg.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(msg.label1()->palette().color(QPalette::WindowText), QColor(Qt::magenta));
    EXPECT_EQ(msg.label2()->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(msg.label1()->font().pixelSize(), 16);
    EXPECT_EQ(msg.label2()->font().pixelSize(), 16);
    // The texts fit their labels, the longest waiting text of a search included.
    for (QLabel* l : {msg.label1(), msg.label2()})
        EXPECT_LE(l->sizeHint().width(), l->width()) << l->objectName().toStdString();
    msg.setWaitText(QStringLiteral("Подождите!... Идет ПОИСК НОМЕРОВ, отвечающих на скорость 115200 ..."));
    EXPECT_LE(msg.label1()->sizeHint().width(), msg.label1()->width());
}

class TFcomdcbOnPty : public ::testing::Test {
protected:
    TFcomdcbOnPty() : link(notices, sleeper, keys, ports) { ports.set(1, pty.slave_path()); }

    test::Pty pty;
    PortMap ports;
    test::RecordingNotices notices;
    test::RecordingSleeper sleeper;
    test::ScriptedKeys keys;
    Link link;
};

TEST_F(TFcomdcbOnPty, ClosedPortShowsPathAndNoLine)
{
    TFcomdcb w(link);
    EXPECT_TRUE(w.isWindow());
    EXPECT_EQ(text_of(w, "Eport"), QStringLiteral("COM1"));
    EXPECT_EQ(text_of(w, "Edevice"), QString::fromStdString(pty.slave_path()));
    EXPECT_EQ(text_of(w, "Estate"), QStringLiteral("закрыт"));
    EXPECT_EQ(text_of(w, "Ebaud"), QStringLiteral("—"));
    EXPECT_EQ(text_of(w, "E_RTTC"), QStringLiteral("—"));

    // Every value is a read-only field that a screen reader can name.
    const auto edits = w.findChildren<QLineEdit*>();
    EXPECT_EQ(edits.size(), 13);
    for (QLineEdit* e : edits) {
        EXPECT_TRUE(e->isReadOnly()) << e->objectName().toStdString();
        EXPECT_FALSE(e->accessibleName().isEmpty()) << e->objectName().toStdString();
    }
}

TEST_F(TFcomdcbOnPty, OpenPortShowsDriverLineAndTimeouts)
{
    link.R_IntervalTimeout = 3;
    link.R_TotalTimeoutMultiplier = 20;
    link.R_TotalTimeoutConstant = 16;
    link.W_TotalTimeoutMultiplier = 1;
    link.W_TotalTimeoutConstant = 7;
    ASSERT_EQ(link.init_com_port_new("COM1", 19200, 0, 2, 8), 0u);

    TFcomdcb w(link);
    w.refresh();
    EXPECT_EQ(text_of(w, "Edevice"), QString::fromStdString(pty.slave_path()));
    EXPECT_EQ(text_of(w, "Estate"), QStringLiteral("открыт"));
    EXPECT_EQ(text_of(w, "Ebaud"), QStringLiteral("19200"));
    EXPECT_EQ(text_of(w, "Ebytesize"), QStringLiteral("8"));
    EXPECT_EQ(text_of(w, "Eparity"), QStringLiteral("нет"));
    EXPECT_EQ(text_of(w, "Estopbits"), QStringLiteral("2"));
    EXPECT_EQ(text_of(w, "E_RIT"), QStringLiteral("3"));
    EXPECT_EQ(text_of(w, "E_RTTM"), QStringLiteral("20"));
    EXPECT_EQ(text_of(w, "E_RTTC"), QStringLiteral("16"));
    EXPECT_EQ(text_of(w, "E_WTTM"), QStringLiteral("1"));
    EXPECT_EQ(text_of(w, "E_WTTC"), QStringLiteral("7"));

    // The line shown is the driver's, not the console's request: change it behind the
    // link's back and refresh.
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    cfsetispeed(&t, B4800);
    cfsetospeed(&t, B4800);
    t.c_cflag &= ~CSTOPB;
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &t), 0);
    w.refresh();
    EXPECT_EQ(text_of(w, "Ebaud"), QStringLiteral("4800"));
    EXPECT_EQ(text_of(w, "Estopbits"), QStringLiteral("1"));
}

}  // namespace
}  // namespace varnok
