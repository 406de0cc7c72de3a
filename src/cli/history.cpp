// varnok-cli history and protocol: the unit's history as a table, JSON or CSV, its chain
// verified, and a stored check's protocol printed again.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/check.h"
#include "cli/commands.h"
#include "cli/host.h"
#include "cli/readings.h"
#include "cli/session.h"
#include "cli/standard_output.h"
#include "record/protocol_files.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

// A real date (and time) in the store's own form, so that comparing it as text with the
// records' times is comparing dates: 2026-02-30 or 24:00:00 is refused, not silently matched.
bool valid_since(const std::string& t)
{
    auto number = [&](size_t from, size_t n, int& out) {
        out = 0;
        for (size_t i = from; i < from + n; ++i) {
            if (i >= t.size() || t[i] < '0' || t[i] > '9')
                return false;
            out = out * 10 + (t[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0;
    if (t.size() < 10 || !number(0, 4, year) || t[4] != '-' || !number(5, 2, month) || t[7] != '-' ||
        !number(8, 2, day) || month < 1 || month > 12 || day < 1)
        return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] || (month == 2 && day == 29 && !leap))
        return false;
    if (t.size() == 10)
        return true;
    int hour = 0, minute = 0, second = 0;
    return t.size() == 19 && t[10] == ' ' && number(11, 2, hour) && t[13] == ':' && number(14, 2, minute) &&
           t[16] == ':' && number(17, 2, second) && hour < 24 && minute < 60 && second < 60;
}

// The store the command reads, or nullptr when it cannot be opened (the keeper told why).
record::History* store(Session& s) { return s.history().keeper().history(); }

nlohmann::ordered_json record_json(const record::HistoryRecord& r)
{
    nlohmann::ordered_json j = {{"id", r.id},
                        {"time", r.time},
                        {"user", r.user},
                        {"kind", r.kind},
                        {"unit",
                         {{"factory_number", r.unit.factory_number},
                          {"name", r.unit.name},
                          {"version", r.unit.version},
                          {"network_number", r.unit.network_number},
                          {"line", r.unit.line}}},
                        {"what", r.what},
                        {"old", r.old_value.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(r.old_value)},
                        {"new", r.new_value},
                        {"protocol_number", r.protocol_number},
                        {"refers_to", r.refers_to},
                        {"hash", r.hash}};
    if (!r.document.empty()) {
        try {
            j["document"] = nlohmann::ordered_json::parse(r.document);
        } catch (const nlohmann::ordered_json::exception&) {
            j["document"] = r.document;
        }
    }
    return j;
}

const char* const kColumns[] = {"время", "пользователь", "вид", "заводской номер", "номер", "имя", "версия",
                                "что", "было", "стало", "протокол"};

std::vector<std::string> record_fields(const record::HistoryRecord& r, bool sheet)
{
    std::string time = r.time;
    // The spreadsheet's local date: DD.MM.YYYY HH:MM:SS.
    if (sheet && time.size() >= 10)
        time = time.substr(8, 2) + "." + time.substr(5, 2) + "." + time.substr(0, 4) + time.substr(10);
    return {time,         r.user,        r.kind,   r.unit.factory_number, std::to_string(r.unit.network_number),
            r.unit.name,  r.unit.version, r.what,
            r.old_value.empty() && r.kind != record::kKindCheck ? "?" : r.old_value, r.new_value,
            r.protocol_number};
}

// A CSV field; for a spreadsheet, text that starts as a formula gets an apostrophe so that it
// stays text.
std::string sheet_field(std::string text, char sep, bool sheet)
{
    if (sheet && !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
        text = "'" + text;
    return csv_field(text, sep);
}

std::string history_csv(const std::vector<record::HistoryRecord>& records, bool sheet)
{
    const char sep = sheet ? regional_separators().list : ',';
    const std::string eol = sheet ? "\r\n" : "\n";
    std::string out = sheet ? "\xEF\xBB\xBF" : "";
    auto line = [&](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i)
            out += (i ? std::string(1, sep) : "") + sheet_field(fields[i], sep, sheet);
        out += eol;
    };
    line(std::vector<std::string>(std::begin(kColumns), std::end(kColumns)));
    for (const record::HistoryRecord& r : records)
        line(record_fields(r, sheet));
    return out;
}

int history(const Invocation& call, Session& s)
{
    const CommandArgs args = call.args();
    if (!args.positional().empty())
        throw UsageError("history: лишний аргумент " + args.positional().front());
    record::History* h = store(s);
    if (!h)
        return kExitDevice;
    if (args.flag("--verify")) {
        const std::string broken = h->verify();
        if (!broken.empty()) {
            std::fprintf(stderr, "%s\n", broken.c_str());
            return kExitDevice;
        }
        std::fprintf(stderr, "история %s цела\n", h->path().c_str());
        return kExitOk;
    }
    record::HistoryQuery q;
    if (const auto n = args.value("--unit-number"))
        q.factory_number = *n;
    if (!call.options.addresses.empty())
        q.network_number = call.options.addresses.front();
    if (const auto since = args.value("--since")) {
        if (!valid_since(*since))
            throw UsageError("--since: ГГГГ-ММ-ДД или \"ГГГГ-ММ-ДД ЧЧ:ММ:СС\", а не " + *since);
        q.since = *since;
    }
    std::vector<record::HistoryRecord> records;
    std::string error;
    if (!h->list(q, records, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitDevice;
    }
    if (const auto csv = args.value("--csv"))
        return put_stdout(history_csv(records, *csv == "excel")) ? kExitOk : kExitDevice;
    if (call.options.json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const record::HistoryRecord& r : records)
            all.push_back(record_json(r));
        return put_stdout(all.dump(2) + "\n") ? kExitOk : kExitDevice;
    }
    std::vector<std::vector<std::string>> rows = {std::vector<std::string>(std::begin(kColumns), std::end(kColumns))};
    for (const record::HistoryRecord& r : records)
        rows.push_back(record_fields(r, false));
    return put_stdout(aligned(rows)) ? kExitOk : kExitDevice;
}

int protocol(const Invocation& call, Session& s)
{
    const CommandArgs args = call.args();
    const std::string number = args.positional().front();
    const std::string out = *args.value("--out");
    record::History* h = store(s);
    if (!h)
        return kExitDevice;
    std::string error;
    const std::optional<record::HistoryRecord> r = h->find_protocol(number, error);
    if (!r) {
        std::fprintf(stderr, "%s\n", error.empty() ? ("протокола " + number + " нет в истории " + h->path()).c_str()
                                                   : error.c_str());
        return kExitDevice;
    }
    const StoredCheck c = read_check_document(r->document, "протокол " + number + " в истории");
    const record::Protocol p = record::protocol_of(c, r->protocol_number, r->time);
    if (const std::string why = record::write_protocol_pdf(p, out); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return kExitDevice;
    }
    return kExitOk;
}

}  // namespace

Job history_command(const Invocation& call)
{
    const CommandArgs args = call.args();
    if (const auto csv = args.value("--csv"); csv && *csv != "excel" && *csv != "standard")
        throw UsageError("--csv: standard или excel, а не " + *csv);
    return {[&call](Session& s) { return history(call, s); }};
}

Job protocol_command(const Invocation& call)
{
    const CommandArgs args = call.args();
    if (args.positional().size() != 1)
        throw UsageError("protocol: нужен один номер протокола");
    const auto out = args.value("--out");
    if (!out)
        throw UsageError("protocol: нужен --out ФАЙЛ.pdf");
    if (out->size() < 4 || out->compare(out->size() - 4, 4, ".pdf") != 0)
        throw UsageError("--out: файл .pdf, а не " + *out);
    std::string reason;
    if (!file_io::check_target(*out, reason))
        throw UsageError("файл " + *out + " не записан: " + reason);
    return {[&call](Session& s) { return protocol(call, s); }};
}

}  // namespace varnok::cli
