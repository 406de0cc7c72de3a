#pragma once
// The spool's folder as the system keeps it: made the user's alone, checked, held by one run,
// and the few file operations the queue needs, each on a name in that folder, never through a
// link. spool_files.cpp is the POSIX one, spool_files_win32.cpp the Windows one.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace varnok::cli::spool_files {

struct Folder;
struct FolderClose {
    void operator()(Folder* f) const;
};
using FolderPtr = std::unique_ptr<Folder, FolderClose>;

// Makes `dir` (private to the user) where missing, checks it and takes its lock. Throws
// std::runtime_error with the reason, naming the folder.
FolderPtr open(const std::filesystem::path& dir);

struct Listed {
    std::string name;
    bool regular;  // a plain file, not a link, a folder or a device
    uint64_t use;  // its disk use, when regular
};
// The names in the folder; a *.tmp (a write cut short) is removed, not listed.
std::vector<Listed> list(Folder& f);

// `data` written as `name`: aside first, flushed to the disk, then renamed, so that a cut leaves
// the whole file or none. The disk use, or false with the OS's reason.
bool write(Folder& f, const std::string& name, const std::string& data, uint64_t& use, std::string& reason);

enum class Read { kOk, kGone, kBad };
// A regular file of at most `limit` bytes read whole; kBad with `why` for anything else
// (never waiting on a FIFO or following a link); kGone when it is not there.
Read read(Folder& f, const std::string& name, size_t limit, std::string& text, std::string& why);

void remove(Folder& f, const std::string& name);

// "" once renamed, else the OS's reason.
std::string rename(Folder& f, const std::string& from, const std::string& to);

// The tool's own state folder: $XDG_STATE_HOME/varnok or ~/.local/state/varnok;
// %LOCALAPPDATA%\varnok on Windows. Throws std::runtime_error when there is none.
std::filesystem::path state_dir();

}  // namespace varnok::cli::spool_files
