// Commissioning sheets as spreadsheets save them, parsed from their bytes without a device.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli/sheet.h"
#include "ops/profile.h"

namespace varnok::test {
namespace {

using namespace varnok::cli;
using namespace std::string_literals;

std::vector<std::string> keys_of(const SheetRow& row)
{
    std::vector<std::string> keys;
    for (const Setting& s : row.settings)
        keys.push_back(s.key() + "=" + s.text());
    return keys;
}

// `,` or `;` from the header, UTF-8 with or without a byte-order mark, Windows-1251 when not
// UTF-8, a decimal comma where `;` separates the cells.
TEST(Sheet, WhatSpreadsheetsSaveIsTaken)
{
    // A Russian-locale spreadsheet's "CSV": `;`, Windows-1251, CRLF, decimal commas.
    const Sheet cp = parse_sheet("from_address;unit1;max1;scale2\r\n5;\xEC\xC0;4,5;12,34\r\n;\xEA\xC2;;\r\n");
    EXPECT_EQ(cp.problems, std::vector<std::string>{});
    EXPECT_EQ(cp.separator, ';');
    EXPECT_TRUE(cp.cp1251);
    EXPECT_FALSE(cp.bom);
    ASSERT_EQ(cp.rows.size(), 2u);
    EXPECT_EQ(cp.rows[0].line, 2);
    EXPECT_EQ(cp.rows[0].from_address, 5);
    EXPECT_EQ(keys_of(cp.rows[0]), (std::vector<std::string>{"scale2=12.34", "unit1=мА", "max1=4.5"}));
    EXPECT_EQ(keys_of(cp.rows[1]), (std::vector<std::string>{"unit1=кВ"}));

    // The same in UTF-8 with a byte-order mark; and a comma sheet with one.
    const Sheet bom = parse_sheet("\xEF\xBB\xBF" "from_address;unit1;max1\n7;мА;0,5\n");
    EXPECT_EQ(bom.problems, std::vector<std::string>{});
    EXPECT_TRUE(bom.bom);
    EXPECT_FALSE(bom.cp1251);
    ASSERT_EQ(bom.rows.size(), 1u);
    EXPECT_EQ(keys_of(bom.rows[0]), (std::vector<std::string>{"unit1=мА", "max1=0.5"}));
    const Sheet comma = parse_sheet("\xEF\xBB\xBF" "from_address,max1\n9,4.5\n");
    EXPECT_EQ(comma.problems, std::vector<std::string>{});
    EXPECT_EQ(comma.separator, ',');
    ASSERT_EQ(comma.rows.size(), 1u);
    EXPECT_EQ(comma.rows[0].from_address, 9);

    // A comma sheet keeps the point: "4,5" there is two cells. A one-column sheet has no
    // separator to tell, and its comma can only be a decimal one.
    EXPECT_EQ(parse_sheet("max1,min1\n4,5,1\n").problems,
              std::vector<std::string>{"таблица, строка 2: 3 столбцов вместо 2"});
    const Sheet one = parse_sheet("max1\n4,5\n");
    ASSERT_EQ(one.rows.size(), 1u);
    EXPECT_EQ(keys_of(one.rows[0]), (std::vector<std::string>{"max1=4.5"}));
    // A decimal comma is for decimals: not in a number of a device.
    EXPECT_EQ(parse_sheet("from_address;max1\n5,0;1\n").problems.size(), 1u);

    // Not a text: said, not guessed at. A byte-order mark promises UTF-8.
    EXPECT_EQ(parse_sheet("max1\n1\n\0\n"s).problems,
              std::vector<std::string>{
                  "таблица, строка 3: нулевой байт; таблица читается как текст CSV (UTF-8 или Windows-1251)"});
    EXPECT_EQ(parse_sheet("\xEF\xBB\xBF" "unit1\n\xEC\xC0\n").problems,
              std::vector<std::string>{"таблица начинается с метки UTF-8, но дальше не в UTF-8"});

    // A profile saved with a byte-order mark reads as without it.
    EXPECT_EQ(parse_profile("\xEF\xBB\xBF# прибор\nformat=1\n[scales]\nunit2=кА\n").size(), 1u);
    EXPECT_EQ(parse_profile("\xEF\xBB\xBF" "format=1\n[setpoints]\nmax1=5\n").size(), 1u);
}

// Quoted cells hold separators, quotes and line breaks; a record is not a line.
TEST(Sheet, QuotingIsAsRfc4180Has)
{
    std::string problem;
    const std::vector<CsvRecord> r = csv_records("a,\"b,\"\"c\"\"\",,d\r\n\"x\r\ny\",\"\"\n\nlast,\"\"\"\"", ',', problem);
    EXPECT_EQ(problem, "");
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].fields, (std::vector<std::string>{"a", "b,\"c\"", "", "d"}));
    EXPECT_EQ(r[1].line, 2);
    EXPECT_EQ(r[1].fields, (std::vector<std::string>{"x\r\ny", ""}));
    EXPECT_EQ(r[2].line, 4);
    EXPECT_EQ(r[2].fields, (std::vector<std::string>{""}));
    EXPECT_EQ(r[3].line, 5);
    EXPECT_EQ(r[3].fields, (std::vector<std::string>{"last", "\""}));
    EXPECT_EQ(csv_records("a;b\rc;\"d;e\"", ';', problem).back().fields, (std::vector<std::string>{"c", "d;e"}));
    EXPECT_EQ(csv_records("x,\"open\n\nstill open", ',', problem).size(), 0u);
    EXPECT_EQ(problem, "строка 1: кавычка не закрыта до конца файла");
    EXPECT_EQ(csv_records("x\n\"a\"b\n", ',', problem).size(), 1u);
    EXPECT_EQ(problem,
              "строка 2: после закрывающей кавычки ещё знаки (кавычка внутри ячейки пишется двумя: \"\")");

