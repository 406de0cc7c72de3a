#pragma once
// The text of an errno value, as strerror() gives it on Linux. The Windows C library knows
// only the classic codes; the network ones the link reports there get the same texts.

#include <string>

namespace varnok {

std::string error_text(int error);

}  // namespace varnok
