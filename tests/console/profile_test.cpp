// The device's configuration to and from a profile file through the menu "файл".
#include "console_fixture.h"
#include "console/file_chooser.h"

namespace varnok::test {
namespace {

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
    EXPECT_EQ(asked,
              (QStringList{QStringLiteral("записать в прибор?"), QStringLiteral("unit1: мА -> В\nmax1: 200 -> 225")}));
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
}

}  // namespace
}  // namespace varnok::test
