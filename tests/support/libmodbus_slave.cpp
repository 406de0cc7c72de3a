#include "support/libmodbus_slave.h"

namespace varnok::test {

LibmodbusSlave::LibmodbusSlave(int fd, int address)
{
    map = modbus_mapping_new(3, 3, 0x804, 0x80);
    ctx_ = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    modbus_set_slave(ctx_, address);
    modbus_set_socket(ctx_, fd);
    modbus_set_indication_timeout(ctx_, 0, 20000);
}

LibmodbusSlave::~LibmodbusSlave()
{
    stop();
    modbus_set_socket(ctx_, -1);  // the pseudo-terminal is not libmodbus's to close
    modbus_free(ctx_);
    modbus_mapping_free(map);
}

void LibmodbusSlave::start()
{
    stop_ = false;
    server_ = std::thread([this] {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            const int rc = modbus_receive(ctx_, query);
            if (rc > 0)
                modbus_reply(ctx_, query, rc, map);
        }
    });
}

void LibmodbusSlave::stop()
{
    stop_ = true;
    if (server_.joinable())
        server_.join();
}

}  // namespace varnok::test
