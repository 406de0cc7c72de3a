#pragma once
// Windows speaks UTF-16 where the rest of the program speaks UTF-8: paths, the environment,
// the command line. Windows only. Its system messages come in UTF-16 too.

#include <string>

namespace varnok {

std::wstring utf16_of(const std::string& utf8);
std::string utf8_of(const std::wstring& utf16);

// The system's text of a Windows error code, in the system's language, without the closing
// full stop ("ошибка Windows N" when it has none).
std::string windows_reason(unsigned long error);

}  // namespace varnok
