// The check's JSON document, written and read back: an as-left run takes the as-found run of
// the same unit so that one protocol holds both.
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/check.h"
#include "cli/options.h"
#include "ops/accuracy_check.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

constexpr const char* kDocument = "varnok-cli check";
constexpr int kFormat = 1;
// More than any check's document: 3 channels x 121 points x 100 readings is well under it.
constexpr size_t kLargestDocument = 16 * 1024 * 1024;

const char* kind_name(record::CheckKind k) { return k == record::CheckKind::AsFound ? "as_found" : "as_left"; }

Value num(double v) { return Value::number(check_number(v)); }
// A statistic of a point: null when the point was not measured.
Value stat(const record::CheckPoint& p, double v) { return p.measured() ? num(v) : Value(); }

Value run_value(const record::CheckRun& run)
{
    Value r = Value::object();
    r.set("kind", Value::string(kind_name(run.kind)));
    r.set("started", Value::string(run.started));
    r.set("tolerance", num(run.tolerance));
    Value& channels = r.set("channels", Value::array());
    for (const record::ChannelCheck& c : run.channels) {
        Value& ch = channels.push(Value::object());
        ch.set("channel", Value::number(c.channel));
        ch.set("full_scale", num(c.full_scale));
        ch.set("unit", Value::string(c.unit));
        Value& k = ch.set("constants", Value::object());
        k.set("zero", c.constants.read ? Value::number(c.constants.zero) : Value());
        k.set("coefficient", c.constants.read ? Value::real(c.constants.coefficient) : Value());
        Value& points = ch.set("points", Value::array());
        for (const record::CheckPoint& p : c.points) {
            Value& v = points.push(Value::object());
            v.set("channel", Value::number(c.channel));
            v.set("percent", num(p.percent));
            v.set("nominal", num(p.nominal));
            v.set("reference", num(p.reference));
            v.set("samples", Value::number(p.samples));
            Value& readings = v.set("readings", Value::array());
            for (double x : p.readings)
                readings.push(num(x));
            v.set("mean", stat(p, p.mean));
            v.set("min", stat(p, p.min));
            v.set("max", stat(p, p.max));
            v.set("stdev", stat(p, p.stdev));
            v.set("error", stat(p, p.error));
            v.set("reduced_error", stat(p, p.reduced_error));
            v.set("tolerance", num(run.tolerance));
            v.set("verdict", Value::string(p.fit ? record::kFit : record::kUnfit));
            v.set("failure", p.failure.empty() ? Value() : Value::string(p.failure));
        }
        ch.set("verdict", Value::string(c.verdict()));
    }
    r.set("verdict", Value::string(run.fit() ? record::kFit : record::kUnfit));
    return r;
}

// A strict reading of the document: every field there and of its type, or the field named.
class Reader {
public:
    // `source` starts every refusal: "--found FILE", "протокол N в истории".
    explicit Reader(std::string source) : source_(std::move(source)) {}

    [[noreturn]] void refuse(const std::string& what) const { throw UsageError(source_ + ": " + what); }
    const nlohmann::json& field(const nlohmann::json& j, const std::string& where, const char* key) const
    {
        if (!j.is_object() || !j.contains(key))
            refuse("нет поля " + where + key);
        return j.at(key);
    }
    std::string text(const nlohmann::json& j, const std::string& where, const char* key) const
    {
        const nlohmann::json& v = field(j, where, key);
        if (!v.is_string())
            refuse("поле " + where + key + " не строка");
        return v.get<std::string>();
    }
    double number(const nlohmann::json& j, const std::string& where, const char* key) const
    {
        const nlohmann::json& v = field(j, where, key);
        if (!v.is_number())
            refuse("поле " + where + key + " не число");
        return v.get<double>();
    }
    const nlohmann::json& array(const nlohmann::json& j, const std::string& where, const char* key) const
    {
        const nlohmann::json& v = field(j, where, key);
        if (!v.is_array())
            refuse("поле " + where + key + " не список");
        return v;
    }

private:
    std::string source_;
};

}  // namespace

std::string check_number(double v, bool comma)
{
    if (!std::isfinite(v))
        return "null";
    char buf[40];
    std::string s(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 9).ptr);
    if (s == "-0")
        s = "0";
    if (comma)
        for (char& c : s)
            if (c == '.')
                c = ',';
    return s;
}

