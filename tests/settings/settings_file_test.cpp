#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/settings_file.h"
#include "support/fakes.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

const std::string kFirstStart =
    "[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=1\n\n"
    "[таймауты]\n RIT=30\n RTTM=5\n RTTC=225\n WTTM=0\n WTTC=0\n";

// The console's state as its main window sets it, and the start-up sequence it runs.
struct Console {
    test::RecordingNotices notices;
    test::RecordingSleeper sleeper;
    PortMap ports;
    Link link{notices, sleeper, ports};
    SettingsFile file;

    explicit Console(const std::string& path) : file(link, path) {}
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
        const LinkSettings& l = link.settings();
        char text[160];
        std::snprintf(text, sizeof text, "%s/%d #%d %d/%d p%d s%d t%d=%d %d,%d,%d,%d,%d", l.name_comport.c_str(),
                      l.num_name_comport, l.sys_num, l.scor_obmena, l.num_scor, l.parity, l.stopbit,
                      file.poll_period_index(), file.poll_period(), l.timeouts.R_IntervalTimeout,
                      l.timeouts.R_TotalTimeoutMultiplier, l.timeouts.R_TotalTimeoutConstant,
                      l.timeouts.W_TotalTimeoutMultiplier, l.timeouts.W_TotalTimeoutConstant);
        return text;
    }
    // Values none of the defaults share, to see which ones a read replaced.
    void set_unusual()
    {
        link.set_port(5), link.set_sys_num(9), link.set_speed(19200);
        link.set_parity(1), link.set_stopbit(2), file.set_poll_period(4);
        link.set_timeouts({3, 20, 16, 0, 0});
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
    c.link.set_timeouts({3, 5, 225, 0, 7});  // a speed row in force
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
    a.link.set_port(12), a.link.set_sys_num(247), a.link.set_speed(57600);
    a.link.set_parity(2), a.link.set_stopbit(2), a.file.set_poll_period(6);
    a.link.set_stored_timeouts({1, 2, 3, 4, 65535});
    ASSERT_FALSE(a.start());
    const std::string written = text_of(path);

    Console b(path);
    ASSERT_TRUE(b.start());
    EXPECT_EQ(b.summary(), "COM12/12 #247 57600/5 p2 s2 t6=120 1,2,3,4,65535");
    EXPECT_EQ(b.link.settings().n_timeouts.R_IntervalTimeout, 30);  // reading leaves the stored copy alone

    // The reloaded keys lost their leading blank; writing must not add " RIT" beside "RIT".
    b.link.set_line(a.link.settings());
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
        // Only the six line speeds are taken; the link would time its exchanges by any other.
        {"[связь]\nСКОРОСТЬ=0\n", kFileDefaults},
        {"[связь]\nСКОРОСТЬ=1\n", kFileDefaults},
        {"[связь]\nСКОРОСТЬ=2147483647\n", kFileDefaults},
        {"[связь]\n СКОРОСТЬ = 14400 \nПОРТ=16\nПЕРИОД ОПРОСА=7\n", "COM16/16 #1 9600/2 p0 s1 t7=300 30,5,225,0,0"},
        {"[связь]\nСКОРОСТЬ=4800\n", "COM1/1 #1 4800/1 p0 s1 t2=5 30,5,225,0,0"},
        {"[связь]\nСКОРОСТЬ=115200\n", "COM1/1 #1 115200/6 p0 s1 t2=5 30,5,225,0,0"},
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
    c.link.set_port(4);
    c.link.set_sys_num(9);
    c.link.set_timeouts({3, 5, 225, 0, 0});
    c.link.set_stored_timeouts({40, 5, 225, 0, 0});
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(c.link.settings().timeouts.R_IntervalTimeout, 3);

    const std::string text = text_of(path);
    for (const char* kept : {"; bench 4\n", "ЗАМЕТКА=стенд 4\n", " RIT=77\n", "COM2=/dev/ttyUSB1\n",
                             "; spare adapter:\n# COM4=/dev/ttyUSB2\n", "ПОРТ=4\n", "НОМЕР=9\n"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept << " missing from\n" << text;

    Console after(path);
    ASSERT_TRUE(after.start());
    EXPECT_EQ(after.link.settings().timeouts.R_IntervalTimeout, 77);
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
        c.link.set_fast_exchange(!on);
        ASSERT_TRUE(c.start());
        EXPECT_EQ(c.link.settings().fast_exchange, on) << section;
        EXPECT_EQ(c.link.settings().fast_probe_wait, wait) << section;
    }

    // A first start writes only the standard sections, whatever the switch says; closing
    // adds the section once the switch is on, and keeps it when it goes off again.
    fs::remove(path);
    Console c(path);
    c.link.set_fast_exchange(true);
    ASSERT_FALSE(c.start());
    EXPECT_EQ(text_of(path), kFirstStart);
    c.link.set_fast_exchange(false);
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), kFirstStart);
    c.link.set_fast_exchange(true);
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), kFirstStart + "\n[быстрый обмен]\nВКЛЮЧЕН=1\n");
    c.link.set_fast_exchange(false);
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), kFirstStart + "\n[быстрый обмен]\nВКЛЮЧЕН=0\n");
}

