#include "sim/frame_journal.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/time.h>

namespace varnok::sim {

FrameJournal::~FrameJournal()
{
    if (own_ && f_)
        std::fclose(f_);
}

std::string FrameJournal::open(const std::string& where)
{
    if (where == "-") {
        f_ = stderr;
        return {};
    }
    f_ = std::fopen(where.c_str(), "a");
    if (!f_)
        return "open " + where + ": " + std::strerror(errno);
    own_ = true;
    return {};
}

void FrameJournal::stamp()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char s[32];
    std::strftime(s, sizeof s, "%H:%M:%S", &local);
    std::fprintf(f_, "%s.%06ld ", s, long(tv.tv_usec));
}

void FrameJournal::frame(const char* direction, std::span<const uint8_t> bytes)
{
    if (!f_)
        return;
    stamp();
    std::fputs(direction, f_);
    for (const uint8_t b : bytes)
        std::fprintf(f_, " %02X", unsigned(b));
    std::fputc('\n', f_);
    std::fflush(f_);
}

void FrameJournal::note(const std::string& text)
{
    if (!f_)
        return;
    stamp();
    std::fprintf(f_, "%s\n", text.c_str());
    std::fflush(f_);
}

}  // namespace varnok::sim
