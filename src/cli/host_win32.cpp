#include "cli/host.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <io.h>
#include <mmsystem.h>
#include <shellapi.h>

#include "settings/utf16.h"

namespace varnok::cli {

namespace {

std::atomic<bool> g_interrupted{false};

// Runs on a thread of its own: Ctrl-C, Ctrl-Break and the console being closed.
BOOL WINAPI on_interrupt(DWORD /*event*/)
{
    g_interrupted = true;
    return TRUE;
}

// One ASCII character of the user's regional settings, or `fallback` where it is longer or not ASCII.
char regional_char(LCTYPE what, char fallback)
{
    wchar_t buf[8] = {};
    if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, what, buf, 8) == 2 && buf[0] > 0x20 && buf[0] < 0x7F)
        return char(buf[0]);
    return fallback;
}

}  // namespace

const char* const kSettingsPlace = "%APPDATA%\\varnok\\varnok.ini";
const char* const kHistoryPlace = "%LOCALAPPDATA%\\varnok\\history.sqlite";

void catch_interrupt() { SetConsoleCtrlHandler(on_interrupt, TRUE); }

bool interrupted() { return g_interrupted; }

std::string iso_time(std::chrono::system_clock::time_point t)
{
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_s(&tm, &tt);
    // The C library's %z gives the zone's name here; the offset is the local time read as UTC.
    const long offset = long(_mkgmtime(&tm) - tt) / 60;
    char buf[48];
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(buf + n, sizeof buf - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    return buf;
}

std::string sheet_time(std::chrono::system_clock::time_point t)
{
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_s(&tm, &tt);
    char buf[40];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
    return buf;
}

Separators regional_separators()
{
    const char decimal = regional_char(LOCALE_SDECIMAL, '.');
    char list = regional_char(LOCALE_SLIST, decimal == ',' ? ';' : ',');
    // A list separator equal to the decimal one would split every number.
    if (list == decimal)
        list = decimal == ',' ? ';' : ',';
    return {list, decimal};
}

const bool kSheetCsvByDefault = true;

void fine_timer() { timeBeginPeriod(1); }

bool stderr_is_terminal()
{
    // A console that takes the escape sequences the progress line uses (Windows 10 and later).
    const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!_isatty(_fileno(stderr)) || !GetConsoleMode(h, &mode))
        return false;
    return SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> command_line(int /*argc*/, char** /*argv*/)
{
    // Cyrillic text in cmd.exe and PowerShell: the program writes UTF-8 and the console shows it.
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    int n = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &n);
    std::vector<std::string> args;
    for (int i = 1; words && i < n; ++i)
        args.push_back(utf8_of(words[i]));
    LocalFree(words);
    return args;
}

}  // namespace varnok::cli
