#pragma once
// The Modbus RTU master: request frames of functions 1, 2, 3, 4 and 16, the exchange over
// the link, and the check of each answer against its request.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "link/link.h"
#include "modbus/crc.h"
#include "modbus/errors.h"
#include "modbus/register_sink.h"

namespace varnok {

inline constexpr uint8_t kReadCoils = 1;
inline constexpr uint8_t kReadDiscreteInputs = 2;
inline constexpr uint8_t kReadHoldingRegisters = 3;
inline constexpr uint8_t kReadInputRegisters = 4;
inline constexpr uint8_t kWriteMultipleRegisters = 16;

// Largest counts whose frames fit the 64-byte buffers: a read answer is received from
// index 2 (2 * 28 + 5 bytes), a write request takes 9 + 2 * 27 bytes from index 1.
inline constexpr uint16_t kMaxReadCount = 28;
inline constexpr uint16_t kMaxWriteCount = 27;

class ModbusMaster {
public:
    ModbusMaster(Link& link, RegisterSink& sink);

    Frame ozuper{};
    uint8_t dl_note = 8;
    Frame buf{};
    uint8_t dl_otvet = 9;
    uint8_t kol_wait_bytes = 20;
    uint8_t func = 0;
    uint16_t na_reg = 0;
    uint16_t kol_reg = 0;
    uint16_t cs_CRC = 0;
    std::array<uint16_t, 11> zn_word{};  // values of a multi-register write, index 1..10

    // Frame builders; false (and nothing built) when the frame would not fit its buffer.
    bool form_inf_part_rtu_read(uint8_t fun, uint16_t na, uint16_t kol);
    bool form_inf_part_rtu_multi(uint8_t fun, uint16_t na, uint16_t kol, std::span<const uint16_t> zn);

    // Requests: build, transmit, receive into `buf`/`dl_otvet`. A refused frame sends
    // nothing and leaves an empty answer, which the check reports as no answer.
    void opros_coils(uint16_t na, uint16_t kol);
    void opros_discret_inputs(uint16_t na, uint16_t kol);
    void opros_registers(uint8_t fun, uint16_t na, uint16_t kol);
    void write_holding_registers(uint16_t na, uint16_t kol, uint16_t zn);
    // Writes the first `kol` values of `zn` (the console passes `zn_word` from index 1).
    void write_holding_2registers(uint16_t na, uint16_t kol, std::span<const uint16_t> zn);

    // Receives one more answer to the request already sent (a device that said it is busy).
    void receive_again();

    uint8_t obrab_buf_coils();
    uint8_t obrab_buf_discret_inputs();
    uint8_t obrab_buf_read_holding_registers(uint16_t na, uint16_t kol_reg);
    uint8_t obrab_buf_input_registers(uint16_t na, uint16_t kol_reg);
    uint8_t obrab_buf_write_holding_registers(uint16_t na, uint16_t kol_reg);

    // The error line of a failed exchange: request, reason, received bytes.
    std::string msg_buf_error(uint8_t err) const;

    Link& link;

private:
    void frame_head(uint8_t fun, uint16_t na, uint16_t kol);
    void frame_crc(size_t body);
    void read_request(uint8_t fun, uint16_t na, uint16_t kol);
    void refuse();
    uint8_t check_frame(uint8_t fun) const;
    bool crc_matches(size_t n) const;
    uint8_t check_bits(uint8_t fun);
    uint8_t check_registers(uint8_t fun, uint16_t na, uint16_t kol);
    uint8_t check_write(uint16_t na, uint16_t kol) const;
    uint8_t checked(uint8_t code);

    RegisterSink& sink_;
};

}  // namespace varnok
