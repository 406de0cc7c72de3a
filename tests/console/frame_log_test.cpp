// The frame log file: every request and answer of the console against what the simulator
// saw, the error line joined to its answer, the menu switch remembered, a failure told once,
// private files, the days kept.
#include <QAction>
#include <QDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console_fixture.h"
#include "console/frame_log.h"

namespace varnok::test {
namespace {

class FrameLogFile : public ConsoleOnSim {
protected:
    FrameLogFile() { qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8()); }
    // The console closes after this body runs and logs its last lines where the test's
    // process keeps its state, not in the user's home.
    ~FrameLogFile() override { qputenv("XDG_STATE_HOME", outer_state_); }
    const QByteArray outer_state_ = qgetenv("XDG_STATE_HOME");

    struct Line {
        QString direction, bytes, error;
    };

    // Every line of every day's file, checked for its time stamp; midnight may split a run.
    // The port lines come as direction "ПОРТ" with the port in `bytes`.
    QList<Line> logged() const
    {
        static const QRegularExpression form(QStringLiteral(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d (?:(ЗАПРОС|ОТВЕТ) ([0-9A-F]{2}(?: [0-9A-F]{2})*|нет ответа)(?: \| (.+))?|(ПОРТ) (.+))$)"));
        QList<Line> out;
        const QDir folder(FrameLog::folder());
        for (const QString& name : folder.entryList({QStringLiteral("frames-*.log")}, QDir::Files, QDir::Name)) {
            QFile f(folder.filePath(name));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const QRegularExpressionMatch m = form.match(line);
                EXPECT_TRUE(m.hasMatch()) << line.toStdString();
                if (m.hasCaptured(4))
                    out.push_back({m.captured(4), m.captured(5), {}});
                else
                    out.push_back({m.captured(1), m.captured(2), m.captured(3)});
            }
        }
        return out;
    }
    QStringList logged(const QString& direction) const
    {
        QStringList out;
        for (const Line& l : logged())
            if (l.direction == direction)
                out << l.bytes;
        return out;
    }
    // The answers the simulator sent, as it logged them.
    QStringList answers() const
    {
        QFile f(log_path());
        QStringList out;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (const int at = line.indexOf("-> "); at >= 0)
                    out << QString::fromLatin1(line.mid(at + 3)).trimmed();
        return out;
    }
    int frames() const { return int(logged(QStringLiteral("ЗАПРОС")).size() + logged(QStringLiteral("ОТВЕТ")).size()); }
    QString port_of_sim() const { return QStringLiteral("COM1 ") + QString::fromStdString(sim->path()); }
    QAction* item() const { return glav->findChild<QAction*>(QStringLiteral("N_zhurnal")); }
    void start_with_log(const QString& switch_line)
    {
        start_sim();
        write_ini(ini_for_sim() + QStringLiteral("\n[журнал]\n") + switch_line + QLatin1Char('\n'));
        start_console();
        show_and_activate();
    }
};

TEST_F(FrameLogFile, StartUpFramesAreTheOnesTheSimulatorSaw)
{
    start_with_log(QStringLiteral("В ФАЙЛ=1"));
    ASSERT_TRUE(item()->isChecked());
    EXPECT_EQ(item()->text(), "журнал обмена в файл");
    // The probe of the settings window, the address check, a full poll, name and version.
    ASSERT_TRUE(wait_for([&] { return logged(QStringLiteral("ОТВЕТ")).size() >= 17; }));
    const QStringList sent = requests();
    EXPECT_EQ(logged(QStringLiteral("ЗАПРОС")), sent);
    EXPECT_EQ(logged(QStringLiteral("ОТВЕТ")), answers());
    ASSERT_GE(sent.size(), 3);
    EXPECT_EQ(sent[0], "05 03 08 00 00 01 87 EE") << "the start-up probe is in the file";
    // The port heads the file; then request and answer alternate: one line per frame, in
    // the order they crossed the line.
    QList<Line> lines = logged();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0].direction.toStdString() + " " + lines[0].bytes.toStdString(),
              "ПОРТ " + port_of_sim().toStdString());
    lines.removeFirst();
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].direction, i % 2 == 0 ? "ЗАПРОС" : "ОТВЕТ") << i;
}

TEST_F(FrameLogFile, ErrorLineJoinsItsAnswer)
{
    start_with_log(QStringLiteral("В ФАЙЛ=1"));
    sim->command("fault exception 2 at 0x4C");
    sim->command("fault silence at 0x6C");
    click(find<QPushButton>("Bzapros"));
    const QStringList info = info_lines();
    ASSERT_EQ(info.size(), 2) << info.join('\n').toStdString();

    QList<Line> errors;
    // The last answer is written once control is back in the event loop.
    ASSERT_TRUE(wait_for([&] {
        errors.clear();
        for (const Line& l : logged())
            if (!l.error.isEmpty())
                errors.push_back(l);
        return errors.size() >= 2;
    }));
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[0].direction, "ОТВЕТ");
    EXPECT_TRUE(errors[0].bytes.startsWith("05 84 02 ")) << errors[0].bytes.toStdString();
    EXPECT_EQ(errors[0].error, info[0].trimmed());
    EXPECT_EQ(errors[1].bytes, "нет ответа");
    EXPECT_EQ(errors[1].error, info[1].trimmed());
}

