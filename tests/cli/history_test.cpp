// varnok-cli's history against the simulator: writes with their old and new values, a check
// and its protocol printed again, the chain verified, a store that cannot be opened, and two
// tools writing at once.
#include <nlohmann/json.hpp>

#include "cli_on_sim.h"

namespace varnok::test {
namespace {

using nlohmann::json;

class CliHistory : public CliOnSim {
protected:
    CliHistory()
        : CliOnSim({"--noise", "0", "--control", (dir_for_sim() / "ctl").string()}), ctl(dir_for_sim() / "ctl")
    {
    }
    ~CliHistory() override { fs::remove_all(dir_for_sim()); }

    // The simulator's control socket lives outside the tool's folder, which the fixture makes.
    static fs::path dir_for_sim()
    {
        const fs::path d = fs::temp_directory_path() /
                           ("varnok-history-" + std::to_string(::getpid()) + "-" +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(d);
        return d;
    }
    std::string history_file() const { return (dir / "history.sqlite").string(); }
    // The tool on the test's own history.
    int tool(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--history", history_file()});
        return run(args);
    }
    json listed(std::vector<std::string> filter = {})
    {
        filter.insert(filter.begin(), {"--json", "history"});
        EXPECT_EQ(tool(filter), 0) << err;
        return json::parse(out);
    }
    std::string apply() const
    {
        return "printf 'signal %s %s\\n' \"$VARNOK_CHANNEL\" \"$VARNOK_PERCENT\" | socat -t 5 - UNIX-CONNECT:" +
               ctl.string();
    }
    std::string pdf_rows(const fs::path& pdf)
    {
        const std::string command = "pdftotext -layout '" + pdf.string() + "' '" + (dir / "pdf.txt").string() +
                                    "' 2>/dev/null";
        return std::system(command.c_str()) == 0 ? slurp(dir / "pdf.txt") : "";
    }

    fs::path ctl;
};

TEST_F(CliHistory, WritesAreRecordedWithOldAndNewValuesAndListed)
{
    ASSERT_EQ(tool({"set", "max1=200"}), 0) << err;
    ASSERT_EQ(sim.command("zero 1 1012"), "ok");
    std::ofstream(dir / "zero.ini") << "format=1\n[calibration]\nzero1=1400\n";
    ASSERT_EQ(tool({"load", "--only", "calibration", (dir / "zero.ini").string()}), 0) << err;
    ASSERT_EQ(sim.command("get holding 0x27"), "ok 1400");

    const json all = listed();
    ASSERT_EQ(all.size(), 2u) << all.dump();
    // Newest first: the calibration zero from the profile, then the setpoint.
    EXPECT_EQ(all[0]["kind"], "профиль");
    EXPECT_EQ(all[0]["what"], "zero1 из " + (dir / "zero.ini").string());
    EXPECT_EQ(all[0]["old"], "1012");
    EXPECT_EQ(all[0]["new"], "1400");
    EXPECT_EQ(all[1]["kind"], "запись");
    EXPECT_EQ(all[1]["what"], "max1");
    EXPECT_EQ(all[1]["old"], "225");
    EXPECT_EQ(all[1]["new"], "200");
    EXPECT_EQ(all[1]["unit"]["network_number"], 5);
    EXPECT_EQ(all[1]["unit"]["line"], "COM1 9600 8N1");  // as the window names it, so that both match one unit
    EXPECT_FALSE(all[1]["unit"]["name"].get<std::string>().empty());
    EXPECT_EQ(listed({"-a", "17"}).size(), 0u);
    EXPECT_EQ(listed({"--since", "2999-01-01"}).size(), 0u);
    EXPECT_EQ(listed({"--since", "2024-02-29 23:59:59"}).size(), 2u);
    for (const char* bad : {"2026-02-30", "2025-02-29", "2026-13-01", "2026-01-01 24:00:00", "2026-1-1"}) {
        EXPECT_EQ(tool({"history", "--since", bad}), 2) << bad;
        EXPECT_NE(err.find(std::string("--since: ГГГГ-ММ-ДД")), std::string::npos) << err;
    }

    env = {{"LC_ALL", "ru_RU.UTF-8"}};
    ASSERT_EQ(tool({"history", "--csv", "excel"}), 0) << err;
    EXPECT_EQ(out.rfind("\xEF\xBB\xBFвремя;пользователь;вид;", 0), 0u) << out;
    EXPECT_EQ(count_lines(out), 3);
    EXPECT_NE(out.find(";max1;225;200;\r\n"), std::string::npos) << out;
}

TEST_F(CliHistory, ACheckIsStoredAndItsProtocolPrintedAgain)
{
    const fs::path first = dir / "first.pdf", again = dir / "again.pdf";
    ASSERT_EQ(tool({"--json", "check", "--channels", "1", "--points", "0,50,100", "--samples", "2", "--apply", apply(),
                    "--unit-number", "77", "--protocol", first.string()}),
              0)
        << err;
    const json doc = json::parse(out);
    const json all = listed({"--unit-number", "77"});
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["kind"], "проверка");
    EXPECT_EQ(all[0]["document"], doc);
    EXPECT_EQ(all[0]["document"]["channels"][0]["points"].size(), 3u);
    const std::string number = all[0]["protocol_number"];
    EXPECT_EQ(number.rfind("77-", 0), 0u) << number;

