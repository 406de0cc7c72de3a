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
#include "support/fakes.h"
#include "support/pty.h"

namespace varnok {
namespace {

QString text_of(const QWidget& w, const char* name)
{
    const auto* c = w.findChild<QWidget*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    if (const auto* label = qobject_cast<const QLabel*>(c))
        return label->text();
    if (const auto* edit = qobject_cast<const QLineEdit*>(c))
        return edit->text();
    return {};
}

TEST(TFabout, TextsIconAndOkOrEnterAccept)
{
    TFabout about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("о программе"));
    EXPECT_EQ(text_of(about, "ProductName"), QStringLiteral("Проверка связи прибора Varnok с ПК"));
    EXPECT_EQ(text_of(about, "Version"), QStringLiteral("Версия V2.0.3.6"));
    // The icon comes from the library's resources: missing when they are not linked in.
    EXPECT_FALSE(about.findChild<QLabel*>(QStringLiteral("ProgramIcon"))->pixmap().isNull());

    auto* ok = about.findChild<QPushButton*>(QStringLiteral("OKButton"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    about.show();
    ok->click();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);

    // OK is the default button: Enter anywhere in the box presses it.
    about.show();
    about.setResult(QDialog::Rejected);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&about, &enter);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

TEST(TFmsg, TextsAsStoredAndCancelDisabled)
{
    TFmsg msg;
    EXPECT_EQ(text_of(msg, "Label1"),
              QStringLiteral("Подождите ..... идет поиск приборов, отвечающих на наш запрос ......"));
    EXPECT_EQ(text_of(msg, "Label2"), QStringLiteral("Чтобы  прервать  поиск   Нажмите 'Q'  "));
    EXPECT_EQ(msg.cancelButton()->objectName(), QStringLiteral("Bmsg_cancel"));
    EXPECT_EQ(msg.cancelButton()->text(), QStringLiteral("отмена"));
    EXPECT_FALSE(msg.cancelButton()->isEnabled());
}

TEST(TFmsg, FixedWhiteOnTopWindowWithoutButtonsAndTextsThatFit)
{
    TFmsg msg;
    const Qt::WindowFlags f = msg.windowFlags();
    EXPECT_TRUE(msg.isWindow());
    EXPECT_TRUE(f & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(f & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(msg.minimumSize(), QSize(704, 66));
    EXPECT_EQ(msg.maximumSize(), QSize(704, 66));

    msg.show();
    EXPECT_EQ(msg.pos(), QPoint(297, 345));
    EXPECT_TRUE(msg.autoFillBackground());
    EXPECT_EQ(msg.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(msg.label1()->palette().color(QPalette::WindowText), QColor(Qt::magenta));
    EXPECT_EQ(msg.label2()->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(msg.label1()->font().pixelSize(), 16);
    EXPECT_EQ(msg.label2()->font().pixelSize(), 16);

    // The longest waiting text a search sets is not cut off.
    msg.setWaitText(QStringLiteral("Подождите!... Идет ПОИСК НОМЕРОВ, отвечающих на скорость 115200 ..."));
    for (QLabel* l : {msg.label1(), msg.label2()})
        EXPECT_LE(l->sizeHint().width(), l->width()) << l->objectName().toStdString();
}

class TFcomdcbOnPty : public ::testing::Test {
protected:
    TFcomdcbOnPty() : link(notices, sleeper, ports) { ports.set(1, pty.slave_path()); }

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

TEST_F(TFcomdcbOnPty, OpenPortShowsTheDriversLineAndTheTimeouts)
{
    link.set_timeouts({3, 20, 16, 1, 7});
    ASSERT_EQ(link.init_com_port_new("COM1", 19200, 0, 2, 8), 0u);

    TFcomdcb w(link);
    EXPECT_EQ(text_of(w, "Estate"), QStringLiteral("открыт"));
    QStringList shown;
    for (const char* name :
         {"Ebaud", "Ebytesize", "Eparity", "Estopbits", "E_RIT", "E_RTTM", "E_RTTC", "E_WTTM", "E_WTTC"})
        shown << text_of(w, name);
    EXPECT_EQ(shown.join(' '), QStringLiteral("19200 8 нет 2 3 20 16 1 7"));

    // What the driver holds, not what the console asked for: change it behind the link's back.
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
