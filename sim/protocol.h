#pragma once
// Request framing and answers of the simulated device: the RTU frame, the length of a
// request, the answer PDU to a request PDU.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/simulated_device.h"

namespace varnok::sim {

// Length of a request frame known from its first bytes: 0 while more bytes are needed to
// tell, kEndsAtSilence for a function whose length the device does not know.
inline constexpr size_t kEndsAtSilence = SIZE_MAX;
size_t request_length(std::span<const uint8_t> head);

// The answer PDU (function code and data, or an exception) to a request PDU.
std::vector<uint8_t> answer_pdu(SimulatedDevice& device, std::span<const uint8_t> pdu, Clock::time_point now);

// Address, PDU and CRC.
std::vector<uint8_t> rtu_frame(uint8_t address, std::span<const uint8_t> pdu);

// An exception answer: the function code with its high bit set, then the code.
std::vector<uint8_t> exception_pdu(uint8_t fc, uint8_t code);

}  // namespace varnok::sim
