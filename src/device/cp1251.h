#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace varnok {

// Text bytes of the device (Windows-1251) as UTF-8; a zero byte ends the text.
std::string cp1251_to_utf8(std::span<const uint8_t> bytes);

}  // namespace varnok
