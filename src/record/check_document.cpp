// The check's JSON document, written and read back: an as-left run takes the as-found run of
// the same unit so that one protocol holds both.
#include "record/check_document.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "settings/utf8.h"

namespace varnok::record {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* kDocument = "varnok-cli check";
constexpr int kFormat = 1;

// A reduced error equal to the tolerance in decimal is fit: both are compared in units of
// 1e-9 % so that the binary remainder of the division does not decide the verdict.
constexpr double kVerdictQuantum = 1e9;

const char* kind_name(CheckKind k) { return k == CheckKind::AsFound ? "as_found" : "as_left"; }

json num(double v) { return json_number(check_number(v)); }
// A statistic of a point: null when the point was not measured.
json stat(const CheckPoint& p, double v) { return p.measured() ? num(v) : json(nullptr); }

// A stored coefficient: the shortest text of the float; null when it is not a number.
json coefficient(float v)
{
    if (!std::isfinite(v))
        return nullptr;
    char buf[32];
    return json_number(std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr));
}

json run_json(const CheckRun& run)
{
    json r = json::object();
    r["kind"] = kind_name(run.kind);
    r["started"] = run.started;
    r["tolerance"] = num(run.tolerance);
    json channels = json::array();
    for (const ChannelCheck& c : run.channels) {
        json ch = json::object();
        ch["channel"] = c.channel;
        ch["full_scale"] = num(c.full_scale);
        ch["unit"] = c.unit;
        json k = json::object();
        k["zero"] = c.constants.read ? json(c.constants.zero) : json(nullptr);
        k["coefficient"] = c.constants.read ? coefficient(c.constants.coefficient) : json(nullptr);
        ch["constants"] = std::move(k);
        json points = json::array();
        for (const CheckPoint& p : c.points) {
            json v = json::object();
            v["channel"] = c.channel;
            v["percent"] = num(p.percent);
            v["nominal"] = num(p.nominal);
            v["reference"] = num(p.reference);
            v["samples"] = p.samples;
            json readings = json::array();
            for (double x : p.readings)
                readings.push_back(num(x));
            v["readings"] = std::move(readings);
            v["mean"] = stat(p, p.mean);
            v["min"] = stat(p, p.min);
            v["max"] = stat(p, p.max);
            v["stdev"] = stat(p, p.stdev);
            v["error"] = stat(p, p.error);
            v["reduced_error"] = stat(p, p.reduced_error);
            v["tolerance"] = num(run.tolerance);
            v["verdict"] = p.fit ? kFit : kUnfit;
            v["failure"] = p.failure.empty() ? json(nullptr) : json(p.failure);
            points.push_back(std::move(v));
        }
        ch["points"] = std::move(points);
        ch["verdict"] = c.verdict();
        channels.push_back(std::move(ch));
    }
    r["channels"] = std::move(channels);
    r["verdict"] = run.fit() ? kFit : kUnfit;
    return r;
}

// A strict reading of the document: every field there and of its type, or the field named.
class Reader {
public:
    // `source` starts every refusal: "--found FILE", "протокол N в истории".
    explicit Reader(std::string source) : source_(std::move(source)) {}

    [[noreturn]] void refuse(const std::string& what) const { throw DocumentError(source_ + ": " + what); }
    const json& field(const json& j, const std::string& where, const char* key) const
    {
        if (!j.is_object() || !j.contains(key))
            refuse("нет поля " + where + key);
        return j.at(key);
    }
    std::string text(const json& j, const std::string& where, const char* key) const
    {
        const json& v = field(j, where, key);
        if (!v.is_string())
            refuse("поле " + where + key + " не строка");
        return v.get<std::string>();
    }
    double number(const json& j, const std::string& where, const char* key) const
    {
        const json& v = field(j, where, key);
        if (!v.is_number())
            refuse("поле " + where + key + " не число");
        return v.get<double>();
    }
    const json& array(const json& j, const std::string& where, const char* key) const
    {
        const json& v = field(j, where, key);
        if (!v.is_array())
            refuse("поле " + where + key + " не список");
        return v;
    }

private:
    std::string source_;
};

// The text as JSON, refused unless it is a check's document.
json check_json(const std::string& text, const Reader& r)
{
    json j;
    try {
        j = json::parse(text);
    } catch (const json::exception&) {
        r.refuse("не документ JSON");
    }
    if (!j.is_object() || !j.contains("document") || j.at("document") != kDocument)
        r.refuse("не результат varnok-cli check --json");
    return j;
}