TEST_F(SettingsFileTest, TheFrameLogSectionReadsItsDaysToKeepAndWritesOnlyItsSwitch)
{
    const std::tuple<const char*, bool, int> reads[] = {
        {"", false, 30},
        {"[журнал]\nВ ФАЙЛ=1\nХРАНИТЬ ДНЕЙ=0\n", true, 0},
        {"[журнал]\nХРАНИТЬ ДНЕЙ=3650\n", false, 3650},
        {"[журнал]\nХРАНИТЬ ДНЕЙ=3651\n", false, 30},
        {"[журнал]\nВ ФАЙЛ=2\nХРАНИТЬ ДНЕЙ=-1\n", false, 30},
        {"[журнал]\nХРАНИТЬ ДНЕЙ=7 дней\n", false, 30},
    };
    for (const auto& [section, on, days] : reads) {
        put(path, std::string("[связь]\n") + section);
        Console c(path);
        ASSERT_TRUE(c.start());
        EXPECT_EQ(c.file.frame_log(), on) << section;
        EXPECT_EQ(c.file.frame_log_days(), days) << section;
    }
    ASSERT_TRUE(Console(path).file.set_frame_log(true));
    EXPECT_EQ(text_of(path), "[связь]\n\n[журнал]\nХРАНИТЬ ДНЕЙ=7 дней\nВ ФАЙЛ=1\n");
}

