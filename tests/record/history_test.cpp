// The history store against a real SQLite file: its chain, concurrent and killed writers,
// tampering with the sqlite3 shell, files it must refuse, and the keeper's outage handling.
#include "record/history.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "record/sha256.h"

namespace fs = std::filesystem;
using namespace varnok::record;

namespace {

std::string run(const std::string& command)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ::pclose(p);
    return out;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

HistoryRecord write_record(const std::string& factory, int net, const std::string& what, const std::string& time = "")
{
    HistoryRecord r;
    r.time = time;
    r.unit = {"Varnok", "2.1", factory, net, "COM1 9600 8N1"};
    r.kind = kKindWrite;
    r.what = what;
    r.old_value = "0";
    r.new_value = "1";
    return r;
}

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "varnok-history-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        db = dir + "/store/history.sqlite";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::unique_ptr<History> open_ok(const std::string& path)
    {
        std::string error;
        auto h = History::open(path, error);
        EXPECT_TRUE(h) << error;
        return h;
    }
    // Appends `n` records through a connection of its own, in a child process; its exit code
    // is the number of appends that failed.
    pid_t writer(int n, const std::string& tag)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::string error;
            auto h = History::open(db, error);
            int failed = h ? 0 : n;
            for (int i = 0; h && i < n; ++i) {
                HistoryRecord r = write_record(tag, 1, "канал 1: ноль " + std::to_string(i));
                failed += h->append(r, error) ? 0 : 1;
            }
            ::_exit(failed > 100 ? 100 : failed);
        }
        return pid;
    }

    std::string dir, db;
};

}  // namespace

TEST(Sha256, MatchesKnownDigestsAndSha256sumAtBlockEdges)
{
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    for (size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 1000u}) {
        std::string data;
        for (size_t i = 0; i < len; ++i)
            data += char('a' + i % 26);
        const std::string expected = run("printf '%s' '" + data + "' | sha256sum").substr(0, 64);
        EXPECT_EQ(sha256_hex(data), expected) << len;
    }
}

TEST_F(HistoryTest, AppendsAndListsNewestFirstByUnitAndDate)
{
    auto h = open_ok(db);
    ASSERT_TRUE(h);
    struct stat st;
    ASSERT_EQ(::stat(db.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir + "/store").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);

    std::string error;
    HistoryRecord a = write_record("A-1", 5, "канал 1: ноль", "2026-01-10 10:00:00");
    HistoryRecord b = write_record("B-2", 7, "канал 2: шкала", "2026-02-01 09:00:00");
    HistoryRecord c = write_record("A-1", 5, "яркость", "2026-03-01 08:00:00");
    HistoryRecord check = write_record("A-1", 5, "", "2026-03-02 08:00:00");
    check.kind = kKindCheck;
    check.protocol_number = "A-1-20260302";
    check.document = R"({"points":[1,2,3]})";
    for (HistoryRecord* r : {&a, &b, &c, &check})
        ASSERT_TRUE(h->append(*r, error)) << error;
    EXPECT_EQ(a.id, 1);
    EXPECT_EQ(check.id, 4);
    EXPECT_EQ(a.prev_hash, "");
    EXPECT_EQ(b.prev_hash, a.hash);
    EXPECT_FALSE(a.user.empty());

    std::vector<HistoryRecord> out;
    ASSERT_TRUE(h->list({"A-1", std::nullopt, ""}, out, error));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].id, 4);
    EXPECT_EQ(out[2].what, "канал 1: ноль");
    ASSERT_TRUE(h->list({"", 7, ""}, out, error));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].what, "канал 2: шкала");
    ASSERT_TRUE(h->list({"A-1", std::nullopt, "2026-02-15"}, out, error));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].what, "яркость");

    // A correction is a new record that refers to the old one; a missing one is refused.
    HistoryRecord fix = check;
    fix.kind = kKindCorrection;
    fix.refers_to = check.id;
    fix.document = R"({"points":[1,2,4]})";
    ASSERT_TRUE(h->append(fix, error)) << error;
    HistoryRecord stray = write_record("A-1", 5, "x");
    stray.refers_to = 99;
    EXPECT_FALSE(h->append(stray, error));
    auto found = h->find_protocol("A-1-20260302", error);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->document, R"({"points":[1,2,4]})");
    EXPECT_FALSE(h->find_protocol("nope", error));
    EXPECT_EQ(h->verify(), "");

    // The store's own triggers refuse changes made through SQLite.
    const std::string shell = run("sqlite3 '" + db + "' \"UPDATE records SET what='x' WHERE id=1\" 2>&1");
    EXPECT_NE(shell.find("never changed"), std::string::npos) << shell;
    EXPECT_EQ(h->verify(), "");
}

