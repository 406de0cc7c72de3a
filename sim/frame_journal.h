#pragma once
// The simulator's journal of frames and notes.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace varnok::sim {

// Frames and notes with a wall-clock time stamp, one per line.
class FrameJournal {
public:
    FrameJournal() = default;
    FrameJournal(const FrameJournal&) = delete;
    FrameJournal& operator=(const FrameJournal&) = delete;
    ~FrameJournal();
    std::string open(const std::string& where);  // "-" is standard error
    void frame(const char* direction, std::span<const uint8_t> bytes);
    void note(const std::string& text);

private:
    void stamp();
    FILE* f_ = nullptr;
    bool own_ = false;
};

}  // namespace varnok::sim
