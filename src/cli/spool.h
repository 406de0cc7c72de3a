#pragma once
// The readings not yet taken by the broker, one file each in a folder of their own, named by
// their order: they outlive the run and go out first at the next one. The folder is held by one
// run at a time.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "cli/spool_files.h"

namespace varnok::cli {

class Spool {
public:
    // Creates the folder (mode 0700; on Windows an ACL with the user alone), takes its lock and
    // picks up what an earlier run left. Throws std::runtime_error with the reason: also for a
    // folder that is not the user's, or that others may write in or above (unless that one is
    // sticky, as /tmp is); on Windows for one whose ACL cannot be made the user's alone.
    Spool(std::filesystem::path dir, uint64_t limit_bytes);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Appends a message, synced to the disk, dropping the oldest ones past the limit; returns
    // how many were dropped. Throws std::runtime_error when the file cannot be written.
    size_t push(const std::string& message);
    struct Entry {
        uint64_t seq;
        std::string text;
    };
    // The oldest message, if any. A file gone meanwhile is passed over; one that cannot be read
    // (not a regular file, a link, empty, too long) is set aside.
    std::optional<Entry> front();
    // Removes message `seq` once it is delivered; nothing if it was dropped meanwhile.
    void pop(uint64_t seq);
    // Renames message `seq` to *.json.bad, out of the queue for good: it cannot go out.
    void set_aside(uint64_t seq, const std::string& why);
    size_t size() const;
    // The disk space the queued messages take (whole blocks, as the file system counts them).
    uint64_t bytes() const;
    // Files set aside since the start, their names and the problems in a line each.
    size_t set_aside_count() const;
    std::string set_aside_first() const;
    const std::filesystem::path& dir() const { return dir_; }

private:
    // What an earlier run left, in order; what cannot be sent set aside.
    void pick_up();
    void set_aside_locked(const std::string& name, const std::string& why);

    std::filesystem::path dir_;
    uint64_t limit_;
    spool_files::FolderPtr folder_;
    mutable std::mutex mutex_;
    std::deque<std::pair<uint64_t, uint64_t>> entries_;  // seq, disk use
    uint64_t bytes_ = 0;
    uint64_t next_ = 1;
    size_t aside_ = 0;
    std::string aside_first_;
};

// The spool folder of a topic, under the broker's: one name for one topic and no other (bytes
// other than letters, digits, '.', '-' and '_' as %XX), cut into folders of at most 200 bytes
// for the file system.
std::filesystem::path spool_folder(const std::string& topic);

// The topic of a spool folder (its path under the broker's folder), as spool_folder() made it.
std::string spool_topic(const std::filesystem::path& relative);

// $XDG_STATE_HOME/varnok, else ~/.local/state/varnok with the home from $HOME or, without it,
// the user's entry in the password database; %LOCALAPPDATA%\varnok on Windows. Throws
// std::runtime_error when there is none.
std::filesystem::path state_dir();

// A path as UTF-8 text, for messages.
std::string path_text(const std::filesystem::path& p);

}  // namespace varnok::cli
