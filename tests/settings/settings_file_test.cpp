#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "settings/settings_file.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

const std::string kFirstStart =
    "[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=1\n\n"
    "[таймауты]\n RIT=30\n RTTM=5\n RTTC=225\n WTTM=0\n WTTC=0\n";

// The console's state as its main window sets it, and the start-up sequence it runs.
struct Console {
    LinkSettings link;
    uint8_t n_time_opros = 1;
    int32_t time_opros = 2;
    SettingsFile file;

    explicit Console(const std::string& path) : file(link, n_time_opros, time_opros, path) {}
    bool start()
    {
        const bool loaded = file.open_or_create();
        if (loaded) {
            file.read_port();
            file.From_Ini();
        }
        return loaded;
    }
    // Everything a read sets, on one line: port, number, speed/code, parity, stop bits,
    // period index=seconds, time-outs in force.
    std::string summary() const
    {
        const LinkSettings& l = link;
        char text[160];
        std::snprintf(text, sizeof text, "%s/%d #%d %d/%d p%d s%d t%d=%d %d,%d,%d,%d,%d", l.name_comport.c_str(),
                      l.num_name_comport, l.sys_num, l.scor_obmena, l.num_scor, l.parity, l.stopbit, n_time_opros,
                      time_opros, l.R_IntervalTimeout, l.R_TotalTimeoutMultiplier, l.R_TotalTimeoutConstant,
                      l.W_TotalTimeoutMultiplier, l.W_TotalTimeoutConstant);
        return text;
    }
    // Values none of the defaults share, to see which ones a read replaced.
    void set_unusual()
    {
        link.name_comport = "COM5", link.num_name_comport = 5, link.sys_num = 9, link.scor_obmena = 19200;
        link.num_scor = 3, link.parity = 1, link.stopbit = 2, n_time_opros = 4, time_opros = 30;
        link.R_IntervalTimeout = 3, link.R_TotalTimeoutMultiplier = 20, link.R_TotalTimeoutConstant = 16;
    }
};

