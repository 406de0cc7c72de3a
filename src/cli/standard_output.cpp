#include "cli/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/session.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

// Standard output is the process's one: so is what became of it.
bool g_failed = false;

void fail(const std::string& reason)
{
    if (!g_failed)
        std::fprintf(stderr, "стандартный вывод не записан: %s\n", reason.c_str());
    g_failed = true;
}

}  // namespace

bool put_stdout(const std::string& text)
{
    if (g_failed)
        return false;
    std::string reason;
    if (!file_io::append_record(stdout, text, reason))
        fail(reason);
    return !g_failed;
}

bool stdout_failed() { return g_failed; }

int close_stdout(int exit)
{
    if (!g_failed && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        fail(std::strerror(errno));
    // A file system may tell a lost write only at the close.
    if (std::fclose(stdout) != 0)
        fail(std::strerror(errno));
    return g_failed && exit == kExitOk ? kExitDevice : exit;
}

}  // namespace varnok::cli
