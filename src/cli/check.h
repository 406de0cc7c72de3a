#pragma once
// The accuracy check of a unit's channels from the terminal: at each point the reference typed
// or reported by a command, the readings judged against the tolerance, the result as a table or
// one JSON document, and the protocol as a PDF or CSV.

#include <optional>
#include <string>

#include "cli/command_table.h"
#include "cli/value.h"
#include "record/protocol.h"

namespace varnok::cli {

Job check_command(const Invocation& call);

// A number as the check's documents give it: nine significant digits, shortest (0.6, not
// 0.6000000000000014), "0" for a negative zero; `comma` for the decimal comma of the lines
// the engineer reads.
std::string check_number(double v, bool comma = false);

// What a check's JSON document holds besides its run.
struct CheckHeader {
    record::Unit unit;
    std::string engineer;
    record::ReferenceInstrument reference;
};

// The check's JSON document: the header, the run (every point's statistics, errors and
// verdict, each channel's constants and verdict) and, for an as-left run, the as-found run it
// continues.
Value check_document(const CheckHeader& h, const record::CheckRun& run, const record::CheckRun* found);

// The as-found run of a document `check_document` wrote, with its header. Throws UsageError
// naming the file and what in it is not such a document (an as-left run's included).
struct FoundDocument {
    CheckHeader header;
    record::CheckRun run;
};
FoundDocument read_found_document(const std::string& path);

// Any document `check_document` wrote, as text (one the history keeps): the header, the run and
// the as-found run an as-left one continues. Throws UsageError starting with `source`.
struct StoredCheck {
    CheckHeader header;
    record::CheckRun run;
    std::optional<record::CheckRun> found;
};
StoredCheck read_check_document(const std::string& text, const std::string& source);

}  // namespace varnok::cli