const std::string kFileDefaults = "COM1/1 #1 9600/2 p0 s1 t2=5 30,5,225,0,0";
const std::string kUnusual = "COM5/5 #9 19200/3 p1 s2 t4=30 3,20,16,0,0";

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "varnok-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = dir + "/varnok.ini";
    }
    void TearDown() override
    {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    static void put(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    static std::string text_of(const std::string& file)
    {
        std::ostringstream s;
        s << std::ifstream(file, std::ios::binary).rdbuf();
        return s.str();
    }
    std::set<std::string> entries() const
    {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        return names;
    }

    std::string dir, path;
};

TEST_F(SettingsFileTest, FirstStartWritesBothSectionsAndPutsStoredTimeoutsInForce)
{
    Console c(path);
    c.link.R_IntervalTimeout = 3;  // a speed row in force
    c.link.W_TotalTimeoutConstant = 7;
    EXPECT_FALSE(c.start());
    EXPECT_TRUE(c.file.usable());
    EXPECT_EQ(c.file.problem(), "");
    EXPECT_EQ(text_of(path), kFirstStart);
    EXPECT_EQ(c.summary(), "COM1/1 #5 9600/2 p0 s1 t1=2 30,5,225,0,0");
    EXPECT_EQ(entries(), std::set<std::string>{"varnok.ini"});
}

TEST_F(SettingsFileTest, EveryKeyReadsBackAndRewritingAddsNoDuplicates)
{
    Console a(path);
    a.link.num_name_comport = 12, a.link.sys_num = 247, a.link.scor_obmena = 57600;
    a.link.parity = 2, a.link.stopbit = 2, a.n_time_opros = 6;
    a.link.n_R_IntervalTimeout = 1, a.link.n_R_TotalTimeoutMultiplier = 2, a.link.n_R_TotalTimeoutConstant = 3;
    a.link.n_W_TotalTimeoutMultiplier = 4, a.link.n_W_TotalTimeoutConstant = 65535;
    ASSERT_FALSE(a.start());
    const std::string written = text_of(path);

    Console b(path);
    ASSERT_TRUE(b.start());
    EXPECT_EQ(b.summary(), "COM12/12 #247 57600/5 p2 s2 t6=120 1,2,3,4,65535");
    EXPECT_EQ(b.link.n_R_IntervalTimeout, 30);  // reading leaves the stored copy alone

    // The reloaded keys lost their leading blank; writing must not add " RIT" beside "RIT".
    b.link = a.link;
    ASSERT_TRUE(b.file.ToIni(true));
    EXPECT_EQ(text_of(path), written);
}

TEST_F(SettingsFileTest, MissingJunkAndOutOfRangeValuesGiveTheDefaults)
{
    const std::pair<const char*, std::string> cases[] = {
        {"[связь]\n", kFileDefaults},
        {"[связь]\nПОРТ=0\nНОМЕР=0\nСКОРОСТЬ=-1\nПАРИТЕТ=-1\nСТОПБИТ=0\nПЕРИОД ОПРОСА=-1\n"
         "[таймауты]\n RIT=-1\n RTTM=-5\n RTTC=-225\n WTTM=-1\n WTTC=-1\n",
         kFileDefaults},
        {"[связь]\nПОРТ=17\nНОМЕР=248\nСКОРОСТЬ=-9600\nПАРИТЕТ=3\nСТОПБИТ=3\nПЕРИОД ОПРОСА=8\n"
         "[таймауты]\n RIT=65536\n RTTM=99999999999999999999\n RTTC=4294967521\n WTTM=70000\n WTTC=65536\n",
         kFileDefaults},
        {"[связь]\nПОРТ=3abc\nНОМЕР=12abc\nСКОРОСТЬ=\nПАРИТЕТ=0x1\nСТОПБИТ=two\nПЕРИОД ОПРОСА=1.5\n"
         "[таймауты]\nRIT=\nRTTM=7 x\nRTTC=9.0\nWTTM=1e3\nWTTC=--1\n",
         kFileDefaults},
        {"[связь]\nСКОРОСТЬ=19200\nПОРТ=3\n", "COM3/3 #1 19200/3 p0 s1 t2=5 30,5,225,0,0"},
        // A speed of 0 is kept: the start-up probe then asks the engineer to choose one.
        {"[связь]\nСКОРОСТЬ=0\n", "COM1/1 #1 0/0 p0 s1 t2=5 30,5,225,0,0"},
        {"[связь]\n СКОРОСТЬ = 14400 \nПОРТ=16\nПЕРИОД ОПРОСА=7\n", "COM16/16 #1 14400/0 p0 s1 t7=300 30,5,225,0,0"},
    };
    for (const auto& [text, read] : cases) {
        put(path, text);
        Console c(path);
        c.set_unusual();
        ASSERT_TRUE(c.start()) << c.file.problem();
        EXPECT_EQ(c.summary(), read) << text;
    }
}

TEST_F(SettingsFileTest, ClosingRewritesOnlyTheLinkSectionAndKeepsEverythingElse)
{
    put(path,
        "; bench 4\n[связь]\nПОРТ=2\nЗАМЕТКА=стенд 4\n\n[таймауты]\n RIT = 77\n RTTM=5\n\n"
        "[порты]\nCOM2=/dev/ttyUSB1\nCOM16 = /dev/serial/by-id/usb-FTDI x \nCOM3=\nCOM17=/dev/ttyS9\n"
        "\n; spare adapter:\n# COM4=/dev/ttyUSB2\n");
    Console c(path);
    ASSERT_TRUE(c.start());
    c.link.num_name_comport = 4;
    c.link.sys_num = 9;
    c.link.R_IntervalTimeout = 3;
    c.link.n_R_IntervalTimeout = 40;
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(c.link.R_IntervalTimeout, 3);

    const std::string text = text_of(path);
    for (const char* kept : {"; bench 4\n", "ЗАМЕТКА=стенд 4\n", " RIT=77\n", "COM2=/dev/ttyUSB1\n",
                             "; spare adapter:\n# COM4=/dev/ttyUSB2\n", "ПОРТ=4\n", "НОМЕР=9\n"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept << " missing from\n" << text;

    Console after(path);
    ASSERT_TRUE(after.start());
    EXPECT_EQ(after.link.R_IntervalTimeout, 77);
    PortMap map;
    after.file.read_ports(map);
    EXPECT_EQ(map.entries(), (std::map<int, std::string>{{2, "/dev/ttyUSB1"}, {16, "/dev/serial/by-id/usb-FTDI x"}}));
    ASSERT_TRUE(after.file.ToIni(false));
    EXPECT_EQ(text_of(path), text);  // a second write changes nothing more
}

TEST_F(SettingsFileTest, TheFastExchangeIsReadFromItsSectionAndRememberedOnceSwitchedOn)
{
    const std::tuple<const char*, bool, int> reads[] = {
        {"", false, 20},
        {"[быстрый обмен]\nВКЛЮЧЕН=1\nОЖИДАНИЕ ПРИ ПОИСКЕ=35\n", true, 35},
        {"[быстрый обмен]\nВКЛЮЧЕН=2\nОЖИДАНИЕ ПРИ ПОИСКЕ=1001\n", false, 20},
        {"[быстрый обмен]\nВКЛЮЧЕН=да\nОЖИДАНИЕ ПРИ ПОИСКЕ=0\n", false, 0},
    };
    for (const auto& [section, on, wait] : reads) {
        put(path, std::string("[связь]\n") + section);
        Console c(path);
        c.link.fast_exchange = !on;
        ASSERT_TRUE(c.start());
        EXPECT_EQ(c.link.fast_exchange, on) << section;
        EXPECT_EQ(c.link.fast_probe_wait, wait) << section;
    }

    // A first start writes only the described sections, whatever the switch says; closing
    // adds the section once the switch is on, and keeps it when it goes off again.
    fs::remove(path);
    Console c(path);
    c.link.fast_exchange = true;
    ASSERT_FALSE(c.start());
    EXPECT_EQ(text_of(path), kFirstStart);
    c.link.fast_exchange = false;
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), kFirstStart);
    c.link.fast_exchange = true;
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), kFirstStart + "\n[быстрый обмен]\nВКЛЮЧЕН=1\n");
    c.link.fast_exchange = false;
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), kFirstStart + "\n[быстрый обмен]\nВКЛЮЧЕН=0\n");
}