Value check_document(const CheckHeader& h, const record::CheckRun& run, const record::CheckRun* found)
{
    Value doc = Value::object();
    doc.set("document", Value::string(kDocument));
    doc.set("format", Value::number(kFormat));
    Value& unit = doc.set("unit", Value::object());
    unit.set("name", Value::device_text(h.unit.name));
    unit.set("version", Value::device_text(h.unit.version));
    unit.set("factory_number", Value::string(h.unit.factory_number));
    unit.set("network_number", Value::number(h.unit.network_number));
    unit.set("line", Value::string(h.unit.line));
    doc.set("engineer", Value::string(h.engineer));
    Value& ref = doc.set("reference_instrument", Value::object());
    ref.set("name", Value::string(h.reference.name));
    ref.set("number", Value::string(h.reference.number));
    ref.set("due_date", Value::string(h.reference.due_date));
    Value r = run_value(run);
    for (auto& [key, value] : r.members())
        doc.set(key, std::move(value));
    if (found)
        doc.set("as_found", run_value(*found));
    return doc;
}

namespace {

// The text as JSON, refused unless it is a document of `check --json`.
nlohmann::json check_json(const std::string& text, const Reader& r)
{
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception&) {
        r.refuse("не документ JSON");
    }
    if (!j.is_object() || !j.contains("document") || j.at("document") != kDocument)
        r.refuse("не результат varnok-cli check --json");
    return j;
}

// The file as JSON, refused unless it is an as-found document of the format read here.
nlohmann::json found_json(const std::string& path, const Reader& r)
{
    std::string text, reason;
    file_io::Stamp stamp;
    if (!file_io::read_whole(path, kLargestDocument, text, stamp, reason))
        throw UsageError("--found " + path + ": " + reason);
    nlohmann::json j = check_json(text, r);
    if (r.number(j, "", "format") != kFormat)
        r.refuse("формат документа " + check_number(r.number(j, "", "format")) + ", а читается " +
                 std::to_string(kFormat));
    if (r.text(j, "", "kind") != "as_found")
        r.refuse("это не проверка до калибровки (--as found)");
    return j;
}

CheckHeader read_header(const Reader& r, const nlohmann::json& j)
{
    CheckHeader h;
    const nlohmann::json& unit = r.field(j, "", "unit");
    h.unit.name = r.text(unit, "unit.", "name");
    h.unit.version = r.text(unit, "unit.", "version");
    h.unit.factory_number = r.text(unit, "unit.", "factory_number");
    h.unit.network_number = int(r.number(unit, "unit.", "network_number"));
    h.unit.line = r.text(unit, "unit.", "line");
    h.engineer = r.text(j, "", "engineer");
    const nlohmann::json& ref = r.field(j, "", "reference_instrument");
    h.reference.name = r.text(ref, "reference_instrument.", "name");
    h.reference.number = r.text(ref, "reference_instrument.", "number");
    h.reference.due_date = r.text(ref, "reference_instrument.", "due_date");
    return h;
}

// A channel's zero and coefficient: both there, or both null when they were not read.
record::Constants read_constants(const Reader& r, const nlohmann::json& cj, const std::string& at)
{
    record::Constants k;
    const nlohmann::json& kj = r.field(cj, at, "constants");
    const nlohmann::json& zero = r.field(kj, at + "constants.", "zero");
    const nlohmann::json& coefficient = r.field(kj, at + "constants.", "coefficient");
    k.read = zero.is_number_unsigned() && zero.get<uint64_t>() <= 65535 && coefficient.is_number();
    if (!k.read && !(zero.is_null() && coefficient.is_null()))
        r.refuse("поле " + at + "constants: не ноль 0..65535 и коэффициент");
    if (k.read) {
        k.zero = uint16_t(zero.get<uint64_t>());
        k.coefficient = coefficient.get<float>();
    }
    return k;
}

