#pragma once
// Commissioning a batch: one sheet row per device, each written, verified by reading back and
// reported in a file that a re-run continues from.

#include "cli/command_table.h"
#include "cli/sheet.h"

namespace varnok::cli {

Job commission_command(const Invocation& call);

}  // namespace varnok::cli
