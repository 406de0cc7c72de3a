#pragma once
// The command line of varnok-cli: connection options, the command and its arguments.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/configuration.h"

namespace varnok::cli {

// A command line the tool cannot run: its text is the message, the exit code is 2.
using UsageError = ValueError;

struct Options {
    std::optional<std::string> port;      // -p: "COMn", a device path, tcp://HOST:PORT
    std::optional<int32_t> speed;         // -b: one of the six speeds
    std::optional<uint8_t> parity;        // -P: 0 none, 1 odd, 2 even
    std::optional<uint8_t> stopbit;       // -s: 1 or 2
    std::vector<uint8_t> addresses;       // -a: 1..247, a list for info and read
    bool fast = false;                    // --fast
    std::optional<std::string> settings;  // --settings FILE
    std::optional<std::string> history;   // --history FILE: the unit's history database
    bool json = false;                    // --json
    bool verbose = false;                 // -v: every exchange on standard error
    bool help = false;                    // -h before the command: the tool's help
    bool command_help = false;            // -h after it: the command's
    bool version = false;                 // --version
    std::string command;
    // After the command: its own options (a value attached with '=' taken apart) and operands.
    std::vector<std::string> args;
};

// The connection options, before or after the command (its own options win a name both have:
// scan's --speed); the command's own arguments are left for it. Throws UsageError.
Options parse_options(const std::vector<std::string>& argv);

// "; может быть, read?" when one of `known` is a typing slip away from `typed`; else empty.
std::string maybe_meant(const std::string& typed, const std::vector<std::string>& known);

std::vector<uint8_t> parse_addresses(const std::string& text);

// A command's own options: "--name VALUE" pairs and flags, anything else positional.
class CommandArgs {
public:
    // `valued` lists the options that take a value, `flags` those that do not.
    CommandArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                const std::vector<std::string>& flags);
    std::optional<std::string> value(const std::string& name) const;
    bool flag(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    std::vector<std::pair<std::string, std::string>> values_;
    std::vector<std::string> flags_;
    std::vector<std::string> positional_;
};

// "10M", "512K", "2G", "100000": bytes; throws UsageError naming `what`.
uint64_t parse_size(const std::string& text, const std::string& what);

}  // namespace varnok::cli
