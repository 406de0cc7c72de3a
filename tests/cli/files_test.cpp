// The files varnok-cli writes (save, read --out, commission's report) and its standard output:
// what it may write to, what it continues, and what becomes of a write that fails.
#include <gtest/gtest.h>

#include <pwd.h>
#include <regex>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "cli_on_sim.h"

namespace varnok::test {
namespace {

const std::string kCsvHeader = "time,address,value1,percent1,value2,percent2,value3,percent3,frequency\n";
const std::string kReportHeader = "time,row,name,version,result,error,address,speed\n";

class CliFiles : public CliOnSim {
protected:
    // Exchanges the simulator answered so far: none more means nothing was sent.
    std::string answered() { return sim.dump().at("answered"); }
    // "владелец NAME (uid N), права MODE" of this user, as the refusals say it.
    static std::string mine(const char* mode)
    {
        const passwd* pw = ::getpwuid(::geteuid());
        return "владелец " + std::string(pw ? pw->pw_name : "?") + " (uid " + std::to_string(::geteuid()) +
               "), права " + mode;
    }
    static unsigned mode_of(const fs::path& p)
    {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 07777;
    }
    fs::path sheet()
    {
        std::ofstream(dir / "sheet.csv") << "max1,unit1\n120.5,В\n";
        return dir / "sheet.csv";
    }
};

// A device, a FIFO that nobody reads and a folder in a file's place: each writer refuses them
// at once, by name and kind, before anything is sent, and leaves them as they were. Standard
// output, a pipe here, is written to.
TEST_F(CliFiles, WritersRefuseWhatIsNotARegularFile)
{
    const fs::path device = dir / "device", fifo = dir / "fifo", folder = dir / "folder";
    // A device of one's own needs root; without it /dev/null is one that a tool at fault could
    // not replace either (only root may rename in /dev).
    const bool root = ::geteuid() == 0;
    const fs::path chr = root ? device : "/dev/null";
    ASSERT_TRUE(!root || ::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directory(folder);
    const std::string was = answered();
    // A writer that waits on the FIFO ends by the time limit, not the test.
    prefix = {"/usr/bin/timeout", "60"};
    const std::vector<std::pair<fs::path, std::string>> targets = {
        {chr, "символьное устройство"}, {fifo, "именованный канал (FIFO)"}, {folder, "папка"}};
    for (const auto& [target, kind] : targets) {
        const std::string t = target.string(), refused = ": это " + kind + ", а не обычный файл\n";
        EXPECT_EQ(run({"save", t}), 2) << t;
        EXPECT_EQ(err, "varnok-cli: файл " + t + " не записан" + refused);
        EXPECT_EQ(run({"read", "--out", t}), 2) << t;
        EXPECT_EQ(err, "varnok-cli: файл " + t + " не дописывается" + refused);
        EXPECT_EQ(run({"commission", sheet().string(), "--report", t, "--yes"}), 2) << t;
        EXPECT_EQ(err, "varnok-cli: отчёт " + t + " не ведётся" + refused);
    }
    EXPECT_EQ(run({"read", "--out", "/dev/full"}), 2);
    EXPECT_EQ(err, "varnok-cli: файл /dev/full не дописывается: это символьное устройство, а не обычный файл\n");
    EXPECT_TRUE(fs::is_character_file(chr));
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(answered(), was);

    prefix = {"/bin/bash", "-c", "set -o pipefail; \"$@\" | cat", "sh"};
    ASSERT_EQ(run({"read", "--out", "/dev/stdout", "--csv", "standard"}), 0) << err;
    EXPECT_EQ(out.rfind(kCsvHeader, 0), 0u) << out;
    EXPECT_EQ(count_lines(out), 2) << out;
}

// Standard output that takes nothing and a file that may grow no more: told once, with the
// reason, and the command fails; a read ends after the reading in hand, its file whole lines.
TEST_F(CliFiles, AWriteThatFailsIsToldOnceAndFailsTheCommand)
{
    const std::string lost = "стандартный вывод не записан: No space left on device\n";
    prefix = {"/usr/bin/timeout", "60", "/bin/sh", "-c", "exec \"$@\" >/dev/full", "sh"};
    EXPECT_EQ(run({"-p", "COM1", "-a", "5", "info"}), 1);
    EXPECT_EQ(err, lost);
    for (const std::vector<std::string>& read : {std::vector<std::string>{"read"}, {"--json", "read"}}) {
        std::vector<std::string> args = {"-p", "COM1", "-a", "5"};
        args.insert(args.end(), read.begin(), read.end());
        args.insert(args.end(), {"--count", "0", "--every", "0.1"});
        EXPECT_EQ(run(args), 1);
        EXPECT_EQ(err, lost);
    }

    // No file of the tool may grow past 100 bytes: the header goes in, a row does not. Its
    // messages go through a pipe, which no such limit touches.
    const fs::path csv = dir / "shift.csv";
    prefix = {"/usr/bin/timeout",
              "60",
              "/bin/sh",
              "-c",
              "trap '' XFSZ; { prlimit --fsize=100 \"$@\" 2>&1; echo \"exit $?\"; } | cat >&2",
              "sh"};
    run({"-p", "COM1", "-a", "5", "read", "--out", csv.string(), "--csv", "standard", "--count", "0", "--every",
         "0.1"});
    EXPECT_EQ(err, "файл " + csv.string() + " не записан: File too large\nexit 1\n");
    EXPECT_EQ(slurp(csv), kCsvHeader);
}

// Only a report with the report's own header goes on; a file of anything else, and the sheet
// itself, are refused before anything is sent, and left as they were.
TEST_F(CliFiles, ACommissionGoesOnOnlyWithItsOwnReport)
{
    const fs::path report = dir / "report.csv", link = dir / "link.csv";
    const std::string was = answered();
    std::ofstream(report) << "foo,bar\n1,2\n";
    EXPECT_EQ(run({"commission", sheet().string(), "--report", report.string(), "--yes"}), 2);
    EXPECT_EQ(err, "varnok-cli: отчёт " + report.string() + " не ведётся: первая строка не заголовок отчёта \"" +
                       kReportHeader.substr(0, kReportHeader.size() - 1) + "\"; укажите другой --report\n");
    EXPECT_EQ(slurp(report), "foo,bar\n1,2\n");
    fs::create_symlink(sheet(), link);
    for (const fs::path& same : {sheet(), link}) {
        EXPECT_EQ(run({"commission", sheet().string(), "--report", same.string(), "--yes"}), 2);
        EXPECT_EQ(err,
                  "varnok-cli: отчёт " + same.string() + " не ведётся: это сама таблица; укажите другой --report\n");
    }
    EXPECT_EQ(slurp(dir / "sheet.csv"), "max1,unit1\n120.5,В\n");
    EXPECT_EQ(answered(), was);
    // A report saved again by a spreadsheet, with CRLF, goes on; a line a killed run cut short
    // is ended first.
    const std::string kept = "time,row,name,version,result,error,address,speed\r\n2026-12-01T10:00:00+00:00,2,ПМ";
    std::ofstream(report, std::ios::binary) << kept;
    EXPECT_EQ(run({"--json", "commission", sheet().string(), "--report", report.string(), "--yes"}), 0) << err;
    EXPECT_EQ(out, "{\"done\":1,\"failed\":0,\"skipped\":0}\n");
    const std::string text = slurp(report);
    EXPECT_EQ(text.rfind(kept + "\n", 0), 0u) << text;
    EXPECT_NE(text.find(",2,Варнок ПМ3,V2.07 2026,готово,,5,9600\n"), std::string::npos) << text;
    EXPECT_EQ(count_lines(text), 3) << text;
}

// A file anyone may write to, or another user's, may hold what someone planted: neither is
// continued nor replaced. New files are the user's, 0644 less the umask; a replaced one keeps
// its mode.
TEST_F(CliFiles, FilesOthersMayHaveWrittenAreRefused)
{
    const fs::path open = dir / "open.csv";
    std::ofstream(open) << kCsvHeader;
    fs::permissions(open, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    const std::string open_refused = " не ведётся: в файл могут писать все: " + mine("0666") + "\n";
    EXPECT_EQ(run({"save", open.string()}), 2);
    EXPECT_EQ(err,
              "varnok-cli: файл " + open.string() + " не записан: в файл могут писать все: " + mine("0666") + "\n");
    EXPECT_EQ(run({"read", "--out", open.string()}), 2);
    EXPECT_EQ(run({"commission", sheet().string(), "--report", open.string(), "--yes"}), 2);
    EXPECT_EQ(err, "varnok-cli: отчёт " + open.string() + open_refused);
    EXPECT_EQ(slurp(open), kCsvHeader);

    const mode_t umask_was = ::umask(022);
    ::umask(umask_was);
    const fs::path conf = dir / "new.conf", kept = dir / "kept.conf", csv = dir / "new.csv";
    std::ofstream(kept) << "old\n";
    fs::permissions(kept, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(run({"save", conf.string()}), 0) << err;
    ASSERT_EQ(run({"save", kept.string()}), 0) << err;
    ASSERT_EQ(run({"read", "--out", csv.string()}), 0) << err;
    EXPECT_EQ(mode_of(conf), 0644u & ~unsigned(umask_was));
    EXPECT_EQ(mode_of(csv), 0644u & ~unsigned(umask_was));
    EXPECT_EQ(mode_of(kept), 0600u);

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root gives a file to another user";
    // A report another user planted with the sheet's row done: root's run configures the device
    // all the same, after refusing the report.
    const std::string was = answered();
    const fs::path planted = dir / "sheet-отчёт.csv";
    std::ofstream(planted) << kReportHeader << "2026-12-01T10:00:00+00:00,2,ПМ3,V2,готово,,5,9600\n";
    for (const fs::path& p : {planted, kept})
        ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
    const std::string theirs = "файл принадлежит другому пользователю: владелец nobody (uid 65534), права ";
    EXPECT_EQ(run({"commission", sheet().string(), "--yes"}), 2);
    EXPECT_EQ(err, "varnok-cli: отчёт " + planted.string() + " не ведётся: " + theirs + "0644\n");
    EXPECT_EQ(run({"save", kept.string()}), 2);
    EXPECT_EQ(err, "varnok-cli: файл " + kept.string() + " не записан: " + theirs + "0600\n");
    EXPECT_EQ(answered(), was);
    struct stat st {};
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
}

// Each line of the report is on the disk before the next device is awaited.
TEST_F(CliFiles, EachReportLineIsSyncedToTheDisk)
{
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no strace here";
    const fs::path report = dir / "report.csv", log = dir / "strace.log";
    std::ofstream(dir / "two.csv") << "max1,unit1\n120.5,В\n110,В\n";
    // LeakSanitizer cannot work under ptrace: the sanitizer build leaves its leak check out of this run.
    const char* asan = std::getenv("ASAN_OPTIONS");
    prefix = {"/usr/bin/env",
              "ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : std::string()) + "detect_leaks=0",
              "/usr/bin/strace",
              "-f",
              "-y",
              "-qq",
              "-e",
              "trace=write,fsync,fdatasync",
              "-o",
              log.string()};
    ASSERT_EQ(run({"commission", (dir / "two.csv").string(), "--report", report.string(), "--yes"}), 0) << err;
    std::string steps;
    std::istringstream in(slurp(log));
    const std::regex to_report("(write|f(?:data)?sync)\\(\\d+<" + report.string() + ">");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, to_report))
            steps += m[1].str() == "write" ? "w" : "s";
    }
    EXPECT_EQ(steps, "wswsws") << slurp(log);  // the header, then each row
}

}  // namespace
}  // namespace varnok::test
