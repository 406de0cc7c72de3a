#pragma once
// How the protocol's documents write its values: numbers with the decimal comma, dates the
// Russian way, the names of the runs. Shared by the PDF and the CSV so that both say the same.

#include <string>

#include "record/protocol.h"

namespace varnok::record::text {

// `v` with `decimals` digits after the comma: 62,5000; never "-0,0000".
std::string fixed(double v, int decimals);
// `v` with at most `decimals` digits after the comma, trailing zeros dropped: 25, 12,5, -10.
std::string trimmed(double v, int decimals);
// A float as short as it can be and still read back the same: 1,0234.
std::string shortest(float v);

// "YYYY-MM-DD HH:MM:SS" as DD.MM.YYYY HH:MM:SS, "YYYY-MM-DD" as DD.MM.YYYY; anything else as it is.
std::string russian_date(const std::string& iso);

// "до калибровки", "после калибровки".
const char* kind_name(CheckKind kind);

// The unit's text with the comma before it: ", В"; nothing when there is no unit.
std::string with_unit(const std::string& title, const std::string& unit);

// Text typed by people or told by the device, made safe to print: ill-formed UTF-8 and
// control characters as '?'.
std::string printable(const std::string& s);

}  // namespace varnok::record::text