TEST_F(FrameLogFile, MenuSwitchIsRememberedAndStopsTheFile)
{
    start_with_log(QStringLiteral("В ФАЙЛ=0"));
    EXPECT_FALSE(item()->isChecked());
    EXPECT_TRUE(logged().isEmpty()) << "no file while switched off";

    item()->trigger();
    EXPECT_TRUE(read_ini().contains("[журнал]\nВ ФАЙЛ=1\n")) << read_ini().toStdString();
    click(find<QPushButton>("Bzapros"));
    ASSERT_TRUE(wait_for([&] { return frames() >= 26; }));
    EXPECT_EQ(frames(), 26) << "a full poll: 13 requests and 13 answers";
    const int written = int(logged().size());
    EXPECT_EQ(logged(QStringLiteral("ПОРТ")).join('|').toStdString(), port_of_sim().toStdString())
        << "the port heads what was written";

    item()->trigger();
    EXPECT_TRUE(read_ini().contains("[журнал]\nВ ФАЙЛ=0\n"));
    click(find<QPushButton>("Bzapros"));
    QTest::qWait(50);  // nothing may come of it
    EXPECT_EQ(int(logged().size()), written);
    EXPECT_TRUE(read_ini().contains("[связь]\nПОРТ=1\n")) << "the rest of the file is kept";
}

TEST_F(FrameLogFile, FolderThatCannotBeMadeIsToldOnce)
{
    QFile blocker(dir.filePath(QStringLiteral("state")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
    blocker.close();
    start_with_log(QStringLiteral("В ФАЙЛ=1"));
    click(find<QPushButton>("Bzapros"));
    const QStringList told = info_lines().filter(QStringLiteral("журнал обмена не записан"));
    ASSERT_EQ(told.size(), 1) << info_lines().join('\n').toStdString();
    EXPECT_TRUE(told[0].contains(FrameLog::folder()));
}

// The log on its own, as the console drives it.
struct DirectLog {
    QStringList told;
    FrameLog log{[this](const QString& line) { told << line; }};
    DirectLog()
    {
        log.set_port([] { return QStringLiteral("COM7 /dev/ttyUSB3"); });
        log.set_enabled(true);
    }
    void frame()
    {
        const uint8_t request[] = {0x05, 0x03};
        log.sent(request, sizeof request);
    }
};

TEST_F(FrameLogFile, FilesArePrivateAndOnlyOldDayFilesGo)
{
    const QDate today = QDate::currentDate();
    const mode_t umask_was = ::umask(0);
    {
        DirectLog d;
        d.log.set_keep_days(0);
        d.frame();
        EXPECT_TRUE(d.told.isEmpty()) << d.told.join('\n').toStdString();
    }
    ::umask(umask_was);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(FrameLog::folder()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(FrameLog::file_of(today)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    const QDir folder(FrameLog::folder());
    const QString old = QFileInfo(FrameLog::file_of(today.addDays(-30))).fileName();
    const QString kept = QFileInfo(FrameLog::file_of(today.addDays(-29))).fileName();
    const QStringList made = {old,
                              "frames-2001-01-01.log",
                              kept,
                              "frames-2001-01-01.log.1",
                              "frames-2001-1-01.log",
                              "frames-2001-02-30.log",
                              "frames-2001-01-01.LOG",
                              "old.log"};
    for (const QString& name : made)
        QFile(folder.filePath(name)).open(QIODevice::WriteOnly);
    folder.mkdir(QStringLiteral("frames-2001-01-02.log"));
    QFile(dir.filePath(QStringLiteral("state/frames-2001-01-01.log"))).open(QIODevice::WriteOnly);
    const auto present = [&] { return folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot); };

    // 0 keeps all; then 30 keeps today and the 29 days before it.
    for (const int keep : {0, 30}) {
        DirectLog d;
        d.log.set_keep_days(keep);
        d.frame();
        if (keep == 0) {
            EXPECT_EQ(present().size(), 10);
        }
    }
    if (QDate::currentDate() != today)
        GTEST_SKIP() << "midnight passed";
    const QStringList left = {"frames-2001-01-01.LOG",
                              "frames-2001-01-01.log.1",
                              "frames-2001-01-02.log",
                              "frames-2001-02-30.log",
                              "frames-2001-1-01.log",
                              kept,
                              QFileInfo(FrameLog::file_of(today)).fileName(),
                              "old.log"};
    EXPECT_EQ(present().join(' ').toStdString(), left.join(' ').toStdString());
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("state/frames-2001-01-01.log"))));

    // Each console's writing begins with its port.
    QFile f(FrameLog::file_of(today));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(lines[i].mid(24).toStdString(), i % 2 == 0 ? "ПОРТ COM7 /dev/ttyUSB3" : "ЗАПРОС 05 03") << i;
}

// A FIFO in the day file's place is refused, whether anyone reads it or not, and never
// waited on.
TEST_F(FrameLogFile, AFifoInTheFilesPlaceIsRefusedAndToldOnce)
{
    ASSERT_TRUE(QDir().mkpath(FrameLog::folder()));
    const QByteArray fifo = QFile::encodeName(FrameLog::file_of(QDate::currentDate()));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    DirectLog d;
    d.frame();
    d.frame();
    char byte;
    const ssize_t got = ::read(reader, &byte, 1);
    ::close(reader);
    ASSERT_NE(got, 1) << "frames went into the FIFO";
    d.frame();  // nobody reads now
    ASSERT_EQ(d.told.size(), 1) << d.told.join('\n').toStdString();
    EXPECT_EQ(d.told[0].toStdString(), "журнал обмена не записан в файл " + fifo.toStdString() +
                                           ": это именованный канал (FIFO), а не обычный файл");
}

}  // namespace
}  // namespace varnok::test