    // A line break inside a cell is one row, refused as the one value it is, on its own line.
    const Sheet broken = parse_sheet("unit1,max1\n\"В\nА\",100\n\"В\",\"1\n2\"\n");
    EXPECT_TRUE(broken.rows.empty());
    EXPECT_EQ(broken.problems, (std::vector<std::string>{
                                   "таблица, строка 2, столбец unit1: unit1=В?А: неизвестная единица (нет, В, кВ, мА, А, кА, Гц или V, kV, mA, A, kA, Hz)",
                                   "таблица, строка 4, столбец max1: max1=1?2: индикатор показывает не больше "
                                   "четырёх цифр и трёх знаков после точки, без знака"}));
    EXPECT_EQ(parse_sheet("unit1;max1\n\"В\";\"100\"\n").rows.size(), 1u);
    EXPECT_EQ(parse_sheet("unit1;max1\n\"В;100\n5;6\n").problems,
              std::vector<std::string>{"таблица, строка 2: кавычка не закрыта до конца файла"});

    // A column named twice, whatever else is wrong with the header.
    EXPECT_EQ(parse_sheet("scale1,max1,scale1,colour,zero1\n1,2,3,4,5\n").problems,
              (std::vector<std::string>{
                  "таблица, строка 1: столбец \"scale1\" назван 2 раза, а значение у параметра одно",
                  "таблица, строка 1: неизвестный столбец \"colour\"",
                  "таблица, строка 1: столбец \"zero1\": калибровка у каждого прибора своя, таблица её не записывает"}));
    EXPECT_EQ(parse_sheet("").problems, std::vector<std::string>{"таблица пуста"});
}

// Every row is checked, and every fault told with its row and column; none is taken then.
TEST(Sheet, EveryBadRowIsTold)
{
    const Sheet s = parse_sheet(
        "from_address,from_speed,unit1,max1,\n5,19200,мА,,\n,,В,99999,\n7,1200,,,\n3\n6,7\n,,,,\n8,,,,x\n,,Ом,1.5.0,\n");
    EXPECT_TRUE(s.rows.empty());
    EXPECT_EQ(s.problems,
              (std::vector<std::string>{
                  "таблица, строка 3, столбец max1: max1=99999: индикатор показывает не больше четырёх цифр и трёх "
                  "знаков после точки, без знака",
                  "таблица, строка 4, столбец from_speed: скорость \"1200\": допустимы 4800, 9600, 19200, 38400, 57600, "
                  "115200",
                  "таблица, строка 5: 1 столбцов вместо 5", "таблица, строка 6: 2 столбцов вместо 5",
                  "таблица, строка 8, столбец 5: значение в столбце без имени",
                  "таблица, строка 9, столбец unit1: unit1=Ом: неизвестная единица (нет, В, кВ, мА, А, кА, Гц или V, kV, mA, A, kA, Hz)",
                  "таблица, строка 9, столбец max1: max1=1.5.0: индикатор показывает не больше четырёх цифр и трёх "
                  "знаков после точки, без знака"}));

    // The good rows alone are taken; a row of empty cells (as a spreadsheet saves a blank row)
    // is no device.
    const Sheet good = parse_sheet("from_address,from_speed,unit1,max1,\n5,19200,мА,,\n,,,,\n\n8,,,120.5,\n");
    EXPECT_EQ(good.problems, std::vector<std::string>{});
    ASSERT_EQ(good.rows.size(), 2u);
    EXPECT_EQ(good.rows[0].from_speed, 19200);
    EXPECT_EQ(good.rows[1].line, 5);
    EXPECT_EQ(good.rows[1].from_address, 8);
    EXPECT_EQ(keys_of(good.rows[1]), (std::vector<std::string>{"max1=120.5"}));
}

