#pragma once
// What `info` shows of a device, as printable values.

#include "cli/value.h"

namespace varnok::cli {

class Session;

// Reads everything `info` shows from the addressed device; `failed` is set when a read failed
// (its value stays null). A device that gives neither its name nor its version is taken for
// absent: nothing more is asked of it.
Value read_info(Session& s, bool& failed);

}  // namespace varnok::cli
