// The check's document read from a file or from the history, its refusals as the tool's.
#include "cli/check.h"
#include "cli/options.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

// More than any check's document: 3 channels x 121 points x 100 readings is well under it.
constexpr size_t kLargestDocument = 16 * 1024 * 1024;

}  // namespace

StoredCheck read_check_document(const std::string& text, const std::string& source)
{
    try {
        return record::read_check_document(text, source);
    } catch (const record::DocumentError& e) {
        throw UsageError(e.what());
    }
}

StoredCheck read_found_document(const std::string& path)
{
    std::string text, reason;
    file_io::Stamp stamp;
    if (!file_io::read_whole(path, kLargestDocument, text, stamp, reason))
        throw UsageError("--found " + path + ": " + reason);
    try {
        return record::read_found_document(text, "--found " + path);
    } catch (const record::DocumentError& e) {
        throw UsageError(e.what());
    }
}

}  // namespace varnok::cli