// A point as measured, judged again from its readings; refused when its verdict does not follow.
record::CheckPoint read_point(const Reader& r, const nlohmann::json& pj, const std::string& pat, double full_scale,
                              double tolerance)
{
    record::CheckPoint p;
    p.percent = r.number(pj, pat, "percent");
    p.nominal = r.number(pj, pat, "nominal");
    p.reference = r.number(pj, pat, "reference");
    const double samples = r.number(pj, pat, "samples");
    if (samples < 1 || samples > 100 || samples != std::floor(samples))
        r.refuse("поле " + pat + "samples: не 1..100");
    p.samples = unsigned(samples);
    for (const nlohmann::json& x : r.array(pj, pat, "readings")) {
        if (!x.is_number())
            r.refuse("поле " + pat + "readings: не число");
        p.readings.push_back(x.get<double>());
    }
    const nlohmann::json& failure = r.field(pj, pat, "failure");
    if (!failure.is_null() && !failure.is_string())
        r.refuse("поле " + pat + "failure не строка");
    if (failure.is_string())
        p.failure = failure.get<std::string>();
    // The verdict follows from the readings: a document whose verdict does not was changed.
    judge_point(p, full_scale, tolerance);
    if (r.text(pj, pat, "verdict") != (p.fit ? record::kFit : record::kUnfit))
        r.refuse("вердикт " + pat + "verdict не следует из отсчётов");
    return p;
}

record::ChannelCheck read_channel(const Reader& r, const nlohmann::json& cj, const std::string& at, double tolerance)
{
    record::ChannelCheck c;
    c.channel = int(r.number(cj, at, "channel"));
    if (c.channel < 1 || c.channel > 3)
        r.refuse("поле " + at + "channel: канал " + std::to_string(c.channel));
    c.full_scale = r.number(cj, at, "full_scale");
    c.unit = r.text(cj, at, "unit");
    c.constants = read_constants(r, cj, at);
    const nlohmann::json& points = r.array(cj, at, "points");
    for (size_t n = 0; n < points.size(); ++n)
        c.points.push_back(
            read_point(r, points[n], at + "points[" + std::to_string(n) + "].", c.full_scale, tolerance));
    judge_channel(c);
    if (r.text(cj, at, "verdict") != c.verdict())
        r.refuse("вердикт " + at + "verdict не следует из точек");
    return c;
}

}  // namespace

namespace {

record::CheckRun read_run(const Reader& r, const nlohmann::json& j, const std::string& at, record::CheckKind kind)
{
    record::CheckRun run;
    run.kind = kind;
    run.started = r.text(j, at, "started");
    run.tolerance = r.number(j, at, "tolerance");
    const nlohmann::json& channels = r.array(j, at, "channels");
    if (channels.empty())
        r.refuse("в проверке нет каналов");
    for (size_t i = 0; i < channels.size(); ++i)
        run.channels.push_back(
            read_channel(r, channels[i], at + "channels[" + std::to_string(i) + "].", run.tolerance));
    return run;
}

}  // namespace

StoredCheck read_check_document(const std::string& text, const std::string& source)
{
    const Reader r(source);
    nlohmann::json j = check_json(text, r);
    StoredCheck c;
    c.header = read_header(r, j);
    const std::string kind = r.text(j, "", "kind");
    if (kind != "as_found" && kind != "as_left")
        r.refuse("поле kind: не as_found и не as_left");
    c.run = read_run(r, j, "", kind == "as_found" ? record::CheckKind::AsFound : record::CheckKind::AsLeft);
    if (j.contains("as_found"))
        c.found = read_run(r, j.at("as_found"), "as_found.", record::CheckKind::AsFound);
    return c;
}

FoundDocument read_found_document(const std::string& path)
{
    const Reader r("--found " + path);
    const nlohmann::json j = found_json(path, r);
    FoundDocument f;
    f.header = read_header(r, j);
    record::CheckRun& run = f.run;
    run.kind = record::CheckKind::AsFound;
    run.started = r.text(j, "", "started");
    run.tolerance = r.number(j, "", "tolerance");
    const nlohmann::json& channels = r.array(j, "", "channels");
    if (channels.empty())
        r.refuse("в проверке нет каналов");
    for (size_t i = 0; i < channels.size(); ++i)
        run.channels.push_back(read_channel(r, channels[i], "channels[" + std::to_string(i) + "].", run.tolerance));
    return f;
}

}  // namespace varnok::cli
