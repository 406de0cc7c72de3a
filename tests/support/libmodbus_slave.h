#pragma once
// An RTU slave that no one here wrote: libmodbus serving a register table on the far side of
// a pseudo-terminal, on a thread of its own, while the test reads and writes `map`.

#include <atomic>
#include <modbus.h>
#include <thread>

namespace varnok::test {

class LibmodbusSlave {
public:
    // Serves at network number `address` on the descriptor `fd` (a pseudo-terminal's master).
    LibmodbusSlave(int fd, int address);
    ~LibmodbusSlave();
    LibmodbusSlave(const LibmodbusSlave&) = delete;
    LibmodbusSlave& operator=(const LibmodbusSlave&) = delete;

    void start();
    void stop();

    modbus_mapping_t* map = nullptr;

private:
    modbus_t* ctx_ = nullptr;
    std::thread server_;
    std::atomic<bool> stop_{false};
};

}  // namespace varnok::test
