#pragma once
// Bytes as tests write them: hexadecimal text, "05 03 00 20".

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::test {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& bytes);
Bytes unhex(const std::string& text);

}  // namespace varnok::test
