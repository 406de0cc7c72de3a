#pragma once
// The whole console (its windows, created in the program's order) against the simulator
// on a pseudo-terminal, with a settings file in a folder of the test's own.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

#include "console/console_windows.h"
#include "console/up_down.h"
#include "console/exchange_log.h"
#include "console/message_box.h"
#include "console/readings_page.h"
#include "support/sim_process.h"

namespace varnok::test {

class ConsoleOnSim : public ::testing::Test {
protected:
    ~ConsoleOnSim() override { MessageBox::set_recorder({}); }

    QString ini_path() const { return dir.filePath(QStringLiteral("varnok.ini")); }

    // The suite runs a second time with the fast exchange on (tests/console/CMakeLists.txt).
    // There a probe waits 100 ms beyond the line time instead of 20, for a simulator that a
    // busy machine keeps waiting.
    static bool fast_run() { return qEnvironmentVariableIntValue("VARNOK_TEST_FAST_EXCHANGE") == 1; }
    static constexpr uint16_t kFastRunProbeWait = 100;

    void write_ini(const QString& text)
    {
        QFile f(ini_path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
        if (fast_run())
            f.write(QStringLiteral("\n[быстрый обмен]\nВКЛЮЧЕН=1\nОЖИДАНИЕ ПРИ ПОИСКЕ=%1\n")
                        .arg(kFastRunProbeWait)
                        .toUtf8());
    }
    QString read_ini() const
    {
        QFile f(ini_path());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // A settings file whose "порты" section maps COM`port` to the simulator.
    QString ini_for_sim(int speed = 9600, int port = 1, int address = 5) const
    {
        return QStringLiteral(
                   "[связь]\nПОРТ=%1\nНОМЕР=%2\nСКОРОСТЬ=%3\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=1\n\n"
                   "[порты]\nCOM%1=%4\n")
            .arg(port)
            .arg(address)
            .arg(speed)
            .arg(QString::fromStdString(sim->path()));
    }

    void start_sim(std::vector<std::string> args = {})
    {
        // Each answer handed over whole, as a USB adapter does: fed byte by byte, a loaded
        // machine leaves gaps between bytes longer than the inter-byte time-out.
        args.insert(args.end(), {"--noise", "0", "--whole-answers", "--log", log_path().toStdString()});
        sim = std::make_unique<SimProcess>(args);
    }

    // Creates the windows as the program does. `map_com1` gives COM1 to the simulator
    // without any settings file.
    void start_console(bool map_com1 = false)
    {
        MessageBox::set_recorder([this](const QString& text, const QString&) { boxes << text; });
        ctx = std::make_unique<ConsoleContext>(ini_path().toStdString());
        if (fast_run()) {  // for a start without a settings file
            ctx->link.set_fast_exchange(true);
            ctx->link.set_fast_probe_wait(kFastRunProbeWait);
        }
        if (map_com1)
            ctx->ports.set(1, sim->path());
        // The program's assembly, each window then kept on its own so that a test can end
        // them one by one.
        ConsoleWindows windows(*ctx);
        glav = std::move(windows.glav);
        about = std::move(windows.about);
        comdcb = std::move(windows.comdcb);
        setup = std::move(windows.setup);
        msg = std::move(windows.msg);
    }

    // Shows the main window and waits for its activation sequence to finish.
    void show_and_activate()
    {
        glav->show();
        glav->activateWindow();
        ASSERT_TRUE(wait_for([&] { return glav->status_panel(0).startsWith(QStringLiteral(" Порт: ")); }));
    }

    void start_all(std::vector<std::string> sim_args = {})
    {
        start_sim(std::move(sim_args));
        write_ini(ini_for_sim());
        start_console();
        ASSERT_EQ(ctx->link.settings().fast_exchange, fast_run());
        show_and_activate();
    }

    template <class Pred>
    static bool wait_for(Pred pred, int ms = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!pred()) {
            if (t.elapsed() > ms)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QTest::qWait(5);
        }
        return true;
    }

    QString log_path() const { return dir.filePath(QStringLiteral("frames.log")); }

    // The requests the simulator received, in order, as hexadecimal text.
    QStringList requests() const
    {
        QFile f(log_path());
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const int at = line.indexOf("<- ");
            if (at >= 0)
                out << QString::fromLatin1(line.mid(at + 3)).trimmed();
        }
        return out;
    }

    // The connections the simulator on TCP took, as its log tells them. A command answered
    // first lets it take every connection made before.
    int connections() const
    {
        sim->command("device 1");
        QFile f(log_path());
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count("a master connected")) : 0;
    }

    template <class T>
    T* find(const char* name) const
    {
        T* w = glav->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* name) const { return find<QLineEdit>(name)->text(); }
    QStringList info_lines() const
    {
        QStringList out;
        auto* list = find<QListWidget>("ListBox1");
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

    QTemporaryDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<ConsoleContext> ctx;
    std::unique_ptr<TFglav> glav;
    std::unique_ptr<TFabout> about;
    std::unique_ptr<TFcomdcb> comdcb;
    std::unique_ptr<TFMsetup> setup;
    std::unique_ptr<TFmsg> msg;
    QStringList boxes;
};

}  // namespace varnok::test