CheckHeader read_header(const Reader& r, const json& j)
{
    CheckHeader h;
    const json& unit = r.field(j, "", "unit");
    h.unit.name = r.text(unit, "unit.", "name");
    h.unit.version = r.text(unit, "unit.", "version");
    h.unit.factory_number = r.text(unit, "unit.", "factory_number");
    h.unit.network_number = int(r.number(unit, "unit.", "network_number"));
    h.unit.line = r.text(unit, "unit.", "line");
    h.engineer = r.text(j, "", "engineer");
    const json& ref = r.field(j, "", "reference_instrument");
    h.reference.name = r.text(ref, "reference_instrument.", "name");
    h.reference.number = r.text(ref, "reference_instrument.", "number");
    h.reference.due_date = r.text(ref, "reference_instrument.", "due_date");
    return h;
}

// A channel's zero and coefficient: both there, or both null when they were not read.
Constants read_constants(const Reader& r, const json& cj, const std::string& at)
{
    Constants k;
    const json& kj = r.field(cj, at, "constants");
    const json& zero = r.field(kj, at + "constants.", "zero");
    const json& coefficient = r.field(kj, at + "constants.", "coefficient");
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
CheckPoint read_point(const Reader& r, const json& pj, const std::string& pat, double full_scale, double tolerance)
{
    CheckPoint p;
    p.percent = r.number(pj, pat, "percent");
    p.nominal = r.number(pj, pat, "nominal");
    p.reference = r.number(pj, pat, "reference");
    const double samples = r.number(pj, pat, "samples");
    if (samples < 1 || samples > 100 || samples != std::floor(samples))
        r.refuse("поле " + pat + "samples: не 1..100");
    p.samples = unsigned(samples);
    for (const json& x : r.array(pj, pat, "readings")) {
        if (!x.is_number())
            r.refuse("поле " + pat + "readings: не число");
        p.readings.push_back(x.get<double>());
    }
    const json& failure = r.field(pj, pat, "failure");
    if (!failure.is_null() && !failure.is_string())
        r.refuse("поле " + pat + "failure не строка");
    if (failure.is_string())
        p.failure = failure.get<std::string>();
    // The verdict follows from the readings: a document whose verdict does not was changed.
    judge_point(p, full_scale, tolerance);
    if (r.text(pj, pat, "verdict") != (p.fit ? kFit : kUnfit))
        r.refuse("вердикт " + pat + "verdict не следует из отсчётов");
    return p;
}

ChannelCheck read_channel(const Reader& r, const json& cj, const std::string& at, double tolerance)
{
    ChannelCheck c;
    c.channel = int(r.number(cj, at, "channel"));
    if (c.channel < 1 || c.channel > 3)
        r.refuse("поле " + at + "channel: канал " + std::to_string(c.channel));
    c.full_scale = r.number(cj, at, "full_scale");
    c.unit = r.text(cj, at, "unit");
    c.constants = read_constants(r, cj, at);
    const json& points = r.array(cj, at, "points");
    for (size_t n = 0; n < points.size(); ++n)
        c.points.push_back(
            read_point(r, points[n], at + "points[" + std::to_string(n) + "].", c.full_scale, tolerance));
    judge_channel(c);
    if (r.text(cj, at, "verdict") != c.verdict())
        r.refuse("вердикт " + at + "verdict не следует из точек");
    return c;
}

CheckRun read_run(const Reader& r, const json& j, const std::string& at, CheckKind kind)
{
    CheckRun run;
    run.kind = kind;
    run.started = r.text(j, at, "started");
    run.tolerance = r.number(j, at, "tolerance");
    const json& channels = r.array(j, at, "channels");
    if (channels.empty())
        r.refuse("в проверке нет каналов");
    for (size_t i = 0; i < channels.size(); ++i)
        run.channels.push_back(
            read_channel(r, channels[i], at + "channels[" + std::to_string(i) + "].", run.tolerance));
    return run;
}

}  // namespace

