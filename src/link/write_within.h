#pragma once
// A write under the write time-outs (multiplier x bytes + constant; none when both are 0) on
// a transport's non-blocking descriptor, a terminal's or a socket's, on every platform.

#include <cstddef>
#include <cstdint>

#include "link/serial_port.h"
#include "link/transport.h"

namespace varnok {

// 0 when every byte went; ETIMEDOUT when the time-out passed first; else the errno of the
// failure. `written` counts what went either way.
int write_within(Transport& transport, int fd, const CommTimeouts& t, const uint8_t* data, size_t n, size_t& written);

}  // namespace varnok
