// The tool's parsing and output, without a line: built for Linux and for Windows.
#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "cli/commission.h"
#include "cli/options.h"
#include "cli/session.h"
#include "cli/value.h"
#include "ops/entry.h"
#include "ops/profile.h"

namespace varnok::test {
namespace {

using namespace varnok::cli;

TEST(CliValues, SheetsAndCommandLines)
{
    // Quoted fields, an empty cell left alone, a bad value or a short row refused by its line.
    std::string problem;
    EXPECT_EQ(csv_records("a,\"b,\"\"c\"\"\",,d", ',', problem).front().fields,
              (std::vector<std::string>{"a", "b,\"c\"", "", "d"}));
    const Sheet sheet = parse_sheet("from_address,from_speed,unit1,max1\r\n5,19200,мА,\n,,В,99999\n7,1200,,\n3\n");
    EXPECT_TRUE(sheet.rows.empty());
    ASSERT_EQ(sheet.problems.size(), 3u);
    EXPECT_EQ(sheet.problems[0].rfind("таблица, строка 3, столбец max1: max1=99999:", 0), 0u) << sheet.problems[0];
    EXPECT_EQ(sheet.problems[1].rfind("таблица, строка 4, столбец from_speed: скорость \"1200\"", 0), 0u)
        << sheet.problems[1];
    EXPECT_EQ(sheet.problems[2], "таблица, строка 5: 1 столбцов вместо 4");
    const std::vector<SheetRow> rows = parse_sheet("from_address,from_speed,unit1,max1\r\n5,19200,мА,\n").rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].line, 2);
    EXPECT_EQ(rows[0].from_address, 5);
    EXPECT_EQ(rows[0].from_speed, 19200);
    ASSERT_EQ(rows[0].settings.size(), 1u);
    EXPECT_EQ(rows[0].settings[0].key(), "unit1");
    EXPECT_EQ(parse_sheet("address,colour\n5,red\n").problems,
              std::vector<std::string>{"таблица, строка 1: неизвестный столбец \"colour\""});

    const Options o = parse_options(
        {"-p", "tcp://h:502", "-b", "19200", "-P", "even", "-s", "2", "-a", "3,17", "--fast", "read", "--count", "2"});
    EXPECT_EQ(o.port, "tcp://h:502");
    EXPECT_EQ(o.speed, 19200);
    EXPECT_EQ(o.parity, 2);
    EXPECT_EQ(o.stopbit, 2);
    EXPECT_EQ(o.addresses, (std::vector<uint8_t>{3, 17}));
    EXPECT_TRUE(o.fast);
    EXPECT_EQ(o.command, "read");
    EXPECT_EQ(o.args, (std::vector<std::string>{"--count", "2"}));
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"-a"}, {"-a", "0"}, {"-a", "3,,4"}, {"-P", "mark"}, {"-s", "3"}, {"--colour"}, {"-b", "9600x"}})
        EXPECT_THROW(parse_options(bad), UsageError) << bad.front();
    EXPECT_THROW(CommandArgs({"--every"}, {"--every"}, {}), UsageError);
    EXPECT_THROW(CommandArgs({"--evry", "1"}, {"--every"}, {}), UsageError);
}

