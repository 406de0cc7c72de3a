// Arbitrary bytes arriving at the simulated device: framed into requests as its engine
// frames them (by the length the function code implies, the rest at the silence after),
// each sound request answered. Properties: every answer is a valid Modbus answer to its
// request, an exception or the data asked for, and fits an RTU frame.
#include <chrono>
#include <vector>

#include "modbus/crc.h"
#include "sim/faults.h"
#include "sim/protocol.h"
#include "sim/simulated_device.h"
#include "targets.h"

namespace varnok::fuzz {

namespace {

void check_answer(std::span<const uint8_t> pdu, const std::vector<uint8_t>& ans)
{
    expect(!ans.empty(), "an empty answer");
    if (ans.empty())
        return;
    const uint8_t fc = pdu[0];
    if (ans[0] & 0x80) {
        expect(ans.size() == 2 && (ans[0] & 0x7F) == (fc & 0x7F) && ans[1] >= 1 && ans[1] <= 4,
               "an exception answer is malformed");
        return;
    }
    expect(ans[0] == fc, "an answer carries another function");
    const sim::Request r = sim::request_of(pdu);
    expect(r.has_range, "a request without a range was answered with data");
    if (fc == 3 || fc == 4)
        expect(ans.size() == 2u + ans[1] && ans[1] == 2 * r.count, "a register answer has the wrong size");
    else if (fc == 1 || fc == 2)
        expect(ans.size() == 2u + ans[1] && ans[1] == (r.count + 7) / 8, "a bit answer has the wrong size");
    else if (fc == 16)
        expect(ans.size() == 5 && std::equal(ans.begin() + 1, ans.end(), pdu.begin() + 1),
               "a write answer does not echo the request");
    expect(sim::rtu_frame(5, ans).size() <= 256, "an answer longer than an RTU frame");
}

}  // namespace

int sim_request(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    sim::SimulatedDevice device(1);
    sim::Faults faults;
    // Byte 0: a fault aimed at every request, or none.
    if (data[0] < sim::kFaultKinds.size()) {
        const sim::FaultInfo& f = sim::kFaultKinds[data[0]];
        faults.add({f.kind, f.default_arg, -1});
    }
    const auto now = sim::Clock::time_point(std::chrono::hours(1));
    std::vector<uint8_t> rx(data + 1, data + size);
    while (!rx.empty()) {
        const size_t len = sim::request_length(rx);
        if (len == 0 || (len != sim::kEndsAtSilence && rx.size() < len))
            break;  // a partial frame, dropped at the silence after it
        const size_t take = len == sim::kEndsAtSilence ? rx.size() : len;
        const std::vector<uint8_t> frame(rx.begin(), rx.begin() + long(take));
        rx.erase(rx.begin(), rx.begin() + long(take));
        if (frame.size() < 4 || frame[0] != 5 ||
            crc16(std::span(frame).first(frame.size() - 2)) !=
                uint16_t(frame[frame.size() - 2] | frame[frame.size() - 1] << 8))
            continue;  // ignored, as the device ignores it
        const std::span<const uint8_t> pdu = std::span(frame).subspan(1, frame.size() - 3);
        faults.take(sim::request_of(pdu));
        check_answer(pdu, sim::answer_pdu(device, pdu, now));
    }
    return 0;
}

}  // namespace varnok::fuzz
