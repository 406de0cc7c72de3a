#pragma once
// The check's JSON document, one for the tool and the window: the unit, the engineer and the
// reference instrument, the run with every point's readings, statistics and verdict, and for
// an as-left run the as-found run it continues. Written, and read back strictly: a document
// whose verdicts do not follow from its readings is refused.

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "record/protocol.h"

namespace varnok::record {

// The statistics, the errors and the point's verdict from its readings and reference; a
// point without all its readings, or with a failure, is not fit.
void judge_point(CheckPoint& point, double full_scale, double tolerance);
// A channel is fit when every point is.
void judge_channel(ChannelCheck& channel);

// A number as the check's documents give it: nine significant digits, shortest (0.6, not
// 0.6000000000000014), "0" for a negative zero; `comma` for the decimal comma of the lines
// the engineer reads.
std::string check_number(double v, bool comma = false);

// A number's text as JSON holds it: an integer where the text has no fraction, else a double,
// which is written back in its shortest form (2.4, 0.0025). The tool's JSON output uses it too.
nlohmann::ordered_json json_number(const std::string& text);

// What a check's document holds besides its run.
struct CheckHeader {
    Unit unit;
    std::string engineer;
    ReferenceInstrument reference;
};

// The document as one line of JSON ending in a line feed.
std::string check_document(const CheckHeader& h, const CheckRun& run, const CheckRun* found);

// A document that is not one check_document wrote; its text is the one line that says what.
class DocumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct StoredCheck {
    CheckHeader header;
    CheckRun run;
    std::optional<CheckRun> found;  // the as-found run an as-left one continues
};

// Any document check_document wrote. Throws DocumentError starting with `source`.
StoredCheck read_check_document(const std::string& text, const std::string& source);
// An as-found document of the format this build writes (what an as-left run continues).
// Throws DocumentError starting with `source`.
StoredCheck read_found_document(const std::string& text, const std::string& source);

// The protocol a stored check prints: its number and time of issue, and its runs.
Protocol protocol_of(const StoredCheck& c, const std::string& number, const std::string& issued);

}  // namespace varnok::record