// The refusal's text, or "" when it was taken.
template <typename F>
std::string refusal(F&& f)
{
    try {
        f();
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

TEST(CliValues, OptionsStandWhereUsersTypeThem)
{
    const Options o =
        parse_options({"info", "-a5", "-b19200", "--parity=even", "--stopbits", "2", "--port=COM3", "--json"});
    EXPECT_EQ(o.command, "info");
    EXPECT_EQ(o.addresses, (std::vector<uint8_t>{5}));
    EXPECT_EQ(o.speed, 19200);
    EXPECT_EQ(o.parity, 2);
    EXPECT_EQ(o.stopbit, 2);
    EXPECT_EQ(o.port, "COM3");
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.args.empty());
    const Options l = parse_options({"--address", "3,17", "--speed", "4800", "-P", "odd", "read", "--every=2", "--count",
                                     "3", "-v", "--out=r.csv"});
    EXPECT_EQ(l.addresses, (std::vector<uint8_t>{3, 17}));
    EXPECT_EQ(l.speed, 4800);
    EXPECT_TRUE(l.verbose);
    EXPECT_EQ(l.args, (std::vector<std::string>{"--every", "2", "--count", "3", "--out", "r.csv"}));
    // After scan, --speed is scan's own (it takes "all"); before it, the connection's.
    const Options s = parse_options({"scan", "--speed", "all", "-s2"});
    EXPECT_EQ(s.args, (std::vector<std::string>{"--speed", "all"}));
    EXPECT_FALSE(s.speed);
    EXPECT_EQ(s.stopbit, 2);
    EXPECT_EQ(parse_options({"--speed=19200", "scan"}).speed, 19200);
    EXPECT_TRUE(parse_options({"--version"}).version);
    EXPECT_TRUE(parse_options({"read", "--help"}).command_help);
    EXPECT_TRUE(parse_options({"-h", "read"}).help);

    EXPECT_EQ(refusal([] { parse_options({"reed"}); }), "неизвестная команда reed; может быть, read?");
    EXPECT_EQ(refusal([] { parse_options({"-a", "5", "inof"}); }), "неизвестная команда inof; может быть, info?");
    EXPECT_EQ(refusal([] { parse_options({"frobnicate"}); }), "неизвестная команда frobnicate");
    EXPECT_EQ(refusal([] { parse_options({"--adress", "5", "info"}); }),
              "неизвестный параметр --adress; может быть, --address?");
    EXPECT_EQ(refusal([] { CommandArgs({"--evry", "1"}, {"--every", "--count"}, {}); }),
              "неизвестный параметр --evry; может быть, --every?");
    EXPECT_EQ(refusal([] { parse_options({"info", "-a"}); }), "у параметра -a нет значения");
    EXPECT_EQ(refusal([] { parse_options({"info", "--speed=1200"}); }).rfind("скорость \"1200\"", 0), 0u);
}

// Units and decimal commas as users type them; values as the device holds them; JSON typed.
TEST(CliValues, ValuesAsUsersTypeThemAndAsTheDeviceHoldsThem)
{
    EXPECT_EQ(parse_setting("unit1", "V", false).number, 1);
    EXPECT_EQ(parse_setting("unit1", "kV", false).number, 2);
    EXPECT_EQ(parse_setting("unit2", "A", false).number, 4);
    EXPECT_EQ(parse_setting("unit2", "kA", false).number, 5);
    EXPECT_EQ(parse_setting("unit3", "Hz", false).number, 6);
    EXPECT_EQ(parse_setting("max2", "4,5", false).real, 4.5f);
    EXPECT_EQ(parse_setting("scale1", "12,34", false).entry, (Entry{1234, 1}));
    EXPECT_THROW(parse_setting("max2", "4,5,6", false), UsageError);

    EXPECT_EQ(Value::reading(2.3999999f).text(), "2.4");
    EXPECT_EQ(Value::reading(11.999999f).text(), "12");
    EXPECT_EQ(Value::reading(106.244995f).text(), "106.245");
    EXPECT_EQ(Value::real(0.0025f).text(), "0.0025");
    Value v = Value::object();
    v.set("coefficient", Value::real(std::numeric_limits<float>::quiet_NaN()));
    v.set("value", Value::reading(-std::numeric_limits<float>::infinity()));
    v.set("written", Value::boolean(true));
    v.set("name", Value::device_text("Варнок\x1b[2J\r\xC2\x9B"));
    EXPECT_EQ(to_json(v), "{\"coefficient\":null,\"value\":null,\"written\":true,\"name\":\"Варнок?[2J??\"}\n");
    v.set("frequency", Value());
    EXPECT_EQ(to_text(v), "коэффициент  нет значения\nзначение     нет значения\nзаписано     да\nимя          Варнок?[2J??\n"
                          "частота      -\n");
}

// A profile's last line is the CRC-32 of every byte before it: a profile cut short or changed
// after it was written is refused with its line; one of an earlier version, without that line,
// is taken unchecked.
TEST(CliValues, AProfileIsTakenOnlyAsItWasWritten)
{
    const std::string body = "format=1\n[setpoints]\nmax1=225\n";
    const std::string saved = body + "# crc32=500E25B8\n";  // as zlib's crc32() has it
    const ProfileFile whole = parse_profile_file(saved);
    EXPECT_TRUE(whole.checked);
    ASSERT_EQ(whole.settings.size(), 1u);
    EXPECT_EQ(whole.settings[0].key() + "=" + whole.settings[0].text(), "max1=225");
    EXPECT_TRUE(parse_profile_file(body.substr(0, 9) + "[setpoints]\nmax1=225\n# crc32=500e25b8\n").checked);
    const ProfileFile old = parse_profile_file(body);
    EXPECT_FALSE(old.checked);
    EXPECT_EQ(old.settings.size(), 1u);
    // What profile_text writes, any name and version, is taken and checked.
    const std::string written = profile_text(whole.settings, "Варнок\n# crc32=00000000", "\x1b[2J");
    EXPECT_TRUE(parse_profile_file(written).checked) << written;
    EXPECT_NE(written.find("\n# прибор: Варнок?# crc32=00000000\n# версия ПО: ?[2J\n"), std::string::npos) << written;

    std::string changed = saved;
    changed.replace(changed.find("225"), 3, "200");
    for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
             {saved.substr(0, saved.find("225") + 2), "профиль, строка 3: не кончается переводом строки, файл обрезан"},
             {saved.substr(0, saved.size() - 1), "профиль, строка 4: не кончается переводом строки, файл обрезан"},
             {changed, "профиль, строка 4: контрольная сумма 500E25B8 не сходится с файлом (2EFD0593)"},
             {"\xEF\xBB\xBF" + saved, "профиль, строка 4: контрольная сумма 500E25B8 не сходится"},
             {saved + "max2=5\n", "профиль, строка 4: строка контрольной суммы не последняя"},
             {saved + "\n", "профиль, строка 4: строка контрольной суммы не последняя"},
             {body + "# crc32=500E25B\n",
              "профиль, строка 4: строка контрольной суммы испорчена: нужно \"# crc32=\" и восемь"},
             {body + "# crc32=+500E25B\n",
              "профиль, строка 4: строка контрольной суммы испорчена: нужно \"# crc32=\" и восемь"},
             {"format=1", "профиль, строка 1: не кончается переводом строки"}}) {
        try {
            parse_profile_file(text);
            ADD_FAILURE() << text;
        } catch (const ValueError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
    }
}

