#pragma once
// Where the readings go, as the command line names it: the broker's address, the user, the
// password and the certificates (cli/publisher.h declares their readers), and the names of
// the topics with the checks a broker makes of them.

#include <string>
#include <string_view>

namespace varnok::cli {

// A port name as one topic level: anything but letters, digits, '.', '-' and '_' becomes '_'.
std::string topic_level(const std::string& text);

// Text a broker takes in a topic: UTF-8 without control characters (U+0000..U+001F,
// U+007F..U+009F) and non-characters.
bool topic_text(std::string_view s);

}  // namespace varnok::cli
