#pragma once
// A request to the device and its exchange as values: the request's frame, the answer's
// bytes, how the receive ended and the error code. The answer checks are pure functions of
// a request and the bytes of its answer; they hand what a sound answer holds to a register sink.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/frame.h"
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

struct Request {
    uint8_t func = 0;
    uint16_t na_reg = 0;
    uint16_t kol_reg = 0;
    std::vector<uint16_t> zn_word;  // the values of a write, one per register
};

// The requests the device is sent: a read of registers (function 3 or 4), of coils, of
// discrete inputs; a write of one register, of several.
Request opros_registers(uint8_t fun, uint16_t na, uint16_t kol);
Request opros_coils(uint16_t na, uint16_t kol);
Request opros_discret_inputs(uint16_t na, uint16_t kol);
Request write_holding_registers(uint16_t na, uint16_t zn);
Request write_holding_2registers(uint16_t na, std::span<const uint16_t> zn);

struct Exchange {
    Request request;
    Frame ozuper{};            // the request's frame from index 1
    uint8_t dl_note = 0;       // its length; 0 when it was refused and nothing was sent
    uint16_t cs_CRC = 0;       // its checksum
    Frame buf{};               // the answer's bytes from index 1
    uint8_t dl_otvet = 0;      // how many came
    uint8_t kol_wait_bytes = 0;  // how many were expected
    uint8_t pr_out = 2;        // the hunt for the address byte: 0 first pass, 1 second pass, 2 none
    uint8_t err = kNoAnswer;   // the error code of the answer check
    bool stopped = false;      // a probe its caller's stop ended (err is then kInterrupted)

    std::span<const uint8_t> sent() const;
    std::span<const uint8_t> received() const;
    // What the answer check takes: the bytes received, none when no answer was found.
    std::span<const uint8_t> answer() const;
    bool ok() const { return err == kOk; }
    // The error line of a failed exchange: function, start register, reason, received bytes.
    std::string msg_buf_error() const;
};

// Build the request's frame to network number `sys_num` into `x`: a read, a write. False
// (and nothing built) when the frame would not fit its buffer or the values are fewer than
// the registers.
bool form_inf_part_rtu_read(uint8_t sys_num, Exchange& x);
bool form_inf_part_rtu_multi(uint8_t sys_num, Exchange& x);

// The length of an answer, address and CRC included, from its function code and the byte
// after it (0 when they do not tell it); an exception may be followed by the device's own answer.
FrameLength answer_length(uint8_t function, uint8_t third);

// The answer checks: `answer` from the address byte on (empty when none came), from the
// device numbered `sys_num`. A sound answer's values go to `sink`. Result: the error code.
uint8_t obrab_buf_coils(std::span<const uint8_t> answer, uint8_t sys_num, RegisterSink& sink);
uint8_t obrab_buf_discret_inputs(std::span<const uint8_t> answer, uint8_t sys_num, RegisterSink& sink);
uint8_t obrab_buf_read_holding_registers(std::span<const uint8_t> answer, uint8_t sys_num, uint16_t na,
                                         uint16_t kol, RegisterSink& sink);
uint8_t obrab_buf_input_registers(std::span<const uint8_t> answer, uint8_t sys_num, uint16_t na, uint16_t kol,
                                  RegisterSink& sink);
uint8_t obrab_buf_write_holding_registers(std::span<const uint8_t> answer, uint8_t sys_num, uint16_t na,
                                          uint16_t kol);
// The check of the request's function.
uint8_t obrab_buf(const Request& r, std::span<const uint8_t> answer, uint8_t sys_num, RegisterSink& sink);

// Bytes in hexadecimal as the exchange lines show them: "%.2X " each.
std::string hex_bytes(std::span<const uint8_t> bytes);

}  // namespace varnok