TEST_F(HistoryTest, TwoWritersAtOnceLoseNothing)
{
    // Neither finds the store: both create it at once.
    const pid_t one = writer(60, "W-1"), two = writer(60, "W-2");
    for (pid_t p : {one, two}) {
        int status = 0;
        ASSERT_EQ(::waitpid(p, &status, 0), p);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    auto h = open_ok(db);
    std::vector<HistoryRecord> out;
    std::string error;
    ASSERT_TRUE(h->list({}, out, error));
    EXPECT_EQ(out.size(), 120u);
    ASSERT_TRUE(h->list({"W-2", std::nullopt, ""}, out, error));
    EXPECT_EQ(out.size(), 60u);
    EXPECT_EQ(h->verify(), "");
}

TEST_F(HistoryTest, KilledWriterLeavesEveryCommittedRecord)
{
    ASSERT_TRUE(open_ok(db));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string error;
        auto h = History::open(db, error);
        for (int i = 0; h; ++i) {
            HistoryRecord r = write_record("K-1", 1, "шаг " + std::to_string(i));
            r.document = std::string(20000, 'x');  // pages of their own, so the kill may land mid-write
            if (!h->append(r, error))
                ::_exit(1);
            const int64_t id = r.id;
            if (::write(fds[1], &id, sizeof id) != sizeof id)
                ::_exit(2);
        }
        ::_exit(3);
    }
    ::close(fds[1]);
    int64_t committed = 0, id = 0;
    while (committed < 40 && ::read(fds[0], &id, sizeof id) == sizeof id)
        committed = id;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(fds[0]);
    ASSERT_GE(committed, 40);

    auto h = open_ok(db);
    std::vector<HistoryRecord> out;
    std::string error;
    ASSERT_TRUE(h->list({}, out, error)) << error;
    ASSERT_GE(int64_t(out.size()), committed);
    EXPECT_EQ(out.back().what, "шаг 0");
    EXPECT_EQ(h->verify(), "");
    HistoryRecord after = write_record("K-1", 1, "после");
    EXPECT_TRUE(h->append(after, error)) << error;
    EXPECT_EQ(h->verify(), "");
}

TEST_F(HistoryTest, VerifyFindsRecordsChangedOrRemovedWithTheShell)
{
    for (const char* sql : {"DROP TRIGGER records_keep_update; UPDATE records SET new_value='5' WHERE id=2;",
                            "DROP TRIGGER records_keep_delete; DELETE FROM records WHERE id=2;",
                            "DROP TRIGGER records_keep_delete; DELETE FROM records WHERE id=3;"}) {
        fs::remove_all(dir + "/store");
        {
            auto h = open_ok(db);
            std::string error;
            for (int i = 0; i < 3; ++i) {
                HistoryRecord r = write_record("T-1", 1, "уставка " + std::to_string(i + 1));
                ASSERT_TRUE(h->append(r, error)) << error;
            }
            EXPECT_EQ(h->verify(), "");
        }
        const std::string shell = run("sqlite3 '" + db + "' \"" + sql + "\" 2>&1");
        EXPECT_EQ(shell, "");
        auto h = open_ok(db);
        const std::string found = h->verify();
        if (std::string(sql).find("id=3") != std::string::npos) {  // the newest: no gap, the mark is ahead
            EXPECT_EQ(found, "история " + db + ": записи после № 2 удалены (последняя записанная — № 3)");
            continue;
        }
        const bool removed = std::string(sql).find("DELETE") != std::string::npos;
        EXPECT_EQ(found.rfind(removed ? "запись 3 " : "запись 2 ", 0), 0u) << found;
    }
}

