// varnok-cli: the device from a terminal and a script.
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_table.h"
#include "cli/session.h"
#include "cli/standard_output.h"

int main(int argc, char** argv)
{
    using namespace varnok::cli;
    std::setlocale(LC_ALL, "C");
    catch_interrupt();
    fine_timer();
    const auto command = [&]() -> int {
        try {
            const std::vector<std::string> args = command_line(argc, argv);
            // Not in the help: the build makes the installed completion file with it.
            if (args.size() == 1 && args.front() == "--bash-completion") {
                put_stdout(bash_completion());
                return kExitOk;
            }
            const Options o = parse_options(args);
            if (o.version) {
                put_stdout(std::string("varnok-cli ") + VARNOK_VERSION + "\n");
                return kExitOk;
            }
            if (o.help || o.command_help || o.command.empty()) {
                put_stdout(help_text(o.help || o.command.empty() ? "" : o.command));
                return o.command.empty() && !o.help ? kExitUsage : kExitOk;
            }
            return run(o);
        } catch (const UsageError& e) {
            std::fprintf(stderr, "varnok-cli: %s\n", e.what());
            return kExitUsage;
        }
    };
    // Whatever the command did, output that did not reach standard output fails it.
    return close_stdout(command());
}
