// The command table as the user meets it: the man page names its commands and options, the
// help is laid out from it, and the bash completion made from it completes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "cli/command_table.h"

namespace varnok::test {
namespace {

using namespace varnok::cli;

// Option names and whether each takes a value.
using Named = std::map<std::string, bool>;

std::string unescaped(std::string s)
{
    for (size_t at = s.find("\\-"); at != std::string::npos; at = s.find("\\-", at))
        s.erase(at, 1);
    return s;
}

// The man page's sections: the lines after each ".TP" under the heading.
std::vector<std::string> entries(const std::string& page, const std::string& heading)
{
    std::istringstream in(page);
    std::vector<std::string> out;
    bool inside = false, next = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0)
            inside = line == ".SH " + heading;
        else if (inside && next)
            out.push_back(line);
        next = inside && line == ".TP";
    }
    return out;
}

std::string run_capture(const std::string& command)
{
    std::FILE* p = ::popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    if (p)
        ::pclose(p);
    return out;
}

TEST(CommandTable, TheManPageNamesTheSameCommandsAndOptions)
{
    std::ifstream in(VARNOK_MAN_PAGE);
    std::stringstream page;
    page << in.rdbuf();
    ASSERT_FALSE(page.str().empty());

    // ".B \-\-fast", or "\fB\-p\fR, \fB\-\-port\fR \fIПОРТ\fR": every name the entry gives.
    const std::regex option(R"(\\fB(\\-[^\\]*(?:\\-[^\\]*)*)\\fR( \\fI)?)");
    Named connection, expected_connection;
    for (const std::string& e : entries(page.str(), "ПАРАМЕТРЫ СВЯЗИ")) {
        const bool valued = e.find("\\fI") != std::string::npos || e.rfind(".BI ", 0) == 0;
        if (e.rfind(".B", 0) == 0) {
            const std::string rest = e.substr(e.find(' ') + 1);
            connection[unescaped(rest.substr(0, rest.find(' ')))] = valued;
        }
        for (std::sregex_iterator m(e.begin(), e.end(), option), end; m != end; ++m)
            connection[unescaped((*m)[1])] = valued;
    }
    for (const OptionRow& o : connection_options()) {
        expected_connection[o.name] = !o.value.empty();
        if (!o.long_name.empty())
            expected_connection[o.long_name] = !o.value.empty();
    }
    EXPECT_EQ(connection, expected_connection);

    // "\fBload\fR \fIФАЙЛ\fR [\fB\-\-only\fR \fIРАЗДЕЛЫ\fR] ..." or ".B info"
    std::map<std::string, Named> commands, expected;
    for (const std::string& e : entries(page.str(), "КОМАНДЫ")) {
        const std::string name = e.rfind(".B ", 0) == 0 ? e.substr(3) : e.substr(3, e.find("\\fR") - 3);
        Named& options = commands[name];
        for (std::sregex_iterator m(e.begin(), e.end(), option), end; m != end; ++m)
            options[unescaped((*m)[1])] = (*m)[2].matched;
    }
    for (const CommandRow& c : command_rows())
        for (Named& options = expected[c.name]; const OptionRow& o : c.options)
            options[o.name] = !o.value.empty();
    EXPECT_EQ(commands, expected);
}

TEST(CommandTable, TheHelpIsLaidOutFromTheRows)
{
    const std::string tool = help_text("");
    EXPECT_NE(tool.find("  -s, --stopbits СТОПБИТ  1 или 2\n"
                        "  -a, --address НОМЕР     номер прибора 1..247; для info и read список: -a 3,17\n"
                        "  --fast                  быстрый обмен\n"
                        "  --settings ФАЙЛ         файл настроек вместо ~/.config/varnok.ini\n"),
              std::string::npos)
        << tool;
    EXPECT_NE(tool.find("  read           показания каналов и частота, строка на опрос\n"
                        "  set ИМЯ=ЗНАЧЕНИЕ...  записать параметры прибора\n"
                        "  save ФАЙЛ      конфигурация прибора в файл\n"),
              std::string::npos)
        << tool;
    // A synopsis too long for a line goes on below the command.
    EXPECT_EQ(help_text("read").substr(0, help_text("read").find("\n\n")),
              "varnok-cli [параметры связи] read [--every СЕКУНД] [--count N] [--out ФАЙЛ.csv]\n"
              "                [--csv standard|excel] [--mqtt mqtt://[ИМЯ[:ПАРОЛЬ]@]УЗЕЛ[:ПОРТ]/ПРЕФИКС]\n"
              "                [--password-file ФАЙЛ] [--cafile ФАЙЛ] [--spool-size РАЗМЕР]\n"
              "                [--ha-discovery] [--line ИМЯ]");
    EXPECT_EQ(help_text("load").substr(0, help_text("load").find('\n')),
              "varnok-cli [параметры связи] load ФАЙЛ [--dry-run] [--only РАЗДЕЛЫ] [--with-calibration]");
    EXPECT_EQ(help_text("frobnicate"), "");
}

// The script the tool prints, run by bash with the few helpers of bash-completion it calls
// standing in: file names show as <files>.
TEST(CommandTable, TheCompletionCompletesCommandsOptionsAndValues)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"varnok-cli s", "scan set save"},
        {"varnok-cli -b 1", "19200 115200"},
        {"varnok-cli -p C", "COM1 COM2 COM3 COM4 <files>"},
        {"varnok-cli -a 3 load --o", "--only <files>"},
        {"varnok-cli load f --only s", "scales setpoints"},
        {"varnok-cli set sc", "scale1= scale2= scale3= (nospace)"},
        {"varnok-cli read --c", "--count --csv --cafile"},
        {"varnok-cli read --csv ", "standard excel"},
        {"varnok-cli read --l", "--line"},
        {"varnok-cli scan --speed a", "all"},
        {"varnok-cli commission --report ", "<files>"},
        {"varnok-cli commission t", "<files csv>"},
        {"varnok-cli --speed 1", "19200 115200"},
        {"varnok-cli --par", "--parity"},
        {"varnok-cli info --add", "--address"},
        {"varnok-cli info -P e", "even"},
        {"varnok-cli scan --speed 1", "19200 115200"},
        {"varnok-cli --v", "--version"},
    };
    std::string script =
        "_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};"
        " words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD; }\n"
        "_filedir() { COMPREPLY+=(\"<files${1:+ $1}>\"); }\n"
        "compopt() { nospace=' (nospace)'; }\n"
        "complete() { :; }\n"
        "eval \"$(\"$1\" --bash-completion)\"\n"
        "try() { read -ra COMP_WORDS <<<\"$1\"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1));"
        " [ \"${1: -1}\" = ' ' ] && COMP_WORDS+=('') && COMP_CWORD=$((COMP_CWORD + 1));"
        " COMPREPLY=(); nospace=; _varnok_cli; echo \"${COMPREPLY[*]}$nospace\"; }\n";
    for (const auto& [line, completed] : cases)
        script += "try '" + line + "'\n";
    const std::string file = ::testing::TempDir() + "varnok-completion-" + std::to_string(::getpid()) + ".sh";
    std::ofstream(file) << script;
    std::istringstream out(run_capture("bash " + file + " " VARNOK_CLI_PATH " 2>&1"));
    std::remove(file.c_str());
    for (const auto& [line, completed] : cases) {
        std::string got;
        std::getline(out, got);
        EXPECT_EQ(got, completed) << line;
    }
}

}  // namespace
}  // namespace varnok::test
