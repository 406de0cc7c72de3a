#include "cli/host.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

namespace varnok::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int) { g_interrupted = 1; }

}  // namespace

const char* const kSettingsPlace = "~/.config/varnok.ini";

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

void fine_timer() {}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

std::vector<std::string> command_line(int argc, char** argv) { return {argv + 1, argv + argc}; }

}  // namespace varnok::cli