TEST_F(SettingsFileTest, FileThatCannotBeReadOrCreatedIsReportedAndLeftAlone)
{
    const std::string cases[] = {
        "[связь]\nНОМЕР=\xff\xfe\n",
        std::string("[связь]\nНОМЕР=7\0\n", 19),
        "[связь]\nНОМЕР 7\n",
        "[связь]\n[порты=1\n",
        "[связь]\n\xEF\xBB\xBFНОМЕР=7\n",  // a byte-order mark inside: the name would lose it on writing
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
    d.link.set_sys_num(7);
    for (bool always : {false, true, false})
        ASSERT_TRUE(d.file.ToIni(always)) << d.file.problem();
    EXPECT_TRUE(fs::is_symlink(dir + "/link.ini"));
    EXPECT_NE(text_of(path).find("НОМЕР=7\n"), std::string::npos);
    EXPECT_EQ(fs::status(path).permissions(), mode);
    EXPECT_EQ(entries(), (std::set<std::string>{"a", "link.ini", "varnok.ini"}));

    // A link to a file not there yet: the file is made where the link points, counted from
    // the link's folder, and the link stays.
    fs::create_directories(dir + "/links");
    fs::create_symlink("../a/made.ini", dir + "/links/dangling.ini");
    Console e(dir + "/links/dangling.ini");
    EXPECT_FALSE(e.start());
    EXPECT_EQ(e.file.problem(), "");
    EXPECT_TRUE(fs::is_symlink(dir + "/links/dangling.ini"));
    EXPECT_EQ(text_of(dir + "/a/made.ini"), kFirstStart);
    ASSERT_TRUE(e.file.ToIni(false)) << e.file.problem();
    EXPECT_TRUE(fs::is_symlink(dir + "/links/dangling.ini"));
}

// A link is followed where the kernel's protected_symlinks would follow it: not one in a
// sticky world-writable folder that belongs to neither the writer nor the folder's owner.
TEST_F(SettingsFileTest, ALinkAnotherUserPlantedInASharedFolderIsNotFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "planting another user's link needs root";
    const std::string secret = dir + "/private/secret", shared = dir + "/shared";
    fs::create_directory(dir + "/private");
    fs::permissions(dir + "/private", fs::perms::owner_all);
    put(secret, "secret\n");
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const auto plant = [](const std::string& target, const std::string& link, uid_t owner) {
        fs::create_symlink(target, link);
        return ::lchown(link.c_str(), owner, owner) == 0;
    };
    ASSERT_TRUE(plant("../private/secret", shared + "/out", 65534));
    ASSERT_TRUE(plant("../private", shared + "/folder", 65534));
    ASSERT_TRUE(plant("shared/out", dir + "/via", 0));
    file_io::Stamp stamp;
    // The file itself, a folder on the way, and a link met inside another link's target.
    const std::pair<std::string, std::string> refused[] = {{shared + "/out", shared + "/out"},
                                                           {shared + "/folder/secret", shared + "/folder"},
                                                           {dir + "/via", shared + "/out"}};
    for (const auto& [path, link] : refused) {
        std::string reason;
        EXPECT_FALSE(file_io::replace(path, "new\n", stamp, reason)) << path;
        EXPECT_EQ(reason, "ссылка " + link + " в общей папке чужая (не ваша и не владельца папки), по ней не пишем");
        reason.clear();
        std::FILE* f = file_io::open_for_writing(path, true, reason);
        EXPECT_EQ(f, nullptr) << path;
        if (f)
            std::fclose(f);
        EXPECT_NE(reason.find("ссылка " + link + " в общей папке чужая"), std::string::npos) << reason;
    }
    EXPECT_EQ(text_of(secret), "secret\n");

    // Followed as before: the writer's own link, one in an ordinary folder, and any link of
    // the folder's owner.
    ASSERT_TRUE(plant("../private/secret", shared + "/mine", 0));
    ASSERT_TRUE(plant("private/secret", dir + "/theirs", 65534));
    for (const std::string& path : {shared + "/mine", dir + "/theirs"}) {
        std::string reason;
        EXPECT_TRUE(file_io::replace(path, path + "\n", stamp, reason)) << reason;
        EXPECT_EQ(text_of(secret), path + "\n");
        EXPECT_TRUE(fs::is_symlink(path));
    }
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    std::string reason;
    std::FILE* f = file_io::open_for_writing(shared + "/out", true, reason);
    ASSERT_NE(f, nullptr) << reason;
    std::fputs("more\n", f);
    std::fclose(f);
    EXPECT_EQ(text_of(secret), dir + "/theirs\nmore\n");

    // The kernel's own links (/dev/stdout and the like) lead to what is open, a pipe too.
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    f = file_io::open_for_writing("/proc/self/fd/" + std::to_string(pipe_ends[1]), false, reason);
    ASSERT_NE(f, nullptr) << reason;
    std::fputs("piped", f);
    std::fclose(f);
    ::close(pipe_ends[1]);
    char got[8] = {};
    EXPECT_EQ(::read(pipe_ends[0], got, sizeof got), 5);
    EXPECT_STREQ(got, "piped");
    ::close(pipe_ends[0]);
}

TEST_F(SettingsFileTest, EditsMadeWhileRunningSurviveTheClosingWrite)
{
    Console c(path);
    ASSERT_FALSE(c.start());
    std::ofstream(path, std::ios::app) << "\n[порты]\nCOM1=/dev/ttyUSB0\n";
    c.link.set_sys_num(7);
    ASSERT_TRUE(c.file.ToIni(false));
    EXPECT_NE(text_of(path).find("[порты]\nCOM1=/dev/ttyUSB0\n"), std::string::npos);
    EXPECT_NE(text_of(path).find("НОМЕР=7\n"), std::string::npos);

    put(path, "half-typed line\n");
    EXPECT_FALSE(c.file.ToIni(false));
    EXPECT_EQ(text_of(path), "half-typed line\n");
}

TEST_F(SettingsFileTest, GarbageAHugeFileAndRepeatedKeys)
{
    std::string garbage(4096, '\0');
    std::mt19937 bytes(12);
    for (char& b : garbage)
        b = char(bytes());
    std::string huge = std::string(2 << 20, ';') + "\n[связь]\nНОМЕР=7\n";
    for (const std::string* refused : {&garbage, &huge}) {
        put(path, *refused);
        Console c(path);
        c.set_unusual();
        EXPECT_FALSE(c.start());
        EXPECT_FALSE(c.file.usable());
        EXPECT_EQ(c.summary(), kUnusual);
        EXPECT_FALSE(c.file.ToIni(true));
        EXPECT_EQ(text_of(path), *refused) << "a file that was not read is never written over";
    }
    // A sparse gigabyte is refused by its size, without reading it.
    fs::resize_file(path, 1ull << 30);
    Console big(path);
    EXPECT_FALSE(big.start());
    EXPECT_NE(big.file.problem().find("файл длиннее 1048576 байт"), std::string::npos) << big.file.problem();
    EXPECT_EQ(fs::file_size(path), 1ull << 30);

    // A key given twice reads as its last value, and is written back once.
    put(path, "[связь]\nНОМЕР=7\nПОРТ=2\nНОМЕР=9\n[порты]\nCOM1=/dev/ttyUSB0\n[связь]\nСТОПБИТ=2\nНОМЕР=11\n");
    Console rep(path);
    ASSERT_TRUE(rep.start());
    EXPECT_EQ(rep.summary(), "COM2/2 #11 9600/2 p0 s2 t2=5 30,5,225,0,0");
    ASSERT_TRUE(rep.file.ToIni(false));
    const std::string written = text_of(path);
    EXPECT_EQ(written.find("НОМЕР="), written.rfind("НОМЕР=")) << written;
    EXPECT_NE(written.find("НОМЕР=11\n"), std::string::npos) << written;
    EXPECT_NE(written.find("COM1=/dev/ttyUSB0\n"), std::string::npos) << written;
    Console again(path);
    ASSERT_TRUE(again.start());
    EXPECT_EQ(again.summary(), rep.summary());
}

// Runs `body` in a child process, as an ordinary user where the tests run as root (root
// reads and writes whatever the permissions say); its result is what it returns: empty when
// all went as it should, else what went wrong. 77 from the child: the body could not run.
static std::string in_child(const std::function<std::string()>& body, bool unprivileged)
{
    int out[2];
    if (::pipe(out) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        std::string failed;
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            failed = "could not become an ordinary user";
        else
            failed = body();
        (void)!::write(out[1], failed.data(), failed.size());
        ::_exit(failed == "skip" ? 77 : 0);
    }
    ::close(out[1]);
    std::string result;
    char chunk[256];
    for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
        result.append(chunk, size_t(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status))
        return "the child died";
    return result;
}

TEST_F(SettingsFileTest, AFileOrFolderTheUserMayNotUseIsToldAndLeftAlone)
{
    put(path, kFirstStart);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    fs::permissions(path, fs::perms::none);
    EXPECT_EQ(in_child(
                  [&] {
                      Console c(path);
                      c.set_unusual();
                      if (c.start() || c.file.usable() || c.summary() != kUnusual)
                          return "an unreadable file was read: " + c.file.problem();
                      if (c.file.problem().find("не прочитан: Permission denied") == std::string::npos)
                          return "told as: " + c.file.problem();
                      return c.file.ToIni(false) ? std::string("an unreadable file was written") : std::string();
                  },
                  true),
              "");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    EXPECT_EQ(text_of(path), kFirstStart);

    // A folder that may not be written: the file is read, and the closing write fails, told.
    fs::permissions(dir,
                    fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
    EXPECT_EQ(in_child(
                  [&] {
                      Console c(path);
                      if (!c.start())
                          return "not read: " + c.file.problem();
                      c.link.set_sys_num(9);
                      if (c.file.ToIni(false))
                          return std::string("written into a read-only folder");
                      if (c.file.problem().find("не записан: Permission denied") == std::string::npos)
                          return "told as: " + c.file.problem();
                      return std::string();
                  },
                  true),
              "");
    EXPECT_EQ(text_of(path), kFirstStart);
    EXPECT_EQ(entries(), std::set<std::string>{"varnok.ini"});
}

TEST_F(SettingsFileTest, AWriteErrorKeepsTheFileAsItWas)
{
    put(path, kFirstStart);
    // The file may not grow past 64 bytes: writing its new content fails half-way.
    EXPECT_EQ(in_child(
                  [&] {
                      std::signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit{64, 64};
                      ::setrlimit(RLIMIT_FSIZE, &limit);
                      Console c(path);
                      if (!c.start())
                          return "not read: " + c.file.problem();
                      c.link.set_sys_num(9);
                      if (c.file.ToIni(false))
                          return std::string("written past the limit");
                      if (c.file.problem().find("не записан: File too large") == std::string::npos)
                          return "told as: " + c.file.problem();
                      return std::string();
                  },
                  false),
              "");
    EXPECT_EQ(text_of(path), kFirstStart);
    EXPECT_EQ(entries(), std::set<std::string>{"varnok.ini"}) << "no temporary file is left";
}

TEST_F(SettingsFileTest, AFullDiskKeepsTheFileAsItWas)
{
    // A small file system of the test's own, where the system lets it mount one.
    const std::string result = in_child(
        [&] {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("varnok-test", dir.c_str(), "tmpfs", 0, "size=64k") != 0)
                return std::string("skip");
            put(path, kFirstStart);
            Console c(path);
            if (!c.start())
                return "not read: " + c.file.problem();
            {
                std::ofstream fill(dir + "/fill", std::ios::binary);
                const std::string block(4096, 'x');
                while (fill.write(block.data(), long(block.size())) && fill.flush()) {
                }
            }
            c.link.set_sys_num(9);
            if (c.file.ToIni(false))
                return std::string("written onto a full disk");
            if (c.file.problem().find("не записан: No space left on device") == std::string::npos)
                return "told as: " + c.file.problem();
            if (text_of(path) != kFirstStart)
                return "the file changed: " + text_of(path);
            if (entries() != std::set<std::string>{"fill", "varnok.ini"})
                return std::string("a temporary file is left");
            return std::string();
        },
        false);
    if (result == "skip")
        GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(result, "");
}

// Each write puts a set of values whose parts belong together, so that a file read after
// the writer was killed shows whether it is one whole write.
static void put_set(Console& c, int i)
{
    static const int32_t speeds[] = {4800, 9600, 19200, 38400, 57600, 115200};
    const uint8_t n = uint8_t(1 + i % 247);
    c.link.set_sys_num(n);
    c.link.set_port(uint8_t(1 + n % 16));
    c.link.set_speed(speeds[n % 6]);
    c.file.set_poll_period(n % 8);
}

TEST_F(SettingsFileTest, AWriterKilledAnywhereLeavesAFileThatReadsBackWhole)
{
    {
        Console first(path);
        put_set(first, 0);
        ASSERT_FALSE(first.start());
    }
    std::mt19937 when(7);
    int changed = 0;
    std::string last = text_of(path);
    for (int round = 0; round < 150; ++round) {
        // The writer says each write it completed, so that two rounds in three kill it after at
        // least one, however slowly a busy machine runs it; the kill then falls anywhere.
        int done[2];
        ASSERT_EQ(::pipe(done), 0);
        const pid_t writer = ::fork();
        if (writer == 0) {
            ::close(done[0]);
            Console c(path);
            c.start();
            for (int i = round * 1000;; ++i) {
                put_set(c, i);
                c.file.ToIni(false);
                [[maybe_unused]] const ssize_t told = ::write(done[1], "w", 1);
            }
        }
        ::close(done[1]);
        char byte = 0;
        for (int w = 0; w < round % 3; ++w)
            ASSERT_EQ(::read(done[0], &byte, 1), 1);
        ::usleep(std::uniform_int_distribution<unsigned>(0, 4000)(when));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        ::close(done[0]);

        Console r(path);
        ASSERT_TRUE(r.start()) << "round " << round << ": " << r.file.problem();
        Console want(path + ".unused");
        put_set(want, r.link.settings().sys_num - 1);
        EXPECT_EQ(r.link.settings().num_name_comport, want.link.settings().num_name_comport)
            << "round " << round << ": " << r.summary();
        EXPECT_EQ(r.link.settings().scor_obmena, want.link.settings().scor_obmena)
            << "round " << round << ": " << r.summary();
        EXPECT_EQ(r.file.poll_period_index(), want.file.poll_period_index()) << "round " << round << ": " << r.summary();
        changed += text_of(path) != last;
        last = text_of(path);
    }
    EXPECT_GT(changed, 10) << "the writers were killed before they wrote anything";

    // The next write clears away what the killed writers left.
    Console after(path);
    ASSERT_TRUE(after.start());
    ASSERT_TRUE(after.file.ToIni(false));
    EXPECT_EQ(entries(), std::set<std::string>{"varnok.ini"});
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
