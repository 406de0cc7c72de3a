// varnok-cli: the device from a terminal and a script.
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_table.h"
#include "cli/session.h"

int main(int argc, char** argv)
{
    using namespace varnok::cli;
    std::setlocale(LC_ALL, "C");
    catch_interrupt();
    fine_timer();
    try {
        const std::vector<std::string> args = command_line(argc, argv);
        // Not in the help: the build makes the installed completion file with it.
        if (args.size() == 1 && args.front() == "--bash-completion") {
            std::fputs(bash_completion().c_str(), stdout);
            return kExitOk;
        }
        const Options o = parse_options(args);
        if (o.version) {
            std::printf("varnok-cli %s\n", VARNOK_VERSION);
            return kExitOk;
        }
        if (o.help || o.command_help || o.command.empty()) {
            const std::string text = help_text(o.help || o.command.empty() ? "" : o.command);
            std::fputs(text.c_str(), stdout);
            return o.command.empty() && !o.help ? kExitUsage : kExitOk;
        }
        return run(o);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "varnok-cli: %s\n", e.what());
        return kExitUsage;
    }
}
