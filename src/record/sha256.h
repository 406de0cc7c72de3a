#pragma once
// SHA-256 of a byte string, as lower-case hex: the history's record hashes. Our own, so that
// every build (the Windows one too) has the same without a crypto library.

#include <string>
#include <string_view>

namespace varnok::record {

std::string sha256_hex(std::string_view data);

}  // namespace varnok::record
