#pragma once
// A private log file of the user's: the file opened for appending only when it is a regular
// file (never through a link, never a FIFO), and the old files of its folder listed and removed
// by name (file_io::make_folder makes the folder). Paths are UTF-8 on every platform.

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::log_file {

// The folder logs go to: $XDG_STATE_HOME/varnok when that variable holds an absolute path,
// else $HOME/.local/state/varnok; on Windows %LOCALAPPDATA%\varnok.
std::string state_folder();

// The names of the regular files in `dir` (none when it cannot be read).
std::vector<std::string> file_names(const std::string& dir);
// Removes `dir`/`name`; a file that will not go stays, unremarked.
void remove(const std::string& dir, const std::string& name);

class Appender {
public:
    Appender() = default;
    Appender(const Appender&) = delete;
    Appender& operator=(const Appender&) = delete;
    ~Appender() { close(); }

    // Opens `path` for appending: created private to the user when missing, refused with what it
    // is when it is a link, a FIFO or anything but a regular file, and when it is another user's
    // or anyone may write to it (file_io::unfit_target).
    bool open(const std::string& path, std::string& reason);
    bool is_open() const;
    // The whole of `data`, or false with the reason.
    bool append(const std::string& data, std::string& reason);
    void close();

private:
    intptr_t h_ = -1;  // the file descriptor, or on Windows the file's handle
};

}  // namespace varnok::log_file
