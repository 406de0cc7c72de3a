#include "modbus/exchange.h"

#include <algorithm>
#include <cstdio>

#include "modbus/crc.h"

namespace varnok {

namespace {

// The bytes of a frame from index 1, never past the buffer.
std::span<const uint8_t> frame_bytes(const Frame& f, uint8_t n)
{
    return std::span<const uint8_t>(&f[1], std::min<size_t>(n, kFrameSize - 1));
}

// Whether the last two of `a` are the CRC of the bytes before them (at least three bytes).
bool crc_matches(std::span<const uint8_t> a)
{
    const size_t n = a.size();
    return crc16(a.first(n - 2)) == uint16_t(a[n - 2] | (a[n - 1] << 8));
}

// Address, function (or the device's exception), length and CRC. 0 when the frame is sound.
uint8_t check_frame(std::span<const uint8_t> a, uint8_t sys_num, uint8_t fun)
{
    if (a.empty())
        return kNoAnswer;
    if (a[0] != sys_num)
        return kWrongAddress;
    // Address, function and a CRC at the least; nothing past the received bytes is looked at.
    if (a.size() < 4)
        return kBadCrc;
    if (a[1] != fun) {
        if (a[1] != (fun | 0x80))
            return kWrongFunction;
        // An exception is five bytes, CRC included: noise that merely looks like one (a false
        // "busy" would hold back the next request) is a CRC error.
        if (a.size() < 5 || !crc_matches(a.first(5)))
            return kBadCrc;
        // Exception 0 does not exist; taking it as the code would report the failure as success.
        return a[2] == 0 ? uint8_t(kWrongFunction) : a[2];
    }
    return crc_matches(a) ? uint8_t(kOk) : uint8_t(kBadCrc);
}

uint8_t check_bits(std::span<const uint8_t> a, uint8_t sys_num, uint8_t fun, RegisterSink& sink)
{
    if (const uint8_t e = check_frame(a, sys_num, fun); e != kOk)
        return e;
    // Address, function, byte count, at least one data byte, CRC.
    const uint8_t count = a[2];
    if (count == 0 || a.size() != 5u + count)
        return kBadFormat;
    if (fun == kReadCoils)
        sink.coil_byte(a[3]);
    else
        sink.input_byte(a[3]);
    return kOk;
}

uint8_t check_registers(std::span<const uint8_t> a, uint8_t sys_num, uint8_t fun, uint16_t na, uint16_t kol,
                        RegisterSink& sink)
{
    if (const uint8_t e = check_frame(a, sys_num, fun); e != kOk)
        return e;
    // The byte count must be that of the registers asked for, and all of them must have
    // come; otherwise the CRC or the fill would be decoded as register values.
    if (kol > kMaxReadCount || a[2] != 2 * kol || a.size() != 5u + 2 * kol)
        return kBadFormat;
    if (fun == kReadInputRegisters)
        sink.input_data(a.subspan(3, 2 * size_t(kol)));
    uint8_t code = kOk;
    for (uint16_t i = 0; i < kol; ++i) {
        const uint16_t value = uint16_t(a[3 + 2 * i] << 8 | a[4 + 2 * i]);
        const uint16_t address = uint16_t(na + i);
        const uint8_t e = fun == kReadHoldingRegisters ? sink.holding_register(address, value)
                                                       : sink.input_register(address, value);
        if (e != kOk)
            code = e;
    }
    return code;
}

// Address, function, start and count: the first six bytes of every request.
void frame_head(uint8_t sys_num, Exchange& x)
{
    const Request& r = x.request;
    x.ozuper[1] = sys_num;
    x.ozuper[2] = r.func;
    x.ozuper[3] = static_cast<uint8_t>(r.na_reg >> 8);
    x.ozuper[4] = static_cast<uint8_t>(r.na_reg);
    x.ozuper[5] = static_cast<uint8_t>(r.kol_reg >> 8);
    x.ozuper[6] = static_cast<uint8_t>(r.kol_reg);
}

// The CRC of the `body` bytes from index 1, placed after them, low byte first.
void frame_crc(size_t body, Exchange& x)
{
    x.cs_CRC = crc16(std::span<const uint8_t>(&x.ozuper[1], body));
    x.ozuper[body + 1] = static_cast<uint8_t>(x.cs_CRC);
    x.ozuper[body + 2] = static_cast<uint8_t>(x.cs_CRC >> 8);
    x.dl_note = static_cast<uint8_t>(body + 2);
}

}  // namespace

Request opros_registers(uint8_t fun, uint16_t na, uint16_t kol) { return {fun, na, kol, {}}; }

Request opros_coils(uint16_t na, uint16_t kol) { return {kReadCoils, na, kol, {}}; }

Request opros_discret_inputs(uint16_t na, uint16_t kol) { return {kReadDiscreteInputs, na, kol, {}}; }

Request write_holding_registers(uint16_t na, uint16_t zn) { return {kWriteMultipleRegisters, na, 1, {zn}}; }

Request write_holding_2registers(uint16_t na, std::span<const uint16_t> zn)
{
    // A count beyond what a frame holds stays beyond it, so that the frame is refused.
    const auto kol = static_cast<uint16_t>(std::min<size_t>(zn.size(), 0xFFFF));
    return {kWriteMultipleRegisters, na, kol, std::vector<uint16_t>(zn.begin(), zn.end())};
}

std::span<const uint8_t> Exchange::sent() const { return frame_bytes(ozuper, dl_note); }

std::span<const uint8_t> Exchange::received() const { return frame_bytes(buf, dl_otvet); }

std::span<const uint8_t> Exchange::answer() const
{
    return pr_out == 2 ? std::span<const uint8_t>() : received();
}

std::string Exchange::msg_buf_error() const
{
    char head[16];
    std::snprintf(head, sizeof head, " %.2X %.4X ", unsigned(request.func), unsigned(request.na_reg));
    return head + buf_error(err) + std::to_string(dl_otvet) + ":" + hex_bytes(received());
}

bool form_inf_part_rtu_read(uint8_t sys_num, Exchange& x)
{
    if (x.request.kol_reg > kMaxReadCount)
        return false;
    frame_head(sys_num, x);
    frame_crc(6, x);
    return true;
}

bool form_inf_part_rtu_multi(uint8_t sys_num, Exchange& x)
{
    const Request& r = x.request;
    if (r.kol_reg > kMaxWriteCount || r.zn_word.size() < r.kol_reg)
        return false;
    frame_head(sys_num, x);
    x.ozuper[7] = static_cast<uint8_t>(2 * r.kol_reg);
    for (size_t i = 1; i <= r.kol_reg; ++i) {
        x.ozuper[6 + 2 * i] = static_cast<uint8_t>(r.zn_word[i - 1] >> 8);
        x.ozuper[7 + 2 * i] = static_cast<uint8_t>(r.zn_word[i - 1]);
    }
    frame_crc(7 + 2 * size_t(r.kol_reg), x);
    return true;
}

FrameLength answer_length(uint8_t function, uint8_t third)
{
    if (function & 0x80)
        return {5, true};  // exception code, CRC; a busy device's own answer comes later
    if (function >= kReadCoils && function <= kReadInputRegisters)
        return {5 + size_t(third), false};  // byte count, data, CRC
    if (function == kWriteMultipleRegisters)
        return {8, false};  // start and count echoed, CRC
    return {0, false};
}

uint8_t obrab_buf_coils(std::span<const uint8_t> answer, uint8_t sys_num, RegisterSink& sink)
{
    return check_bits(answer, sys_num, kReadCoils, sink);
}

uint8_t obrab_buf_discret_inputs(std::span<const uint8_t> answer, uint8_t sys_num, RegisterSink& sink)
{
    return check_bits(answer, sys_num, kReadDiscreteInputs, sink);
}

uint8_t obrab_buf_read_holding_registers(std::span<const uint8_t> answer, uint8_t sys_num, uint16_t na,
                                         uint16_t kol, RegisterSink& sink)
{
    return check_registers(answer, sys_num, kReadHoldingRegisters, na, kol, sink);
}

uint8_t obrab_buf_input_registers(std::span<const uint8_t> answer, uint8_t sys_num, uint16_t na, uint16_t kol,
                                  RegisterSink& sink)
{
    return check_registers(answer, sys_num, kReadInputRegisters, na, kol, sink);
}

uint8_t obrab_buf_write_holding_registers(std::span<const uint8_t> answer, uint8_t sys_num, uint16_t na,
                                          uint16_t kol)
{
    if (const uint8_t e = check_frame(answer, sys_num, kWriteMultipleRegisters); e != kOk)
        return e;
    if (answer.size() != 8)
        return kBadFormat;
    const uint16_t echo_na = uint16_t(answer[2] << 8 | answer[3]);
    const uint16_t echo_kol = uint16_t(answer[4] << 8 | answer[5]);
    return echo_na == na && echo_kol == kol ? uint8_t(kOk) : uint8_t(kBadFormat);
}

uint8_t obrab_buf(const Request& r, std::span<const uint8_t> answer, uint8_t sys_num, RegisterSink& sink)
{
    switch (r.func) {
    case kReadCoils: return obrab_buf_coils(answer, sys_num, sink);
    case kReadDiscreteInputs: return obrab_buf_discret_inputs(answer, sys_num, sink);
    case kReadHoldingRegisters: return obrab_buf_read_holding_registers(answer, sys_num, r.na_reg, r.kol_reg, sink);
    case kReadInputRegisters: return obrab_buf_input_registers(answer, sys_num, r.na_reg, r.kol_reg, sink);
    case kWriteMultipleRegisters: return obrab_buf_write_holding_registers(answer, sys_num, r.na_reg, r.kol_reg);
    default: {
        // No request of the console has another function; its answer would hold nothing to take.
        const uint8_t e = check_frame(answer, sys_num, r.func);
        return e != kOk ? e : uint8_t(kBadFormat);
    }
    }
}

std::string hex_bytes(std::span<const uint8_t> bytes)
{
    std::string s;
    s.reserve(bytes.size() * 3);
    char pair[4];
    for (const uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%.2X ", unsigned(b));
        s += pair;
    }
    return s;
}

}  // namespace varnok
