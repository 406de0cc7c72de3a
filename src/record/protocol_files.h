#pragma once
// The protocol of a check as the documents it is printed in: a PDF (A4, fonts embedded so
// that Cyrillic prints anywhere) and a CSV in the tool's spreadsheet dialect. One renderer
// for the window and the tool.

#include <string>

#include "record/protocol.h"

namespace varnok::record {

// A protocol number unique per unit and time: the factory number (or the network number when
// none was typed) and the date and time of issue.
std::string protocol_number(const Unit& unit, const std::string& issued);

// Writes the protocol to `path` as a PDF. Empty on success; else one line that says why (the
// path and the reason), and no partial file is left at `path`.
std::string write_protocol_pdf(const Protocol& protocol, const std::string& path);

// The protocol as CSV text in the tool's spreadsheet dialect.
std::string protocol_csv(const Protocol& protocol);

}  // namespace varnok::record