TEST(CliValues, EntriesSettingsAndJson)
{
    EXPECT_EQ(parse_entry("12.34"), (Entry{1234, 1}));
    EXPECT_EQ(parse_entry("0.750"), (Entry{750, 0}));
    EXPECT_EQ(parse_entry("9999"), (Entry{9999, 3}));
    EXPECT_EQ(parse_entry("250.0"), (Entry{2500, 2}));
    for (const char* bad : {"", ".", "1.", "12345", "1.2345", "-1", "+1", "1,5", "1.2.3", " 1", "99999.0"})
        EXPECT_FALSE(parse_entry(bad)) << bad;
    EXPECT_EQ(entry_text(Entry{750, 0}), "0.750");
    EXPECT_EQ(entry_text(Entry{5, 1}), "0.05");
    EXPECT_EQ(entry_text(Entry{2500, 2}), "250.0");
    EXPECT_EQ(entry_of(12.34f, 1), (Entry{1234, 1}));
    EXPECT_FALSE(entry_of(1000.0f, 1));
    EXPECT_EQ(unit_code("мА"), 3);
    // A coefficient reads with a point under a locale whose decimal separator is a comma.
    const char* before = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = before ? before : "C";
    if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8")) {
        EXPECT_EQ(parse_setting("coefficient1", "0.0025", true).real, 0.0025f);
        EXPECT_EQ(parse_setting("coefficient1", "0,0025", true).real, 0.0025f);
        std::setlocale(LC_NUMERIC, saved.c_str());
    }
    EXPECT_EQ(unit_code("mA"), 3);
    EXPECT_FALSE(unit_code("mV"));

    // The device's values first, the line's after them, the address last.
    const std::vector<Setting> s = parse_settings({"address=7", "speed=19200", "unit1=В", "brightness=1"});
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].name, Setting::kBrightness);
    EXPECT_EQ(s[1].name, Setting::kUnit);
    EXPECT_EQ(s[2].name, Setting::kSpeed);
    EXPECT_EQ(s[3].name, Setting::kAddress);
    EXPECT_THROW(parse_settings({"address=7", "address=8"}), UsageError);
    EXPECT_THROW(parse_settings({"scale4=1"}), UsageError);

    // A profile is taken whole or refused with the line that is wrong.
    EXPECT_EQ(parse_profile("format=1\n[scales]\nscale2=1.5\nunit2=кА\n").size(), 2u);
    for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
             {"[scales]\nscale1=1\n", "строка 1: нет строки format=1"},
             {"format=2\n", "строка 1: формат \"2\" не поддерживается"},
             {"format=1\n[scales]\nmax1=5\n", "строка 3: max1: не из раздела scales"},
             {"format=1\n[scales]\n\x01\xff garbage\n", "строка 3: непонятная строка"},
             {"format=1\n[setpoints]\nmax1=5\nmax1=6\n", "строка 4: max1: задан дважды"},
             {"format=1\n[calibration]\ncoefficient1=abc\n", "строка 3: coefficient1=abc: нужно число"},
             {"just text\n", "строка 1: непонятная строка"},
             {"", "нет строки format=1"}}) {
        try {
            parse_profile(text);
            ADD_FAILURE() << text;
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }

    Value v = Value::object();
    v.set("name", Value::string("a\"b\\c\n\x01"));
    v.set("none", Value());
    // A name in a legacy code page is no UTF-8: its bytes become U+FFFD, the JSON stays valid.
    v.set("cp1251", Value::string("\xC2\xE0\xF0"));
    Value& numbers = v.set("numbers", Value::array());
    for (const char* n : {"5.000", "-12", "1e-07"})
        numbers.push(Value::number(n));
    EXPECT_EQ(to_json(v),
              "{\"name\":\"a\\\"b\\\\c\\n\\u0001\",\"none\":null,\"cp1251\":\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\","
              "\"numbers\":[5.0,-12,1e-07]}\n");
    // Text aligns by characters, not bytes; arrays number their members.
    Value t = Value::object();
    t.set("имя", Value::string("Варнок"));
    t.set("unit", Value::string("мА"));
    t.set("list", Value::array()).push(Value::number(7));
    EXPECT_EQ(to_text(t), "имя      Варнок\nединица  мА\nlist\n  #1  7\n");
}

}  // namespace
}  // namespace varnok::test
