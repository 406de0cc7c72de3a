#include "link/line_pair.h"

#include "support/pty.h"

namespace varnok::test {

struct LinePair::Far {
    Pty pty;
};

LinePair::LinePair() : far_(std::make_unique<Far>()) {}
LinePair::~LinePair() = default;

std::string LinePair::near_path() const { return far_->pty.slave_path(); }
void LinePair::feed(const std::vector<uint8_t>& bytes) { far_->pty.feed(bytes); }
void LinePair::feed_after(std::chrono::milliseconds delay, std::vector<uint8_t> bytes)
{
    far_->pty.feed_after(delay, std::move(bytes));
}

}  // namespace varnok::test
