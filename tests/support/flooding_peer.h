#pragma once
// A TCP peer on loopback that takes each connection, waits for its first request and then
// sends bytes without a pause until the connection closes or the peer is destroyed: a
// converter gone mad, or a hostile server.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace varnok::test {

class FloodingPeer {
public:
    // `flood` false: a peer that takes the requests and never answers.
    explicit FloodingPeer(bool flood = true, uint8_t byte = 0x55);
    ~FloodingPeer();
    FloodingPeer(const FloodingPeer&) = delete;
    FloodingPeer& operator=(const FloodingPeer&) = delete;

    // "tcp://127.0.0.1:PORT"; empty when the listener could not be made.
    std::string where() const;
    // Connections taken, and those whose first request came (a flood under way).
    int connections() const { return connections_; }
    int requests() const { return requests_; }
    long long sent() const { return sent_; }

private:
    void serve();

    int fd_ = -1;
    int port_ = 0;
    bool flood_;
    uint8_t byte_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0}, requests_{0};
    std::atomic<long long> sent_{0};
    std::thread thread_;
};

}  // namespace varnok::test
