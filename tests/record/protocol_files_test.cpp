// The protocol's documents from a protocol of literal values: the PDF read back as text with
// pdftotext, its fonts with pdffonts, and the CSV's rows as they are.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "record/protocol_files.h"
#include "record/sample_protocol.h"

namespace fs = std::filesystem;
using namespace varnok::record;
using varnok::test::point;
using varnok::test::sample;

namespace {

class ProtocolFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "varnok-record-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // What the command prints.
    static std::string output_of(const std::string& command)
    {
        std::string out;
        if (FILE* f = ::popen(command.c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
                out.append(buf, n);
            ::pclose(f);
        }
        return out;
    }
    // The PDF's text as pdftotext lays it out (its complaints about libharu's character maps,
    // which do not touch the text, go to a file aside).
    std::string text_of(const std::string& pdf) const
    {
        return output_of("pdftotext -layout '" + pdf + "' - 2>'" + dir + "/pdftotext.err'");
    }
    static std::string content_of(const std::string& file)
    {
        std::ostringstream s;
        s << std::ifstream(file, std::ios::binary).rdbuf();
        return s.str();
    }
    static void put(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    static std::vector<std::string> split(const std::string& line)
    {
        std::vector<std::string> words;
        std::istringstream in(line);
        for (std::string w; in >> w;)
            words.push_back(w);
        return words;
    }
    static std::string line_with(const std::string& text, const std::string& what)
    {
        const size_t at = text.find(what);
        if (at == std::string::npos)
            return "";
        const size_t from = text.rfind('\n', at) + 1;
        return text.substr(from, text.find('\n', at) - from);
    }
    // Whether a line of `text` holds these words, however many blanks are between them.
    static bool has_row(const std::string& text, const std::string& words)
    {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            std::string joined;
            for (const std::string& w : split(line))
                joined += (joined.empty() ? "" : " ") + w;
            if (joined == words)
                return true;
        }
        return false;
    }
    static size_t count_of(const std::string& text, const std::string& what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }
    size_t entries() const { return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }

    std::string dir;
};

TEST_F(ProtocolFiles, PdfHoldsTheUnitTheTablesAndTheVerdictsInEmbeddedFonts)
{
    const std::string path = dir + "/протокол.pdf";
    ASSERT_EQ(write_protocol_pdf(sample(), path), "");
    EXPECT_EQ(entries(), 1u) << "the temporary file is left";
    const std::string text = text_of(path);
    for (const char* words :
         {"Протокол проверки", "№ ЗН-0427-20261211-140523", "11.12.2026 14:05:23", "Варнок-3, версия 2.0.3.6",
          "Заводской номер:", "ЗН-0427", "Сетевой номер:", "/dev/ttyUSB0 9600 8N1", "Иванов И. И.",
          "Калибратор КЛ-1, № 1234", "01.03.2027", "0,5 % от диапазона", "Канал 1 (шкала 250 В)",
          "Канал 2 (шкала 250 мА)", "Проверка до калибровки, 11.12.2026 13:50:00",
          "Проверка после калибровки, 11.12.2026 14:02:10", "Погрешность, мА", "Приведённая, %",
          "отказ: нет ответа на чтение регистров 0x4C-0x4D", "Калибровочные константы", "Заключение: годен",
          "Поверитель", "Подпись", "Дата", "лист 1 из 2", "лист 2 из 2"})
        EXPECT_NE(text.find(words), std::string::npos) << words;
    // The rows as pdftotext lays them out: point, reference, mean, error, reduced error, verdict.
    EXPECT_TRUE(has_row(text, "50 125,0000 128,7500 3,7500 1,500 не годен")) << text;
    EXPECT_TRUE(has_row(text, "100 250,0000 253,7500 3,7500 1,500 не годен")) << text;
    EXPECT_TRUE(has_row(text, "100 250,0000 250,5000 0,5000 0,200 годен")) << text;
    EXPECT_TRUE(has_row(text, "50 125,0000 124,9000 -0,1000 -0,040 годен")) << text;
    EXPECT_TRUE(has_row(text, "0 0,0000 -0,0200 -0,0200 -0,008 годен")) << text;
    // The failed point: no measured values, unfit.
    EXPECT_TRUE(has_row(text, "50 125,0000 не годен")) << text;
    EXPECT_EQ(count_of(text, "Заключение по каналу: не годен"), 2u);
    EXPECT_EQ(count_of(text, "Заключение по каналу: годен"), 2u);
    // The constants: channel, zero and coefficient before, zero and coefficient after.
    EXPECT_TRUE(has_row(text, "1 512 1,0234 505 0,9871")) << text;
    EXPECT_TRUE(has_row(text, "2 498 0,9981 498 0,00005")) << text;

    const std::string fonts = output_of("pdffonts '" + path + "' 2>'" + dir + "/pdffonts.err'");
    for (const char* font : {"DejaVuSans,", "DejaVuSans-Bold,"}) {
        const std::string row = line_with(fonts, font);
        ASSERT_FALSE(row.empty()) << fonts;
        EXPECT_EQ(split(row).at(4), "yes") << row;  // name, type (two words), encoding, emb
    }
}

TEST_F(ProtocolFiles, LongTablesGoOnToTheNextPageUnderTheirHeader)
{
    Protocol p = sample();
    p.as_left.reset();
    // A line's text without a blank, wider than its column: cut, not run off the page.
    p.unit.line = "tcp://" + std::string(150, '7') + ":502";
    ChannelCheck& c = p.as_found->channels[0];
    c.points.clear();
    for (int k = -10; k <= 110; k += 2)
        c.points.push_back(point(k, 2.5 * k, 2.5 * k + 0.25, 2.5 * k, 2.5 * k + 0.5, 0.1, 0.5));
    const std::string path = dir + "/long.pdf";
    ASSERT_EQ(write_protocol_pdf(p, path), "");
    const std::string text = text_of(path);
    EXPECT_NE(text.find("лист 2 из 3"), std::string::npos) << text;
    EXPECT_NE(text.find("Канал 1, Проверка до калибровки, 11.12.2026 13:50:00 (продолжение)"), std::string::npos);
    EXPECT_EQ(count_of(text, "Точка, %"), 3u);  // channel 1 twice, channel 2 once
    EXPECT_TRUE(has_row(text, "-10 -25,0000 -24,7500 0,2500 0,100 годен")) << text;
    EXPECT_TRUE(has_row(text, "110 275,0000 275,2500 0,2500 0,100 годен")) << text;
    EXPECT_NE(text.find("Заключение: не годен"), std::string::npos);
    EXPECT_NE(line_with(text, "Линия:").find("tcp://777"), std::string::npos) << text;
    EXPECT_NE(text.find("7777:502\n"), std::string::npos) << text;
}

TEST_F(ProtocolFiles, AFailureIsOneLineAndLeavesWhatWasThere)
{
    const std::string path = dir + "/p.pdf";
    put(path, "old");
    const Protocol p = sample();

    // No fonts where they are looked for.
    ::setenv("VARNOK_FONT_DIR", (dir + "/fonts").c_str(), 1);
    EXPECT_EQ(write_protocol_pdf(p, path), "файл " + path + " не записан: нет шрифта " + dir + "/fonts/DejaVuSans.ttf");
    EXPECT_EQ(content_of(path), "old");

    // Fonts that libharu cannot read: its error becomes the line, and nothing aborts.
    fs::create_directory(dir + "/fonts");
    put(dir + "/fonts/DejaVuSans.ttf", std::string(4096, 'x'));
    put(dir + "/fonts/DejaVuSans-Bold.ttf", std::string(4096, 'x'));
    const std::string broken = write_protocol_pdf(p, path);
    EXPECT_EQ(broken.rfind("файл " + path + " не записан: шрифт " + dir + "/fonts/DejaVuSans.ttf не загружен: ", 0), 0u)
        << broken;
    EXPECT_EQ(broken.find('\n'), std::string::npos);
    EXPECT_EQ(content_of(path), "old");
    ::unsetenv("VARNOK_FONT_DIR");

    // A folder at the target.
    const std::string folder = dir + "/folder.pdf";
    fs::create_directory(folder);
    const std::string refused = write_protocol_pdf(p, folder);
    EXPECT_EQ(refused.rfind("файл " + folder + " не записан: ", 0), 0u) << refused;
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_EQ(entries(), 3u);  // p.pdf, fonts, folder.pdf: no temporary file

    // The fonts back: the old file is replaced whole.
    ASSERT_EQ(write_protocol_pdf(p, path), "");
    EXPECT_EQ(content_of(path).rfind("%PDF-", 0), 0u);
}

TEST_F(ProtocolFiles, CsvHasAHeaderAndARowPerPointInTheSpreadsheetDialect)
{
    Protocol p = sample();
    p.engineer = "Петров; \"старший\"";
    const std::string csv = protocol_csv(p);
    ASSERT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
    std::vector<std::string> rows;
    for (size_t at = 3, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2)
        rows.push_back(csv.substr(at, end - at));
    ASSERT_EQ(rows.size(), 11u);  // the header, 5 points as found, 5 as left
    EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
    EXPECT_EQ(rows[0],
              "Протокол;Дата;Прибор;Версия;Заводской номер;Сетевой номер;Линия;Поверитель;Эталон;Номер эталона;"
              "Эталон поверен до;Проверка;Начало проверки;Допуск, %;Канал;Единица;Шкала;Ноль;Коэффициент;Точка, %;"
              "Номинал;Эталон;Отсчётов;Взято;Среднее;Минимум;Максимум;СКО;Погрешность;Приведённая погрешность, %;"
              "Заключение по точке;Отказ;Заключение по каналу;Заключение");
    const std::string unit = "ЗН-0427-20261211-140523;11.12.2026 14:05:23;Варнок-3;2.0.3.6;ЗН-0427;7;"
                             "/dev/ttyUSB0 9600 8N1;\"Петров; \"\"старший\"\"\";Калибратор КЛ-1;1234;01.03.2027;";
    EXPECT_EQ(rows[2], unit + "до калибровки;11.12.2026 13:50:00;0,5;1;В;250;512;1,0234;50;125,0000;125,0000;3;3;"
                              "128,7500;128,7000;128,8000;0,0500;3,7500;1,500;не годен;;не годен;годен");
    EXPECT_EQ(rows[5], unit + "до калибровки;11.12.2026 13:50:00;0,5;2;мА;250;498;0,9981;50;125,0000;125,0000;3;1;"
                              ";;;;;;не годен;нет ответа на чтение регистров 0x4C-0x4D;не годен;годен");
    EXPECT_EQ(rows[10], unit + "после калибровки;11.12.2026 14:02:10;0,5;2;мА;250;498;0,00005;50;125,0000;125,0000;3;"
                               "3;124,9000;124,8000;125,0000;0,1000;-0,1000;-0,040;годен;;годен;годен");

    // The protocol's number: the factory number, else the network number, and the time of issue.
    EXPECT_EQ(protocol_number({"", "", " 17/B ", 7, ""}, "2026-01-02 03:04:05"), "17/B-20260102-030405");
    EXPECT_EQ(protocol_number({"", "", "  ", 7, ""}, "2026-01-02 03:04:05"), "№7-20260102-030405");
}

}  // namespace
