#pragma once
// Windows speaks UTF-16 where the rest of the program speaks UTF-8: paths, the environment,
// the command line. Windows only.

#include <string>

namespace varnok {

std::wstring utf16_of(const std::string& utf8);
std::string utf8_of(const std::wstring& utf16);

}  // namespace varnok
