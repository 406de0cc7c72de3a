// The frame log file: every request and answer of the console against what the simulator
// saw, the error line joined to its answer, the menu switch remembered, a failure told once.
#include <QAction>
#include <QDir>

#include "console_fixture.h"
#include "console/frame_log.h"

namespace varnok::test {
namespace {

class FrameLogFile : public ConsoleOnSim {
protected:
    FrameLogFile() { qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8()); }
    ~FrameLogFile() override { qunsetenv("XDG_STATE_HOME"); }

    struct Line {
        QString direction, bytes, error;
    };

    // Every line of every day's file, checked for its time stamp; midnight may split a run.
    QList<Line> logged() const
    {
        static const QRegularExpression form(QStringLiteral(
            R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d (ЗАПРОС|ОТВЕТ) ([0-9A-F]{2}(?: [0-9A-F]{2})*|нет ответа)(?: \| (.+))?$)"));
        QList<Line> out;
        const QDir folder(FrameLog::folder());
        for (const QString& name : folder.entryList({QStringLiteral("frames-*.log")}, QDir::Files, QDir::Name)) {
            QFile f(folder.filePath(name));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const QRegularExpressionMatch m = form.match(line);
                EXPECT_TRUE(m.hasMatch()) << line.toStdString();
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
    // Request and answer alternate: one line per frame, in the order they crossed the line.
    const QList<Line> lines = logged();
    for (int i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].direction, i % 2 == 0 ? "ЗАПРОС" : "ОТВЕТ") << i;
}

TEST_F(FrameLogFile, ErrorLineJoinsItsAnswer)
{
    start_with_log(QStringLiteral("В ФАЙЛ=1"));
    sim->command("fault exception 2 at 0x4C");
    sim->command("fault silence at 0x6C");
    click(find<QPushButton>("Bzapros"));
    QTest::qWait(50);  // back in the event loop: the last answer is written
    const QStringList info = info_lines();
    ASSERT_EQ(info.size(), 2) << info.join('\n').toStdString();

    QList<Line> errors;
    for (const Line& l : logged())
        if (!l.error.isEmpty())
            errors.push_back(l);
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
    QTest::qWait(50);
    const int written = int(logged().size());
    EXPECT_EQ(written, 26) << "a full poll: 13 requests and 13 answers";

    item()->trigger();
    EXPECT_TRUE(read_ini().contains("[журнал]\nВ ФАЙЛ=0\n"));
    click(find<QPushButton>("Bzapros"));
    QTest::qWait(50);
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

}  // namespace
}  // namespace varnok::test
