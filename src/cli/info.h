#pragma once
// What `info` shows of a device, as printable values.

#include "cli/value.h"
#include "ops/polling.h"

namespace varnok::cli {

class Session;

// Reads everything `info` shows from the addressed device; `failed` is set when a read failed
// (its value stays null). A device that gives neither its name nor its version is taken for
// absent: nothing more is asked of it.
Value read_info(Session& s, bool& failed);

// Each channel's scale (as the indicator shows it), point, unit and setpoints, as the poll
// `poll` read them; null where it did not.
Value channel_settings(const Device& d, const PollResult& poll);

}  // namespace varnok::cli
