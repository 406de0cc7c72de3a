#pragma once
// Standard output, checked: what the tool prints there is written whole, and a write that fails
// is told once on standard error with the reason and fails the command.

#include <string>

namespace varnok::cli {

// Writes `text` to standard output at once. After a failure (told once) nothing more is written,
// and false comes back.
bool put_stdout(const std::string& text);
// Whether a write to standard output failed.
bool stdout_failed();
// At the end of the command: standard output flushed and closed; 1 (kExitDevice) when anything
// written there was lost and `exit` was 0, else `exit`.
int close_stdout(int exit);

}  // namespace varnok::cli