// A header of a hundred thousand names, near the size cap, is checked by a table of names:
// each unknown one told once, and a repeat at the very end found with its count.
TEST(Sheet, AHugeHeaderIsCheckedWholeAndAtOnce)
{
    std::string header = "max1";
    for (int i = 0; i < 100000; ++i)
        header += ",c" + std::to_string(i);
    header += ",c5,max1\n";
    ASSERT_GT(header.size(), 680000u);
    const auto start = std::chrono::steady_clock::now();
    const Sheet s = parse_sheet(header + "1,,\n");
    // A generous bound that a busy machine keeps: the check by pairs took about a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(s.rows.empty());
    ASSERT_EQ(s.problems.size(), 100002u);
    EXPECT_EQ(s.problems[0], "таблица, строка 1: столбец \"max1\" назван 2 раза, а значение у параметра одно");
    EXPECT_EQ(s.problems[1], "таблица, строка 1: неизвестный столбец \"c0\"");
    EXPECT_EQ(s.problems[6], "таблица, строка 1: столбец \"c5\" назван 2 раза, а значение у параметра одно");
    EXPECT_EQ(s.problems[7], "таблица, строка 1: неизвестный столбец \"c5\"");
    EXPECT_EQ(s.problems.back(), "таблица, строка 1: неизвестный столбец \"c99999\"");
}

// What a sheet or a profile holds is echoed in its faults with control characters as '?':
// an escape sequence in a cell must not retitle or clear the user's terminal.
TEST(Sheet, ControlCharactersOfAFileAreNeverEchoed)
{
    const Sheet s = parse_sheet("from_address,max1,\x1b[2J\n5,\x1b]0;PWNED\x07\x1b[2J250,\n");
    EXPECT_EQ(s.problems, (std::vector<std::string>{"таблица, строка 1: неизвестный столбец \"?[2J\""}));
    const Sheet cells = parse_sheet(
        "from_address,max1,unit1\n5\x1b[2J,\x1b]0;PWNED\x07\x1b[2J250,\xc2\x9b"
        "31m\n");
    EXPECT_EQ(cells.problems,
              (std::vector<std::string>{
                  "таблица, строка 2, столбец from_address: from_address \"5?[2J\": нужно целое число от 1 до 247",
                  "таблица, строка 2, столбец max1: max1=?]0;PWNED??[2J250: индикатор показывает не больше четырёх "
                  "цифр и трёх знаков после точки, без знака",
                  "таблица, строка 2, столбец unit1: unit1=?31m: неизвестная единица (нет, В, кВ, мА, А, кА, Гц или V, "
                  "kV, mA, A, kA, Hz)"}));
    for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
             {"format=1\n[setpoints]\nmax1=\x1b[2J\n", "профиль, строка 3: max1=?[2J: индикатор"},
             {"format=1\n[interface]\nparity=\x1b]0;x\x07\n", "профиль, строка 3: паритет \"?]0;x?\": допустимы"},
             {"format=1\n[\x1b[2J]\n", "профиль, строка 2: раздел \"?[2J\": допустимы"},
             {"format=1\n\x1b[2J\n", "профиль, строка 2: непонятная строка \"?[2J\""},
             {"format=1\n\x1b[2J=1\n", "профиль, строка 2: ?[2J вне раздела"},
             {"format=\x07\n", "профиль, строка 1: формат \"?\" не поддерживается"}}) {
        try {
            parse_profile(text);
            ADD_FAILURE() << text;
        } catch (const ValueError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        }
    }
}

}  // namespace
}  // namespace varnok::test
