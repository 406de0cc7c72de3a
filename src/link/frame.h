#pragma once
// The link's request and answer buffers, with no transport code: the CRC uses them
// without the port.

#include <array>
#include <cstddef>
#include <cstdint>

namespace varnok {

// Request and answer buffers: frame bytes from index 1, index 0 unused.
inline constexpr size_t kFrameSize = 64;
using Frame = std::array<uint8_t, kFrameSize>;

inline constexpr uint8_t kFill = 0x2E;  // "." in answer positions no byte reached
inline constexpr size_t kFillPositions = 32;

// Where an answer ends, as its first bytes tell it: its length, address and CRC included (0
// when they do not tell it), and whether another answer to the same request may follow it
// (a device that said it is busy sends its answer later).
struct FrameLength {
    size_t bytes = 0;
    bool answer_follows = false;
};
// The length of an answer from its second and third bytes; the protocol above the link gives it.
using LengthRule = FrameLength (*)(uint8_t second, uint8_t third);

}  // namespace varnok
