#pragma once
// Marks a handler that is talking to the device, so that nothing else (a poll tick, the
// activation sequence) starts inside it while a message box or a pump lets events through.

namespace varnok {

class Busy {
public:
    explicit Busy(int& depth) : depth_(depth) { ++depth_; }
    ~Busy() { --depth_; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    int& depth_;
};

}  // namespace varnok