TEST_F(HistoryTest, CorruptStoreIsFoundByVerifyAndToldOnceByTheKeeper)
{
    {
        auto h = open_ok(db);
        std::string error;
        for (int i = 0; i < 3; ++i) {
            HistoryRecord r = write_record("C-1", 1, "уставка");
            ASSERT_TRUE(h->append(r, error)) << error;
        }
    }  // the last connection closed: everything is in the main file
    // The records' table is the first one made: its root is the file's second page.
    {
        std::fstream f(db, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4096);
        const std::string junk(4096, '\x5a');
        f.write(junk.data(), std::streamsize(junk.size()));
    }
    auto h = open_ok(db);
    ASSERT_TRUE(h);
    EXPECT_NE(h->verify(), "");
    h.reset();

    std::vector<std::string> told;
    RecordKeeper keeper(db, [&](const std::string& line) { told.push_back(line); });
    for (int i = 0; i < 2; ++i) {
        HistoryRecord r = write_record("C-1", 1, "яркость");
        EXPECT_FALSE(keeper.append(r));
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(db), std::string::npos) << told[0];
    EXPECT_EQ(keeper.pending(), 2u);
}

TEST_F(HistoryTest, RefusesNewerSchemasForeignFilesFoldersAndFifos)
{
    const std::string newer = dir + "/newer.sqlite";
    run("sqlite3 '" + newer + "' 'PRAGMA journal_mode=WAL; CREATE TABLE records(x); PRAGMA user_version=2;'");
    const std::string before = slurp(newer);
    ASSERT_FALSE(before.empty());
    std::string error;
    EXPECT_FALSE(History::open(newer, error));
    EXPECT_NE(error.find(newer), std::string::npos) << error;
    EXPECT_NE(error.find("версии 2 новее"), std::string::npos) << error;
    EXPECT_EQ(slurp(newer), before);

    const std::string text = dir + "/notes.txt";
    std::ofstream(text) << "канал 1 — ноль 12\n";
    EXPECT_FALSE(History::open(text, error));
    EXPECT_NE(error.find("не база данных"), std::string::npos) << error;
    EXPECT_EQ(slurp(text), "канал 1 — ноль 12\n");

    const std::string other = dir + "/other.sqlite";
    run("sqlite3 '" + other + "' 'CREATE TABLE t(x)'");
    EXPECT_FALSE(History::open(other, error));
    EXPECT_NE(error.find("другой программы"), std::string::npos) << error;

    fs::create_directory(dir + "/folder");
    EXPECT_FALSE(History::open(dir + "/folder", error));
    EXPECT_NE(error.find(dir + "/folder"), std::string::npos) << error;
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(History::open(dir + "/fifo", error));  // must not hang in the open either
    EXPECT_NE(error.find(dir + "/fifo"), std::string::npos) << error;
}

