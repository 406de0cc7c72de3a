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

}  // namespace varnok
