// The device's configuration to and from a profile file through the menu "файл".
#include <QFileInfo>
#include <sys/stat.h>

#include "console_fixture.h"
#include "console/file_chooser.h"

namespace varnok::test {
namespace {

const QString kCalibrationLeft = QStringLiteral(
    "калибровка из файла не записывается: у каждого прибора своя (её записывает пункт «калибровка прибора из файла…»)");

class Profiles : public ConsoleOnSim {
protected:
    ~Profiles() override
    {
        set_file_chooser({});
        MessageBox::set_confirmer({});
    }
    void choose(const QString& path)
    {
        set_file_chooser([path](QWidget*, const QString&, const QString&, const QString&, bool) { return path; });
    }
    void trigger(const char* item) { find<QAction>(item)->trigger(); }
    QString slurp(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(Profiles, SavedThenLoadedAfterAConfirmationOnly)
{
    start_all();
    const QString path = dir.filePath(QStringLiteral("pm3.conf"));
    choose(path);
    trigger("N_conf_save");
    const QString saved = slurp(path);
    EXPECT_TRUE(saved.startsWith(QStringLiteral("# Varnok: конфигурация прибора\n# прибор: Варнок ПМ3\n")))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains(QStringLiteral("\n[scales]\nscale1=250.0\nunit1=В\n"))) << saved.toStdString();
    EXPECT_EQ(info_lines().last(), QStringLiteral("конфигурация прибора записана в ") + path);

    // The device changed since: the load shows both changes and writes them after "да" only.
    sim->command("setf holding 0x23 200");
    sim->command("set holding 0x20 0x0203");
    QStringList asked;
    bool answer = false;
    MessageBox::set_confirmer([&](const QString& text, const QString& informative) {
        asked << text << informative;
        return answer;
    });
    trigger("N_conf_load");
    EXPECT_EQ(asked, (QStringList{QStringLiteral("записать в прибор?"),
                                  QStringLiteral("unit1: мА -> В\nmax1: 200 -> 225\n\n") + kCalibrationLeft}));
    EXPECT_EQ(sim->command("get holding 0x20"), "ok 515");
    answer = true;
    trigger("N_conf_load");
    EXPECT_EQ(sim->command("get holding 0x20"), "ok 513");
    EXPECT_EQ(sim->command("get holding 0x24"), "ok 24899");
    EXPECT_EQ(info_lines().last(),
              QStringLiteral("конфигурация прибора из ") + path + QStringLiteral(" записана и проверена"));
    EXPECT_EQ(text("LE_max1").trimmed(), QStringLiteral("225"));

    // A file that is not a profile is refused before anything is asked of the device.
    const int before = int(requests().size());
    choose(dir.filePath(QStringLiteral("varnok.ini")));
    trigger("N_conf_load");
    EXPECT_EQ(boxes.last(), QStringLiteral("файл конфигурации не принят"));
    EXPECT_EQ(int(requests().size()), before);

    // The same reader as the tool's: a copy cut inside a value is refused with its line; one
    // without the closing line, as earlier versions saved it, loads with a note in the log.
    const QByteArray bytes = saved.toUtf8();
    const QString cut = dir.filePath(QStringLiteral("cut.conf"));
    QFile out(cut);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.indexOf("max1=225") + 7));
    out.close();
    QStringList told;
    MessageBox::set_recorder([&](const QString& text, const QString& informative) { told << text << informative; });
    choose(cut);
    trigger("N_conf_load");
    ASSERT_EQ(told.size(), 2);
    EXPECT_EQ(told[0], QStringLiteral("файл конфигурации не принят"));
    EXPECT_TRUE(told[1].endsWith(QStringLiteral(": не кончается переводом строки, файл обрезан")))
        << told[1].toStdString();
    EXPECT_EQ(int(requests().size()), before);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(bytes.left(bytes.lastIndexOf("# crc32=")));
    out.close();
    trigger("N_conf_load");
    EXPECT_EQ(told.size(), 2);
    EXPECT_TRUE(info_lines().contains(
        cut +
        QStringLiteral(": профиль без строки контрольной суммы (сохранён прежней версией), цел ли он, не проверить")))
        << info_lines().join(QLatin1Char('\n')).toStdString();

    // A FIFO in the file's place is named and left as it is.
    const QString fifo = dir.filePath(QStringLiteral("fifo.conf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    told.clear();
    choose(fifo);
    trigger("N_conf_save");
    EXPECT_EQ(told, (QStringList{QStringLiteral("файл не записан"),
                                 fifo + QStringLiteral(": это именованный канал (FIFO), а не обычный файл")}));
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
}

// Another unit's calibration is never loaded with its configuration; its own menu item asks for it by name.
TEST_F(Profiles, TheCalibrationLoadsOnlyFromItsOwnItem)
{
    start_all();
    const QString path = dir.filePath(QStringLiteral("pm3.conf"));
    choose(path);
    trigger("N_conf_save");
    sim->command("set holding 0x27 1100");  // channel 1's stored zero
    QStringList asked;
    MessageBox::set_confirmer([&](const QString& text, const QString& informative) {
        asked << text << informative;
        return true;
    });
    trigger("N_conf_load");
    EXPECT_EQ(asked, QStringList());
    EXPECT_EQ(info_lines().last(),
              QStringLiteral("прибор уже соответствует файлу ") + path + QStringLiteral("; ") + kCalibrationLeft);
    EXPECT_EQ(sim->command("get holding 0x27"), "ok 1100");

    ASSERT_NE(find<QAction>("N_conf_load_calib"), nullptr);
    trigger("N_conf_load_calib");
    EXPECT_EQ(asked, (QStringList{QStringLiteral("записать калибровку в прибор?"),
                                  QStringLiteral("zero1: 1100 -> 1012\n\nкалибровка у каждого прибора своя: "
                                                 "записывайте её только в прибор, из которого сохранён файл")}));
    EXPECT_EQ(sim->command("get holding 0x27"), "ok 1012");
    EXPECT_EQ(info_lines().last(),
              QStringLiteral("калибровка прибора из ") + path + QStringLiteral(" записана и проверена"));
}

}  // namespace
}  // namespace varnok::test