TEST_F(HistoryTest, KeeperTellsAnOutageOnceAndWritesTheRecordsWhenTheStoreIsBack)
{
    // The store's folder is a file for now: nothing can be opened there.
    std::ofstream(dir + "/store") << "";
    std::vector<std::string> told;
    RecordKeeper keeper(db, [&](const std::string& line) { told.push_back(line); });
    for (int i = 0; i < 3; ++i) {
        HistoryRecord r = write_record("O-1", 2, "запись " + std::to_string(i));
        EXPECT_FALSE(keeper.append(r));
        EXPECT_EQ(r.id, 0);
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(db), std::string::npos) << told[0];
    EXPECT_EQ(keeper.pending(), 3u);

    fs::remove(dir + "/store");
    HistoryRecord r = write_record("O-1", 2, "запись 3");
    ASSERT_TRUE(keeper.append(r));
    EXPECT_EQ(r.id, 4);
    EXPECT_EQ(keeper.pending(), 0u);
    std::vector<HistoryRecord> out;
    std::string error;
    ASSERT_TRUE(keeper.history()->list({}, out, error));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[3].what, "запись 0");
    EXPECT_EQ(keeper.history()->verify(), "");

    // Locked by another writer longer than the keeper waits: told once, kept, written after.
    RecordKeeper short_wait(db, [&](const std::string& line) { told.push_back(line); }, 200);
    {
        std::string e;
        auto other = History::open(db, e);
        ASSERT_TRUE(other) << e;
        ASSERT_TRUE(short_wait.history());
        FILE* shell = ::popen(("sqlite3 '" + db + "' >/dev/null 2>&1").c_str(), "w");
        ASSERT_TRUE(shell);
        std::fputs(".timeout 20000\nBEGIN IMMEDIATE;\nINSERT INTO records SELECT * FROM records WHERE 0;\n", shell);
        std::fflush(shell);
        HistoryRecord locked = write_record("O-1", 2, "занято");
        // Until the shell has started and taken its lock, the keeper's appends still land.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (short_wait.append(locked) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            locked = write_record("O-1", 2, "занято");
        }
        EXPECT_EQ(short_wait.pending(), 1u);
        HistoryRecord again = write_record("O-1", 2, "занято ещё");
        EXPECT_FALSE(short_wait.append(again));
        EXPECT_EQ(told.size(), 2u);
        std::fputs("COMMIT;\n.quit\n", shell);
        ::pclose(shell);
    }
    HistoryRecord back = write_record("O-1", 2, "свободно");
    EXPECT_TRUE(short_wait.append(back));
    EXPECT_EQ(short_wait.pending(), 0u);
    EXPECT_EQ(short_wait.history()->verify(), "");
}

TEST_F(HistoryTest, AStoreNamedForAServiceMayBeItsGroupsButNoOneElses)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    const uid_t other = 65534;  // nobody
    const std::string shared = dir + "/service.sqlite";
    {
        std::string error;
        auto made = History::open(shared, error, 5000, StoreSharing::Group);
        ASSERT_TRUE(made) << error;
    }
    struct stat st {};
    ASSERT_EQ(::stat(shared.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);  // whatever the umask: the group writes too

    ASSERT_EQ(::chown(shared.c_str(), other, ::getegid()), 0);
    std::string error;
    EXPECT_FALSE(History::open(shared, error));  // the private rule: another's file
    EXPECT_NE(error.find("другому пользователю"), std::string::npos) << error;
    auto h = History::open(shared, error, 5000, StoreSharing::Group);
    ASSERT_TRUE(h) << error;
    HistoryRecord r;
    r.kind = kKindWrite;
    r.what = "max1";
    EXPECT_TRUE(h->append(r, error)) << error;
    h.reset();

    ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);  // anyone may write: someone may have planted it
    EXPECT_FALSE(History::open(shared, error, 5000, StoreSharing::Group));
    EXPECT_NE(error.find("права 0666"), std::string::npos) << error;
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);  // the group may not write: not shared with us
    EXPECT_FALSE(History::open(shared, error, 5000, StoreSharing::Group));
    ASSERT_EQ(::chmod(shared.c_str(), 0660), 0);
    ASSERT_EQ(::symlink(shared.c_str(), (dir + "/link.sqlite").c_str()), 0);
    EXPECT_FALSE(History::open(dir + "/link.sqlite", error, 5000, StoreSharing::Group));
}