    ASSERT_EQ(tool({"protocol", number, "--out", again.string()}), 0) << err;
    const std::string rows = pdf_rows(first);
    EXPECT_NE(rows.find(number), std::string::npos);
    EXPECT_EQ(pdf_rows(again), rows);
    EXPECT_EQ(tool({"protocol", "77-19990101-000000", "--out", (dir / "none.pdf").string()}), 1);
    EXPECT_FALSE(fs::exists(dir / "none.pdf"));

    // The chain holds until a record is changed behind the program's back.
    ASSERT_EQ(tool({"set", "max1=200"}), 0) << err;
    EXPECT_EQ(tool({"history", "--verify"}), 0) << err;
    const std::string tamper = "sqlite3 '" + history_file() +
                               "' \"DROP TRIGGER records_keep_update; UPDATE records SET new_value='150' "
                               "WHERE what='max1';\"";
    ASSERT_EQ(std::system(tamper.c_str()), 0);
    EXPECT_EQ(tool({"history", "--verify"}), 1);
    EXPECT_NE(err.find("запись 2 ("), std::string::npos) << err;
}

TEST_F(CliHistory, AStoreThatDoesNotOpenStopsOnlyTheCheckAndTheHistory)
{
    const std::string folder = (dir / "folder").string();
    fs::create_directories(folder);
    ASSERT_EQ(sim.command("zero 1 1012"), "ok");
    ASSERT_EQ(run({"--history", folder, "set", "max1=200", "min1=10"}), 0) << err;
    // Told once, beside the line that names the connection, though two writes were not stored.
    EXPECT_EQ(err, note() + "история " + folder + " не открывается: это папка, а не обычный файл\n");
    ASSERT_EQ(run({"--json", "info"}), 0) << err;
    EXPECT_NE(out.find("200"), std::string::npos) << out;
    ASSERT_EQ(run({"--history", folder, "check", "--channels", "1", "--points", "0", "--samples", "1", "--apply",
                   apply()}),
              1);
    // A check is kept for its record: refused before its first point, in the store's one line.
    EXPECT_EQ(err, note() + "история " + folder + " не открывается: это папка, а не обычный файл\n");
    EXPECT_EQ(out, "") << "nothing measured";
    EXPECT_EQ(run({"--history", folder, "history"}), 1);
    EXPECT_EQ(count_lines(err), 1) << err;

    // The settings file may name the store, and --history wins over it.
    std::ofstream(dir / "varnok.ini", std::ios::app) << "[история]\nфайл=" << folder << "\n";
    EXPECT_EQ(run({"history"}), 1);
    EXPECT_EQ(run({"--history", history_file(), "history"}), 0) << err;
}

TEST_F(CliHistory, TwoToolsWritingAtOnceLoseNoRecord)
{
    SimProcess other({"--noise", "0", "--whole-answers"});
    const std::vector<std::string> settings = {"set", "max1=201", "min1=11", "max2=202", "min2=12", "max3=203",
                                               "min3=13"};
    std::vector<std::string> second = {"--history", history_file(), "-p", other.path(), "-a", "5"};
    second.insert(second.end(), settings.begin(), settings.end());
    std::vector<std::string> first = {"--history", history_file()};
    first.insert(first.end(), settings.begin(), settings.end());
    std::vector<std::string> all = prefix;
    all.insert(all.end(), {VARNOK_CLI_PATH, "--settings", (dir / "varnok.ini").string()});
    all.insert(all.end(), second.begin(), second.end());
    fs::create_directories(dir / "second");
    const pid_t b = spawn_with_files(all, dir / "second");
    const pid_t a = start(first);
    EXPECT_EQ(finish(a), 0) << err;
    int status = 0;
    ::waitpid(b, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slurp(dir / "second" / "err");
    EXPECT_EQ(listed().size(), 12u);
    EXPECT_EQ(tool({"history", "--verify"}), 0) << err;
}

}  // namespace
}  // namespace varnok::test
