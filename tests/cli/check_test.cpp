// varnok-cli check against the simulator: a unit out of tolerance found so, calibrated with the
// tool and left fit; the options it refuses; the reference typed at each point.
#include <nlohmann/json.hpp>

#include "cli_on_sim.h"

namespace varnok::test {
namespace {

using nlohmann::json;

// The simulator with its control socket and its frame journal in a folder of the test's own.
fs::path scratch()
{
    const fs::path d = fs::temp_directory_path() / ("varnok-check-" + std::to_string(::getpid()) + "-" +
                                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

class CliCheck : public CliOnSim {
protected:
    CliCheck() : CliCheck(scratch()) {}
    explicit CliCheck(fs::path own)
        : CliOnSim({"--noise", "0", "--control", (own / "ctl").string(), "--log", (own / "journal").string()}),
          own(std::move(own))
    {
    }
    ~CliCheck() override { fs::remove_all(own); }

    // The --apply command that sets the point's signal through the simulator's control socket.
    std::string apply() const
    {
        return "printf 'signal %s %s\\n' \"$VARNOK_CHANNEL\" \"$VARNOK_PERCENT\" | socat -t 5 - UNIX-CONNECT:" +
               (own / "ctl").string();
    }
    // The function codes of the requests the simulator's journal holds from line `from` on.
    std::vector<int> functions(size_t from = 0)
    {
        std::vector<int> f;
        std::istringstream in(slurp(own / "journal"));
        size_t n = 0;
        for (std::string line; std::getline(in, line); ++n)
            if (const size_t at = line.find(" <- "); n >= from && at != std::string::npos)
                f.push_back(std::stoi(line.substr(at + 7, 2), nullptr, 16));
        return f;
    }
    size_t journal_lines() { return size_t(count_lines(slurp(own / "journal"))); }
    static bool only_reads(const std::vector<int>& functions)
    {
        return !functions.empty() && std::all_of(functions.begin(), functions.end(), [](int f) { return f >= 1 && f <= 4; });
    }
    std::string answered() { return sim.dump().at("answered"); }
    std::string pdf_text(const fs::path& pdf)
    {
        const std::string command = "pdftotext -layout '" + pdf.string() + "' '" + (own / "pdf.txt").string() +
                                    "' 2>'" + (own / "pdftotext.err").string() + "'";
        return std::system(command.c_str()) == 0 ? slurp(own / "pdf.txt") : "";
    }

    fs::path own;
};

TEST_F(CliCheck, OutOfToleranceAsFoundThenCalibratedAndFitAsLeft)
{
    // The converter's true zero 400 counts above the stored one: +1 V at every point of 250 V.
    ASSERT_EQ(sim.command("zero 1 1412"), "ok");
    const std::vector<std::string> common = {"check",      "--channels", "1",       "--points", "0,50,100",
                                             "--samples",  "3",          "--tolerance", "0.3", "--apply", apply()};
    std::vector<std::string> found = {"--json"};
    found.insert(found.end(), common.begin(), common.end());
    found.insert(found.end(), {"--as", "found", "--unit-number", "777", "--engineer", "Иванов И. И.",
                               "--reference-instrument", "Калибратор К1;12;2099-01-01"});
    ASSERT_EQ(run(found), 1) << err;
    EXPECT_NE(out.find("\"percent\":50,\"nominal\":125,\"reference\":125,\"samples\":3,\"readings\":[126,126,126],"
                       "\"mean\":126,\"min\":126,\"max\":126,\"stdev\":0,\"error\":1,\"reduced_error\":0.4,"
                       "\"tolerance\":0.3,\"verdict\":\"не годен\""),
              std::string::npos)
        << out;
    const json f = json::parse(out);
    EXPECT_EQ(f["kind"], "as_found");
    EXPECT_EQ(f["verdict"], "не годен");
    EXPECT_EQ(f["unit"]["name"], "Варнок ПМ3");
    EXPECT_EQ(f["unit"]["factory_number"], "777");
    EXPECT_EQ(f["channels"][0]["constants"], json::parse(R"({"zero":1012,"coefficient":0.0025})"));
    EXPECT_EQ(f["channels"][0]["verdict"], "не годен");
    for (const json& p : f["channels"][0]["points"]) {
        EXPECT_EQ(p["error"], 1);
        EXPECT_EQ(p["reduced_error"], 0.4);
    }
    EXPECT_NE(err.find("канал 1, 100 %: среднее 251 В, погрешность 1 В (0,4 %), не годен\n"), std::string::npos) << err;
    EXPECT_TRUE(only_reads(functions())) << "a check writes nothing to the device";
    std::ofstream(dir / "found.json") << out;

    // The stored zero made the true one, with the tool's calibration load.
    std::ofstream(dir / "zero.txt") << "format=1\n[calibration]\nzero1=1412\n";
    ASSERT_EQ(run({"load", "--only", "calibration", (dir / "zero.txt").string()}), 0) << err;
    ASSERT_EQ(sim.command("get holding 0x27"), "ok 1412");

    const size_t before = journal_lines();
    std::vector<std::string> left = {"--json"};
    left.insert(left.end(), common.begin(), common.end());
    left.insert(left.end(), {"--as", "left", "--found", (dir / "found.json").string(), "--protocol",
                             (dir / "protocol.pdf").string()});
    ASSERT_EQ(run(left), 0) << err;
    const json l = json::parse(out);
    EXPECT_EQ(l["kind"], "as_left");
    EXPECT_EQ(l["verdict"], "годен");
    EXPECT_EQ(l["engineer"], "Иванов И. И.") << "taken from the as-found run";
    EXPECT_EQ(l["reference_instrument"]["due_date"], "2099-01-01");
    EXPECT_EQ(l["channels"][0]["constants"], json::parse(R"({"zero":1412,"coefficient":0.0025})"));
    for (const json& p : l["channels"][0]["points"]) {
        EXPECT_EQ(p["error"], 0);
        EXPECT_EQ(p["verdict"], "годен");
    }
    EXPECT_EQ(l["as_found"]["channels"][0]["constants"]["zero"], 1012);
    EXPECT_EQ(l["as_found"]["verdict"], "не годен");
    EXPECT_TRUE(only_reads(functions(before)));

    // The protocol holds both runs and the constants before and after.
    const std::string pdf = pdf_text(dir / "protocol.pdf");
    for (const char* text : {"Протокол проверки", "Заводской номер:", "777", "Калибратор К1", "Иванов И. И.",
                             "Проверка до калибровки", "Проверка после калибровки", "126,0000", "0,400",
                             "Заключение: годен"})
        EXPECT_NE(pdf.find(text), std::string::npos) << text << "\n" << pdf;
    EXPECT_NE(pdf.find("1012"), std::string::npos);
    EXPECT_NE(pdf.find("1412"), std::string::npos);

    // An as-left document is no as-found run.
    std::ofstream(dir / "left.json") << out;
    EXPECT_EQ(run({"check", "--as", "left", "--found", (dir / "left.json").string()}), 2);
    EXPECT_EQ(err, "varnok-cli: --found " + (dir / "left.json").string() +
                       ": это не проверка до калибровки (--as found)\n");

    // An as-found document edited by hand: a point's verdict, a channel's, a constant.
    const std::vector<std::pair<json::json_pointer, json>> edits = {
        {json::json_pointer("/channels/0/points/1/verdict"), "годен"},
        {json::json_pointer("/channels/0/verdict"), "годен"},
        {json::json_pointer("/channels/0/constants/zero"), -1},
    };
    const std::vector<std::string> refusals = {"вердикт channels[0].points[1].verdict не следует из отсчётов",
                                               "вердикт channels[0].verdict не следует из точек",
                                               "поле channels[0].constants: не ноль 0..65535 и коэффициент"};
    for (size_t i = 0; i < edits.size(); ++i) {
        json edited = f;
        edited[edits[i].first] = edits[i].second;
        std::ofstream(dir / "edited.json") << edited.dump();
        EXPECT_EQ(run({"check", "--as", "left", "--found", (dir / "edited.json").string()}), 2);
        EXPECT_EQ(err, "varnok-cli: --found " + (dir / "edited.json").string() + ": " + refusals[i] + "\n");
    }
}

// The case the window's test measures (a gain 1.2 % high, 62.49 shown by the reference at
// 25 %): the tool gives the same numbers and verdicts.
TEST_F(CliCheck, AGainTooHighGivesTheNumbersTheWindowGives)
{
    ASSERT_EQ(sim.command("gain 1 101200"), "ok");
    const std::string reference = apply() + "; if [ \"$VARNOK_PERCENT\" = 25 ]; then echo 62.49; fi";
    ASSERT_EQ(run({"--json", "check", "--channels", "1", "--samples", "3", "--apply", reference}), 1) << err;
    const json points = json::parse(out)["channels"][0]["points"];
    ASSERT_EQ(points.size(), 5u) << out;
    const double means[] = {0, 63.25, 126.5, 189.75, 253};
    const double reduced[] = {0, 0.304, 0.6, 0.9, 1.2};
    const char* verdicts[] = {"годен", "годен", "не годен", "не годен", "не годен"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(points[i]["mean"].get<double>(), means[i], 1e-9) << i;
        EXPECT_NEAR(points[i]["reduced_error"].get<double>(), reduced[i], 1e-9) << i;
        EXPECT_EQ(points[i]["verdict"], verdicts[i]) << i;
    }
    EXPECT_EQ(points[1]["reference"], 62.49);
    EXPECT_NEAR(points[1]["error"].get<double>(), 0.76, 1e-9);
}

TEST_F(CliCheck, BadOptionsAndAFailingApplyRecordNothing)
{
    const std::string was = answered();
    std::ofstream(dir / "other.json") << R"({"document":"varnok-cli read"})";
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--points", "0,120"}, "check: точка 120 % вне пределов -10..110 %"},
        {{"--channels", "1,x"}, "--channels: x не целое число"},
        {{"--samples", "0"}, "--samples: число отсчётов 0 вне пределов 1..100"},
        {{"--as", "sideways"}, "--as: found или left, а не sideways"},
        {{"--reference-instrument", "К1;12"}, "--reference-instrument: нужно \"НАЗВАНИЕ;НОМЕР;ГГГГ-ММ-ДД\""},
        {{"--reference-instrument", "К1;12;2026-02-30"}, "--reference-instrument: срок поверки 2026-02-30 не дата ГГГГ-ММ-ДД"},
        {{"--found", (dir / "other.json").string()}, "--found: только для проверки после калибровки (--as left)"},
        {{"--as", "left", "--found", (dir / "other.json").string()},
         "--found " + (dir / "other.json").string() + ": не результат varnok-cli check --json"},
        {{"--protocol", (dir / "p.txt").string()}, "--protocol: файл .pdf или .csv, а не " + (dir / "p.txt").string()},
    };
    for (const auto& [args, message] : refused) {
        std::vector<std::string> all = {"check"};
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(run(all), 2) << args.front();
        EXPECT_EQ(err, "varnok-cli: " + message + "\n");
    }
    EXPECT_EQ(answered(), was) << "nothing was sent for a refused command line";

    // The command fails at the first point: nothing on standard output, no protocol.
    const fs::path protocol = dir / "p.csv";
    EXPECT_EQ(run({"--json", "check", "--reference-instrument", "К1;12;2000-01-01", "--apply",
                   "echo калибратор не отвечает >&2; exit 3", "--protocol", protocol.string()}),
              1);
    EXPECT_EQ(out, "");
    EXPECT_FALSE(fs::exists(protocol));
    EXPECT_EQ(err.rfind("образцовый прибор К1 № 12: срок поверки 2000-01-01 истёк\n", 0), 0u) << "told first: " << err;
    EXPECT_NE(err.find("калибратор не отвечает\n"
                       "канал 1, 0 %: команда --apply завершилась с кодом 3; проверка остановлена, ничего не записано\n"),
              std::string::npos)
        << err;
    EXPECT_TRUE(only_reads(functions()));

    // A fit unit whose protocol cannot be written when the check ends (a folder took its place
    // meanwhile): the check does not pass.
    ASSERT_EQ(sim.command("signal 1 0"), "ok");
    const fs::path taken = dir / "p.pdf";
    const std::vector<std::string> fit = {"check", "--channels", "1", "--points", "0", "--samples", "1", "--apply"};
    std::vector<std::string> args = fit;
    args.insert(args.end(), {"true", "--protocol", taken.string()});
    EXPECT_EQ(run(args), 0) << err;
    EXPECT_TRUE(fs::is_regular_file(taken));
    fs::remove(taken);
    args = fit;
    args.insert(args.end(), {"mkdir " + taken.string(), "--protocol", taken.string()});
    EXPECT_EQ(run(args), 1) << err;
    EXPECT_NE(err.find("файл " + taken.string() + " не записан: "), std::string::npos) << err;
}

TEST_F(CliCheck, AsksForTheReferenceAtEachPoint)
{
    std::ofstream(dir / "typed") << "abc\n\n62,4\n";
    ASSERT_EQ(sim.command("signal 1 0"), "ok");
    // The signal stays at 0 %: the second point measures 0 against 62.4, the first is fit.
    EXPECT_EQ(run({"--json", "check", "--channels", "1", "--points", "0,25", "--samples", "1"}, (dir / "typed").string()), 1);
    EXPECT_NE(err.find("канал 1, 0 %: подайте 0 В\n"
                       "показание образцового прибора (Enter: 0): «abc» не число: введите показание, например 0, или "
                       "нажмите Enter\n"
                       "показание образцового прибора (Enter: 0): канал 1, 0 %: среднее 0 В, погрешность 0 В (0 %), годен\n"
                       "канал 1, 25 %: подайте 62,5 В\n"),
              std::string::npos)
        << err;
    const json j = json::parse(out);
    EXPECT_EQ(j["channels"][0]["points"][0]["verdict"], "годен");
    EXPECT_EQ(j["channels"][0]["points"][1]["reference"], 62.4);
    EXPECT_EQ(j["channels"][0]["points"][1]["error"], -62.4);
    EXPECT_EQ(j["channels"][0]["points"][1]["reduced_error"], -24.96);

    // Input that ends before the last point: stopped, nothing recorded.
    std::ofstream(dir / "short") << "\n";
    EXPECT_EQ(run({"--json", "check", "--channels", "1", "--points", "0,25", "--samples", "1"}, (dir / "short").string()), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("ввод закончился: проверка остановлена, ничего не записано\n"), std::string::npos) << err;
}

}  // namespace
}  // namespace varnok::test
