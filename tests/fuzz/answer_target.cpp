// Arbitrary answer bytes, length and receive outcome against the check of every request the
// console makes. Properties: an accepted answer is a sound frame for its request; a rejected
// one leaves the device records as they were (except an answer naming a register outside
// the map, whose known registers are still decoded); the error line can always be made.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/device.h"
#include "modbus/crc.h"
#include "targets.h"

namespace varnok::fuzz {

namespace {

struct Quiet : Notices, DeviceNotices, Sleeper {
    void message_box(const std::string&, const std::string&) override {}
    void sleep_ms(unsigned) override {}
};

struct Asked {
    uint8_t function;
    uint16_t na, kol;
};

std::vector<Asked> console_requests()
{
    std::vector<Asked> r = {
        {3, kRegSysNum, 1}, {3, kRegSpeed, 1},   {3, kRegParity, 1},    {3, kRegStopBits, 1},
        {3, kRegLight, 1},  {4, kRegFreq, 2},    {4, kRegName, 5},      {4, kRegVersion, 5},
        {1, 0, 3},          {2, 0, 3},           {16, kRegLight, 1},    {16, kRegSysNum, 1},
        {16, kRegSpeed, 1}, {16, kRegParity, 1}, {16, kRegStopBits, 1},
    };
    for (int n = 1; n <= kChannels; ++n) {
        const uint16_t b = channel_base(n);
        for (const Asked& c :
             {Asked{3, kOffScale, 3}, Asked{3, kOffMax, 4}, Asked{3, kOffPWML, 2}, Asked{3, kOffRef, 1},
              Asked{3, kOffNcal, 2}, Asked{3, kOffRef, 3}, Asked{4, kOffUrms, 2}, Asked{4, kOffNewRef, 1},
              Asked{4, kOffADCout, 2}, Asked{16, kOffScale, 1}, Asked{16, kOffUstavka, 2},
              Asked{16, kOffMax, 2}, Asked{16, kOffMin, 2}, Asked{16, kOffRef, 1}, Asked{16, kOffNcal, 2},
              Asked{16, kOffPWML, 1}, Asked{16, kOffPWMH, 1}})
            r.push_back({c.function, uint16_t(b + c.na), c.kol});
    }
    return r;
}

// Everything an answer can change, as bytes.
std::string records(const Device& d)
{
    std::string s;
    auto put = [&s](const auto& v) { s.append(reinterpret_cast<const char*>(&v), sizeof v); };
    for (int n = 1; n <= kChannels; ++n) {
        const TParSCL& c = d.parScl(n);
        put(c.Ustavka.Long), put(c.DecPosition), put(c.Measure), put(c.Shift);
        const TParUST& u = d.parUst(n);
        put(u.Max.Long), put(u.Min.Long), put(u.PWMH.Long), put(u.PWML.Long);
        const TParChannel& ch = d.Ch(n);
        put(ch.Urms_te), put(ch.Ncal.Long), put(ch.Ref), put(ch.new_ADCout.Long), put(ch.new_Ref), put(ch.PWMH),
            put(ch.PWML), put(d.onoffK(n));
    }
    put(d.freq().Long), put(d.light()), put(d.onoff_swXP1()), put(d.onoff_swJMP78()), put(d.onoff_swXP3());
    const LinkSettings& l = d.link().settings();
    put(l.sys_num), put(l.num_scor), put(l.parity), put(l.stopbit), put(d.adr());
    return s + d.tmp_str();
}

}  // namespace

int answer_check(const uint8_t* data, size_t size)
{
    static const std::vector<Asked> requests = console_requests();
    if (size < 4)
        return 0;
    Quiet quiet;
    PortMap ports;
    Link link(quiet, quiet, ports);
    Device d(link, quiet);
    const uint8_t address = 5;
    link.set_sys_num(address);

    // Byte 0 picks the request (past the console's list: a function, start and count from
    // bytes 4..8), byte 1 the receive outcome, byte 2 the received length; the rest is the answer.
    const size_t pick = data[0] % (requests.size() + 1);
    Asked r = pick < requests.size() ? requests[pick] : Asked{};
    size_t at = 3;
    if (pick == requests.size()) {
        if (size < 8)
            return 0;
        const uint8_t functions[] = {1, 2, 3, 4, 16};
        r = {functions[data[3] % 5], uint16_t(data[4] << 8 | data[5]), uint16_t(data[6])};
        at = 7;
    }
    Exchange x;
    x.request = {r.function, r.na, r.kol, {}};
    x.pr_out = data[1] % 3;
    x.dl_otvet = uint8_t(std::min<size_t>(data[2], kFrameSize - 1));  // the receive takes no more
    for (size_t i = 1; i <= kFillPositions; ++i)
        x.buf[i] = kFill;
    const size_t n = std::min(size - at, kFrameSize - 1);
    std::memcpy(&x.buf[1], data + at, n);

    const std::string before = records(d);
    x.err = obrab_buf(x.request, x.answer(), address, d);
    const uint8_t code = x.err;

    const Frame& buf = x.buf;
    const size_t len = x.dl_otvet;
    const uint8_t pr_out = x.pr_out;
    if (code == kOk) {
        expect(pr_out != 2, "an answer that never came was accepted");
        expect(len >= 4 && len < kFrameSize, "an accepted answer has an impossible length");
        expect(buf[1] == address && buf[2] == r.function, "an accepted answer is another device's or function's");
        if (len >= 4 && len < kFrameSize)
            expect(crc16(std::span<const uint8_t>(&buf[1], len - 2)) == uint16_t(buf[len - 1] | buf[len] << 8),
                   "an accepted answer has a wrong CRC");
        if (r.function == 3 || r.function == 4)
            expect(len == 5 + 2 * size_t(r.kol) && buf[3] == 2 * r.kol, "an accepted read answer has the wrong size");
        if (r.function == 16)
            expect(len == 8 && (buf[3] << 8 | buf[4]) == r.na && (buf[5] << 8 | buf[6]) == r.kol,
                   "an accepted write answer does not echo the request");
    } else if (code != kIllegalAddress || buf[2] != r.function) {
        expect(records(d) == before, "a rejected answer changed the records");
    }
    const std::string line = x.msg_buf_error();
    expect(!line.empty(), "no error line");
    d.tmp_text();
    return 0;
}

}  // namespace varnok::fuzz
