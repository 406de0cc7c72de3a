#include "cli/host.h"

#include <csignal>
#include <clocale>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

namespace varnok::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int) { g_interrupted = 1; }

}  // namespace

const char* const kSettingsPlace = "~/.config/varnok.ini";
const char* const kHistoryPlace = "~/.local/share/varnok/history.sqlite";

void catch_interrupt()
{
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool interrupted() { return g_interrupted != 0; }

std::string iso_time(std::chrono::system_clock::time_point t)
{
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &tm);
    std::string s = buf;
    return s.insert(s.size() - 2, ":");
}

std::string sheet_time(std::chrono::system_clock::time_point t)
{
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
    return buf;
}

Separators regional_separators()
{
    // The tool itself runs in the C locale; the user's numeric conventions are asked for aside.
    char decimal = '.';
    if (const locale_t user = newlocale(LC_NUMERIC_MASK, "", locale_t(0))) {
        const char* radix = nl_langinfo_l(RADIXCHAR, user);
        if (radix && radix[0] == ',' && radix[1] == '\0')
            decimal = ',';
        freelocale(user);
    }
    // Where the comma is the decimal separator, spreadsheets separate fields with ';'.
    return {decimal == ',' ? ';' : ',', decimal};
}

const bool kSheetCsvByDefault = false;

void fine_timer() {}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

std::vector<std::string> command_line(int argc, char** argv) { return {argv + 1, argv + argc}; }

}  // namespace varnok::cli
