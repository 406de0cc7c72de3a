#pragma once
// The files the command line names for the broker (--password-file, --cafile) as the system
// reads them: mqtt_files.cpp on POSIX systems, mqtt_files_win32.cpp on Windows.

#include <cstddef>
#include <string>

namespace varnok::cli {

// How a file named on the command line is read: a pipe or a FIFO as it comes, within 10 s.
struct Reading {
    size_t chunk;  // bytes per read
    size_t limit;  // more than this is `too_long`
    const char* too_long;
    const char* too_late;  // nothing came within 10 s
    bool one_line;         // ends at the first line's end
};

// `path` read whole without waiting for ever on a FIFO or a slow writer. Throws
// UsageError(head + the reason).
std::string read_without_waiting(const std::string& path, const std::string& head, const Reading& how);

// What MqttTarget::cafile holds for the TLS setup: the name of a copy of `text` that stays open
// for the run (POSIX), or the text itself (Windows, whose TLS setup reads it from memory).
// Throws UsageError(head + the reason).
std::string held_copy(const std::string& text, const std::string& head);

}  // namespace varnok::cli
