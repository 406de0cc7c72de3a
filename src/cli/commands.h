#pragma once
// The commands of varnok-cli, as the rows of the command table run them. Each checks what
// needs no device and returns its job; what the job finds goes to standard output, messages
// to standard error.

#include <cstdint>
#include <vector>

#include "cli/command_table.h"
#include "cli/commission.h"
#include "cli/value.h"

namespace varnok::cli {

Job scan_command(const Invocation& call);
Job info_command(const Invocation& call);
Job read_command(const Invocation& call);
Job set_command(const Invocation& call);
Job save_command(const Invocation& call);
Job load_command(const Invocation& call);
Job history_command(const Invocation& call);
Job protocol_command(const Invocation& call);

// A command's result on standard output: aligned text, or JSON with --json.
void print(const Options& o, const Value& v);
// The devices -a names, or the one of the settings file.
std::vector<uint8_t> addresses_of(const Options& o, const Session& s);

}  // namespace varnok::cli
