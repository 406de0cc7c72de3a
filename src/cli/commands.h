#pragma once
// The commands of varnok-cli. Each returns its exit code; what it found goes to standard
// output, messages to standard error.

#include "cli/options.h"

namespace varnok::cli {

int run(const Options& o);

// The help of the tool, or of one command; empty for a command the tool does not know.
std::string help_text(const std::string& command);

}  // namespace varnok::cli
