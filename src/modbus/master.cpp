#include "modbus/master.h"

#include <cstdio>

namespace varnok {

ModbusMaster::ModbusMaster(Link& l, RegisterSink& sink) : link(l), sink_(sink) {}

// Address, function, start and count: the first six bytes of every request.
void ModbusMaster::frame_head(uint8_t fun, uint16_t na, uint16_t kol)
{
    ozuper[1] = link.settings().sys_num;
    ozuper[2] = fun;
    ozuper[3] = static_cast<uint8_t>(na >> 8);
    ozuper[4] = static_cast<uint8_t>(na);
    ozuper[5] = static_cast<uint8_t>(kol >> 8);
    ozuper[6] = static_cast<uint8_t>(kol);
}

// The CRC of the `body` bytes from index 1, placed after them, low byte first.
void ModbusMaster::frame_crc(size_t body)
{
    cs_CRC = crc16(std::span<const uint8_t>(&ozuper[1], body));
    ozuper[body + 1] = static_cast<uint8_t>(cs_CRC);
    ozuper[body + 2] = static_cast<uint8_t>(cs_CRC >> 8);
    dl_note = static_cast<uint8_t>(body + 2);
}

bool ModbusMaster::form_inf_part_rtu_read(uint8_t fun, uint16_t na, uint16_t kol)
{
    if (kol > kMaxReadCount)
        return false;
    frame_head(fun, na, kol);
    frame_crc(6);
    return true;
}

bool ModbusMaster::form_inf_part_rtu_multi(uint8_t fun, uint16_t na, uint16_t kol, std::span<const uint16_t> zn)
{
    if (kol > kMaxWriteCount || zn.size() < kol)
        return false;
    frame_head(fun, na, kol);
    ozuper[7] = static_cast<uint8_t>(2 * kol);
    for (size_t i = 1; i <= kol; ++i) {
        ozuper[6 + 2 * i] = static_cast<uint8_t>(zn[i - 1] >> 8);
        ozuper[7 + 2 * i] = static_cast<uint8_t>(zn[i - 1]);
    }
    frame_crc(7 + 2 * size_t(kol));
    return true;
}

void ModbusMaster::refuse()
{
    dl_otvet = 0;
    buf[0] = 0;
    for (size_t i = 1; i <= kFillPositions; ++i)
        buf[i] = kFill;
    link.pr_out = 2;
}

void ModbusMaster::read_request(uint8_t fun, uint16_t na, uint16_t kol)
{
    if (!form_inf_part_rtu_read(fun, na, kol)) {
        refuse();
        return;
    }
    link.tuda(ozuper, dl_note);
    kol_wait_bytes = static_cast<uint8_t>(2 * kol + 5);
    link.suda(buf, dl_otvet, kol_wait_bytes);
}

void ModbusMaster::opros_coils(uint16_t na, uint16_t kol) { read_request(kReadCoils, na, kol); }

void ModbusMaster::opros_discret_inputs(uint16_t na, uint16_t kol) { read_request(kReadDiscreteInputs, na, kol); }

void ModbusMaster::opros_registers(uint8_t /*fun*/, uint16_t na, uint16_t kol) { read_request(func, na, kol); }

void ModbusMaster::write_holding_registers(uint16_t na, uint16_t kol, uint16_t zn)
{
    const uint16_t one[1] = {zn};
    write_holding_2registers(na, kol, std::span<const uint16_t>(one, 1));
}

void ModbusMaster::write_holding_2registers(uint16_t na, uint16_t kol, std::span<const uint16_t> zn)
{
    if (!form_inf_part_rtu_multi(kWriteMultipleRegisters, na, kol, zn)) {
        refuse();
        return;
    }
    link.tuda(ozuper, dl_note);
    kol_wait_bytes = 8;
    link.suda(buf, dl_otvet, kol_wait_bytes, 20u * kol);  // the device stores the values before it answers
}

void ModbusMaster::receive_again() { link.suda(buf, dl_otvet, kol_wait_bytes); }

// Address, function (or the device's exception), length and CRC. 0 when the frame is sound.
uint8_t ModbusMaster::check_frame(uint8_t fun) const
{
    if (link.pr_out == 2 || dl_otvet == 0)
        return kNoAnswer;
    const size_t n = dl_otvet < kFrameSize ? dl_otvet : kFrameSize - 1;
    if (buf[1] != link.settings().sys_num)
        return kWrongAddress;
    // Address, function and a CRC at the least; nothing past the received bytes is looked at.
    if (n < 4)
        return kBadCrc;
    if (buf[2] != fun) {
        if (buf[2] != (fun | 0x80))
            return kWrongFunction;
        // An exception is five bytes, CRC included: noise that merely looks like one (a false
        // "busy" would hold back the next request) is a CRC error.
        if (n < 5 || !crc_matches(5))
            return kBadCrc;
        // Exception 0 does not exist; taking it as the code would report the failure as success.
        return buf[3] == 0 ? uint8_t(kWrongFunction) : buf[3];
    }
    return crc_matches(n) ? uint8_t(kOk) : uint8_t(kBadCrc);
}

// Whether the last two of the first `n` received bytes are the CRC of those before them.
bool ModbusMaster::crc_matches(size_t n) const
{
    const uint16_t crc = crc16(std::span<const uint8_t>(&buf[1], n - 2));
    return crc == uint16_t(buf[n - 1] | (buf[n] << 8));
}

uint8_t ModbusMaster::check_bits(uint8_t fun)
{
    if (const uint8_t e = check_frame(fun); e != kOk)
        return e;
    // Address, function, byte count, at least one data byte, CRC.
    const uint8_t count = buf[3];
    if (count == 0 || dl_otvet != 5 + count)
        return kBadFormat;
    if (fun == kReadCoils)
        sink_.coil_byte(buf[4]);
    else
        sink_.input_byte(buf[4]);
    return kOk;
}

uint8_t ModbusMaster::check_registers(uint8_t fun, uint16_t na, uint16_t kol)
{
    if (const uint8_t e = check_frame(fun); e != kOk)
        return e;
    // The byte count must be that of the registers asked for, and all of them must have
    // come; otherwise the CRC or the fill would be decoded as register values.
    if (kol > kMaxReadCount || buf[3] != 2 * kol || dl_otvet != 5 + 2 * kol)
        return kBadFormat;
    if (fun == kReadInputRegisters) {
        const size_t received = dl_otvet >= 5 ? dl_otvet - 5 : 0;
        const size_t take = buf[3] < received ? buf[3] : received;
        sink_.input_data(std::span<const uint8_t>(&buf[4], take));
    }
    uint8_t code = kOk;
    for (uint16_t i = 0; i < kol; ++i) {
        const uint16_t value = uint16_t(buf[4 + 2 * i] << 8 | buf[5 + 2 * i]);
        const uint16_t address = uint16_t(na + i);
        const uint8_t e = fun == kReadHoldingRegisters ? sink_.holding_register(address, value)
                                                       : sink_.input_register(address, value);
        if (e != kOk)
            code = e;
    }
    return code;
}

// A device that said it is busy answers later, unasked: the link must not take that answer
// for the next request's.
uint8_t ModbusMaster::checked(uint8_t code)
{
    if (code == kBusy)
        link.late_answer_possible = true;
    return code;
}

uint8_t ModbusMaster::obrab_buf_coils() { return checked(check_bits(kReadCoils)); }

uint8_t ModbusMaster::obrab_buf_discret_inputs() { return checked(check_bits(kReadDiscreteInputs)); }

uint8_t ModbusMaster::obrab_buf_read_holding_registers(uint16_t na, uint16_t kol)
{
    return checked(check_registers(kReadHoldingRegisters, na, kol));
}

uint8_t ModbusMaster::obrab_buf_input_registers(uint16_t na, uint16_t kol)
{
    return checked(check_registers(kReadInputRegisters, na, kol));
}

uint8_t ModbusMaster::obrab_buf_write_holding_registers(uint16_t na, uint16_t kol)
{
    return checked(check_write(na, kol));
}

uint8_t ModbusMaster::check_write(uint16_t na, uint16_t kol) const
{
    if (const uint8_t e = check_frame(kWriteMultipleRegisters); e != kOk)
        return e;
    if (dl_otvet != 8)
        return kBadFormat;
    const uint16_t echo_na = uint16_t(buf[3] << 8 | buf[4]);
    const uint16_t echo_kol = uint16_t(buf[5] << 8 | buf[6]);
    return echo_na == na && echo_kol == kol ? uint8_t(kOk) : uint8_t(kBadFormat);
}

std::string ModbusMaster::msg_buf_error(uint8_t err) const
{
    char head[16];
    std::snprintf(head, sizeof head, " %.2X %.4X ", unsigned(func), unsigned(na_reg));
    std::string line = head;
    line += buf_error(err);
    line += std::to_string(dl_otvet) + ":";
    const size_t n = dl_otvet < kFrameSize ? dl_otvet : kFrameSize - 1;
    for (size_t i = 1; i <= n; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%.2X ", unsigned(buf[i]));
        line += pair;
    }
    return line;
}

}  // namespace varnok
