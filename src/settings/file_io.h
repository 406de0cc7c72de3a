#pragma once
// Plain file operations the settings file needs: read a small text file whole, replace a
// file atomically, and notice that a file was changed by someone else.

#include <cstdint>
#include <cstdio>
#include <string>

namespace varnok::file_io {

// Identity and last change of a file, to tell whether it was replaced or edited meanwhile.
struct Stamp {
    bool present = false;
    uint64_t dev = 0, ino = 0;
    int64_t size = 0, mtime_ns = 0;
    bool operator==(const Stamp&) const = default;
};

// Where the settings file lives when no other place is given: $XDG_CONFIG_HOME/varnok.ini
// (an absolute XDG_CONFIG_HOME only), else $HOME/.config/varnok.ini (an absolute HOME only, else
// the home the user database gives); on Windows
// %APPDATA%\varnok\varnok.ini. Paths are UTF-8 on every platform.
std::string default_settings_path();

// Stamp of what `path` names now (following links); not present when nothing is there.
Stamp stamp_of(const std::string& path);

// Reads a regular file of at most `limit` bytes into `data`. On failure returns false and
// puts the reason (Russian, the OS reason where there is one) into `reason`.
bool read_whole(const std::string& path, size_t limit, std::string& data, Stamp& stamp, std::string& reason);

// The first and the last `count` bytes of a regular file (all of it, twice, when shorter), to
// look at a large file's header and last line without reading it whole. Anything else (a
// pipe, a terminal, a folder) has no ends: both come back empty. On failure returns false
// with the reason.
bool read_ends(const std::string& path, size_t count, std::string& head, std::string& tail, std::string& reason);

// Replaces `path` with `data` so that a crash leaves either the old or the new content:
// a temporary file in the same folder is written, synced and renamed over it. A link is
// followed, so the file it points at is replaced (or created, when the link dangles) and
// the link stays; the folder is created (mode 0700) when missing; an existing file keeps its
// permissions, a new one is 0644 less the umask, and either way it is the writer's. What
// check_target() refuses is left as it is. Temporary files that writers killed before their rename left there are
// removed. On Windows the temporary file is written through and moved over the old one; the
// folder's permissions are the new file's, and links are not followed.
// Links are followed only as the kernel's protected_symlinks allows, whatever the system's
// setting: a link in a sticky world-writable folder (/tmp) that belongs neither to this user
// nor to the folder's owner is refused, with a reason that names it. The same holds for every
// link met on the way, and for the two functions below.
bool replace(const std::string& path, const std::string& data, Stamp& stamp, std::string& reason);

// Opens `path` for writing as fopen() with "wb" (emptied) or "ab" (`append`) does, so that line
// ends reach the file as written; creates the file (0644 less the umask) but no folder. Never
// waits in the open (a FIFO), and opens only what check_target() allows, and a pipe this process
// already has open (/dev/stdout, /dev/fd/N). nullptr with `reason` on failure.
std::FILE* open_for_writing(const std::string& path, bool append, std::string& reason);

// Whether a writer may continue or replace what `path` names now (links followed as replace()
// follows them): nothing there yet, or a regular file of this user's or root's that others may not
// write to. Otherwise false, with a reason that says what is there ("это символьное устройство, а не
// обычный файл") and, for a file, its owner and mode. On Windows: not a folder, not a device.
bool check_target(const std::string& path, std::string& reason);

#ifndef _WIN32
// The user's home: $HOME when it is absolute (a relative one would put files under whatever
// folder the program runs in), else the one the user database gives; "" when there is none.
std::string home_folder();

// The same judgement of what stat() says of a file: "" when it may be written to.
std::string unfit_target(unsigned mode, unsigned uid);
#endif

// Writes `data` to `file` whole, after what stdio still holds of it, bypassing its buffer; when the
// write fails a regular file is cut back to where it was, so that a record is there whole or not at
// all. False with the reason.
bool append_record(std::FILE* file, const std::string& data, std::string& reason);

// Puts what was written to `file` on the disk (fsync; FlushFileBuffers on Windows). False with the
// reason; a pipe or a terminal, which keeps nothing, is no failure.
bool sync(std::FILE* file, std::string& reason);

// Creates the folder `dir` and those above it (mode 0700) where missing; true when it is there.
bool make_folder(const std::string& dir, std::string& reason);

}  // namespace varnok::file_io