void judge_point(CheckPoint& point, double full_scale, double tolerance)
{
    point.mean = point.min = point.max = point.stdev = 0;
    point.error = point.reduced_error = 0;
    point.fit = false;
    if (!point.measured())
        return;
    const std::vector<double>& r = point.readings;
    const auto [lo, hi] = std::minmax_element(r.begin(), r.end());
    point.min = *lo;
    point.max = *hi;
    double sum = 0;
    for (double v : r)
        sum += v;
    point.mean = sum / double(r.size());
    // The sample standard deviation (n - 1); a single reading has none, shown as 0.
    if (r.size() > 1) {
        double sq = 0;
        for (double v : r)
            sq += (v - point.mean) * (v - point.mean);
        point.stdev = std::sqrt(sq / double(r.size() - 1));
    }
    point.error = point.mean - point.reference;
    if (full_scale == 0 || !std::isfinite(full_scale))
        return;  // no span to reduce the error to: never fit
    point.reduced_error = point.error / full_scale * 100.0;
    point.fit = std::isfinite(point.reduced_error) &&
                std::round(std::fabs(point.reduced_error) * kVerdictQuantum) <= std::round(tolerance * kVerdictQuantum);
}

void judge_channel(ChannelCheck& channel)
{
    channel.fit = !channel.points.empty() &&
                  std::all_of(channel.points.begin(), channel.points.end(),
                              [](const CheckPoint& p) { return p.measured() && p.fit; });
}

// A number's text as JSON holds it: an integer where the text has no fraction, else a double,
// which is written back in its shortest form (2.4, 0.0025).
json json_number(const std::string& text)
{
    const char* end = text.data() + text.size();
    if (text.find_first_of(".eE") == std::string::npos) {
        long long whole = 0;
        if (std::from_chars(text.data(), end, whole).ptr == end)
            return whole;
    }
    double real = 0;
    std::from_chars(text.data(), end, real);
    return real;
}

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

std::string check_document(const CheckHeader& h, const CheckRun& run, const CheckRun* found)
{
    json doc = json::object();
    doc["document"] = kDocument;
    doc["format"] = kFormat;
    json unit = json::object();
    unit["name"] = utf8::visible(h.unit.name);
    unit["version"] = utf8::visible(h.unit.version);
    unit["factory_number"] = h.unit.factory_number;
    unit["network_number"] = h.unit.network_number;
    unit["line"] = h.unit.line;
    doc["unit"] = std::move(unit);
    doc["engineer"] = h.engineer;
    json ref = json::object();
    ref["name"] = h.reference.name;
    ref["number"] = h.reference.number;
    ref["due_date"] = h.reference.due_date;
    doc["reference_instrument"] = std::move(ref);
    const json r = run_json(run);
    for (const auto& [key, value] : r.items())
        doc[key] = value;
    if (found)
        doc["as_found"] = run_json(*found);
    // Bytes that are not UTF-8 (a name in a legacy code page) become U+FFFD rather than invalid JSON.
    return doc.dump(-1, ' ', false, json::error_handler_t::replace) + '\n';
}

StoredCheck read_check_document(const std::string& text, const std::string& source)
{
    const Reader r(source);
    const json j = check_json(text, r);
    StoredCheck c;
    c.header = read_header(r, j);
    const std::string kind = r.text(j, "", "kind");
    if (kind != "as_found" && kind != "as_left")
        r.refuse("поле kind: не as_found и не as_left");
    c.run = read_run(r, j, "", kind == "as_found" ? CheckKind::AsFound : CheckKind::AsLeft);
    if (j.contains("as_found"))
        c.found = read_run(r, j.at("as_found"), "as_found.", CheckKind::AsFound);
    return c;
}

StoredCheck read_found_document(const std::string& text, const std::string& source)
{
    const Reader r(source);
    const json j = check_json(text, r);
    if (r.number(j, "", "format") != kFormat)
        r.refuse("формат документа " + check_number(r.number(j, "", "format")) + ", а читается " +
                 std::to_string(kFormat));
    if (r.text(j, "", "kind") != "as_found")
        r.refuse("это не проверка до калибровки (--as found)");
    StoredCheck c;
    c.header = read_header(r, j);
    c.run = read_run(r, j, "", CheckKind::AsFound);
    return c;
}

Protocol protocol_of(const StoredCheck& c, const std::string& number, const std::string& issued)
{
    Protocol p;
    p.number = number;
    p.issued = issued;
    p.unit = c.header.unit;
    p.engineer = c.header.engineer;
    p.reference = c.header.reference;
    p.tolerance = c.run.tolerance;
    (c.run.kind == CheckKind::AsFound ? p.as_found : p.as_left) = c.run;
    if (c.found)
        p.as_found = c.found;
    return p;
}

}  // namespace varnok::record