TEST_F(SettingsFileTest, FileThatCannotBeReadOrCreatedIsReportedAndLeftAlone)
{
    const std::string cases[] = {
        "[связь]\nНОМЕР=\xff\xfe\n",
        std::string("[связь]\nНОМЕР=7\0\n", 19),
        "[связь]\nНОМЕР 7\n",
        "[связь]\n[порты=1\n",
    };
    for (const std::string& content : cases) {
        put(path, content);
        Console c(path);
        c.set_unusual();
        EXPECT_FALSE(c.start());
        EXPECT_FALSE(c.file.usable());
        EXPECT_NE(c.file.problem().find("файл настроек " + path + " не прочитан: строка 2"), std::string::npos)
            << c.file.problem();
        EXPECT_EQ(c.summary(), kUnusual);
        EXPECT_FALSE(c.file.ToIni(false));
        EXPECT_NE(c.file.problem().find("не записан"), std::string::npos);
        EXPECT_EQ(text_of(path), content);
    }

    fs::remove(path);
    fs::create_directory(path);
    Console d(path);
    EXPECT_FALSE(d.start());
    EXPECT_NE(d.file.problem().find("папка"), std::string::npos) << d.file.problem();
    EXPECT_FALSE(d.file.ToIni(true));
    EXPECT_TRUE(fs::is_directory(path));

    put(dir + "/plain", "");
    const std::string inside_file = dir + "/plain/varnok.ini";
    Console e(inside_file);
    e.set_unusual();
    EXPECT_FALSE(e.start());
    EXPECT_FALSE(e.file.usable());
    EXPECT_NE(e.file.problem().find("файл настроек " + inside_file + " не создан: "), std::string::npos)
        << e.file.problem();
    EXPECT_EQ(e.summary(), "COM5/5 #9 19200/3 p1 s2 t4=30 30,5,225,0,0");  // only the stored time-outs put in force
}

TEST_F(SettingsFileTest, ReplacingCreatesFoldersFollowsLinksKeepsModeAndLeavesNoTemporary)
{
    const std::string nested = dir + "/a/b/varnok.ini";
    Console c(nested);
    EXPECT_FALSE(c.start());
    EXPECT_EQ(text_of(nested), kFirstStart);
    EXPECT_EQ(fs::status(dir + "/a").permissions(), fs::perms::owner_all);

    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    put(path, kFirstStart);
    fs::permissions(path, mode);
    fs::create_symlink("varnok.ini", dir + "/link.ini");
    Console d(dir + "/link.ini");
    ASSERT_TRUE(d.start());
    d.link.sys_num = 7;
    for (bool always : {false, true, false})
        ASSERT_TRUE(d.file.ToIni(always)) << d.file.problem();
    EXPECT_TRUE(fs::is_symlink(dir + "/link.ini"));
    EXPECT_NE(text_of(path).find("НОМЕР=7\n"), std::string::npos);
    EXPECT_EQ(fs::status(path).permissions(), mode);
    EXPECT_EQ(entries(), (std::set<std::string>{"a", "link.ini", "varnok.ini"}));
}

TEST_F(SettingsFileTest, EditsMadeWhileRunningSurviveTheClosingWrite)
{
    Console c(path);
    ASSERT_FALSE(c.start());
    std::ofstream(path, std::ios::app) << "\n[порты]\nCOM1=/dev/ttyUSB0\n";
    c.link.sys_num = 7;
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_NE(text_of(path).find("[порты]\nCOM1=/dev/ttyUSB0\n"), std::string::npos);
    EXPECT_NE(text_of(path).find("НОМЕР=7\n"), std::string::npos);

    put(path, "half-typed line\n");
    EXPECT_FALSE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), "half-typed line\n");
}

TEST(SettingsPath, XdgConfigHomeFirstThenHome)
{
    const auto saved = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto xdg = saved("XDG_CONFIG_HOME"), home = saved("HOME");

    ::setenv("HOME", "/home/eng", 1);
    ::setenv("XDG_CONFIG_HOME", "/srv/cfg", 1);
    EXPECT_EQ(SettingsFile::default_path(), "/srv/cfg/varnok.ini");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(SettingsFile::default_path(), "/home/eng/.config/varnok.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
    EXPECT_EQ(SettingsFile::default_path(), "/home/eng/.config/varnok.ini");

    for (auto [name, value] : {std::pair{"XDG_CONFIG_HOME", xdg}, std::pair{"HOME", home}})
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

}  // namespace
}  // namespace varnok
