#pragma once
// Two ends of one line: the port under test opens the near end, the test writes the far
// end. On Linux a pseudo-terminal; on Windows two COM ports joined to each other.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varnok::test {

class LinePair {
public:
    LinePair();
    ~LinePair();
    LinePair(const LinePair&) = delete;
    LinePair& operator=(const LinePair&) = delete;

    // What the port under test opens.
    std::string near_path() const;
    // Writes bytes at the far end now, or after a delay on a thread of its own.
    void feed(const std::vector<uint8_t>& bytes);
    void feed_after(std::chrono::milliseconds delay, std::vector<uint8_t> bytes);

private:
    struct Far;
    std::unique_ptr<Far> far_;
};

}  // namespace varnok::test
