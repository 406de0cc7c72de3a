#pragma once
// The accuracy check of a unit's channels from the terminal: at each point the reference typed
// or reported by a command, the readings judged against the tolerance, the result as a table or
// one JSON document, and the protocol as a PDF or CSV.

#include <optional>
#include <string>

#include "cli/command_table.h"
#include "record/check_document.h"
#include "record/protocol.h"

namespace varnok::cli {

Job check_command(const Invocation& call);

// The check's numbers and document, as the window writes them too.
using record::check_number;
using record::CheckHeader;
using record::StoredCheck;

// The as-found run of a document the check wrote, with its header, read from `path`. Throws
// UsageError naming the file and what in it is not such a document (an as-left run's included).
StoredCheck read_found_document(const std::string& path);

// Any document the check wrote, as text (one the history keeps): the header, the run and
// the as-found run an as-left one continues. Throws UsageError starting with `source`.
StoredCheck read_check_document(const std::string& text, const std::string& source);

}  // namespace varnok::cli
