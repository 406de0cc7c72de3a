#pragma once
// UTF-8 as text files hold it: one code point at a time, and whether a text is well formed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnok::utf8 {

// The code point of the well-formed UTF-8 sequence at `i` (which it passes), or -1 for an
// ill-formed one: a stray continuation byte, a truncated or overlong sequence, a surrogate, or
// a value beyond U+10FFFF.
int32_t next_code_point(std::string_view s, size_t& i);

// Every sequence of `s` is well formed.
bool well_formed(std::string_view s);

// Text from a file or a device as it may be shown or stored: each control character (C0,
// DEL, and C1 as UTF-8 writes it) as '?', so that an escape sequence never reaches a terminal
// and a newline never begins a line of its own.
std::string visible(std::string_view s);

// What stopped a strict percent_decoded(): a '%' without two hex digits after it, or %00.
enum class PercentFault { kNone, kMalformed, kZero };

// %XX as the byte XX. Without `fault`, a '%' without two hex digits after it stays as it is and
// %00 is a zero byte; with it, decoding ends at the first such escape, and `fault` says which.
std::string percent_decoded(std::string_view s, PercentFault* fault = nullptr);

}  // namespace varnok::utf8
