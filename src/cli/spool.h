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

namespace varnok::cli {

class Spool {
public:
    // Creates the folder, takes its lock and picks up what an earlier run left. Throws
    // std::runtime_error with the reason.
    Spool(std::filesystem::path dir, uint64_t limit_bytes);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Appends a message, dropping the oldest ones past the limit; returns how many were dropped.
    // Throws std::runtime_error when the file cannot be written.
    size_t push(const std::string& message);
    struct Entry {
        uint64_t seq;
        std::string text;
    };
    // The oldest message, if any; one whose file went missing or empty is removed.
    std::optional<Entry> front();
    // Removes message `seq` once it is delivered; nothing if it was dropped meanwhile.
    void pop(uint64_t seq);
    size_t size() const;
    uint64_t bytes() const;
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path file(uint64_t seq) const;

    std::filesystem::path dir_;
    uint64_t limit_;
    int lock_fd_ = -1;
    mutable std::mutex mutex_;
    std::deque<std::pair<uint64_t, uint64_t>> entries_;  // seq, size
    uint64_t bytes_ = 0;
    uint64_t next_ = 1;
};

// $XDG_STATE_HOME/varnok, else ~/.local/state/varnok.
std::filesystem::path state_dir();

}  // namespace varnok::cli
