#pragma once
// The text of an errno value, as strerror() gives it on Linux. The Windows C library knows
// only the classic codes; the network ones the link reports there get the same texts.

#include <string>

namespace varnok {

std::string error_text(int error);

// The errors a user meets opening a port or connecting to a converter (no such device, no
// permission, busy, refused, timed out, unreachable) as a short Russian phrase, with what to
// do where there is something to do; any other error as error_text() gives it, with its number.
std::string error_text_ru(int error);
// The same phrase as a sentence of its own for the errors that have advice (no permission,
// busy); empty for the others. The port's message box adds it to the system's reason.
std::string port_error_advice(int error);

}  // namespace varnok
