#include "cli/value.h"

#include "link/link_settings.h"
#include "ops/configuration.h"
#include "ops/entry.h"
#include "record/check_document.h"
#include "settings/utf8.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include <nlohmann/json.hpp>

namespace varnok::cli {

namespace {

nlohmann::ordered_json json(const Value& v)
{
    switch (v.kind()) {
    case Value::kNull: return nullptr;
    case Value::kNumber: return record::json_number(v.text());
    case Value::kBool: return v.text() == "true";
    case Value::kString: return v.text();
    case Value::kArray: {
        auto array = nlohmann::ordered_json::array();
        for (const auto& [key, member] : v.members())
            array.push_back(json(member));
        return array;
    }
    case Value::kObject: {
        auto object = nlohmann::ordered_json::object();
        for (const auto& [key, member] : v.members())
            object[key] = json(member);
        return object;
    }
    }
    return nullptr;
}

// Bytes that are not UTF-8 (a name in a legacy code page) become U+FFFD rather than invalid JSON.
std::string dump(const nlohmann::ordered_json& j)
{
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string scalar(const Value& v)
{
    if (v.kind() == Value::kBool)
        return v.text() == "true" ? "да" : "нет";
    return v.kind() == Value::kNull && v.text().empty() ? "-" : v.shown();
}

// The text output's names of the keys; a key not here (a setting's name) shows as it is.
std::string label(const std::string& key)
{
    static const std::pair<const char*, const char*> kLabels[] = {
        {"address", "номер"},        {"speed", "скорость"},      {"parity", "паритет"},
        {"stopbits", "стоповые биты"}, {"written", "записано"},   {"name", "имя"},
        {"version", "версия"},       {"interface", "интерфейс"}, {"channels", "каналы"},
        {"channel", "канал"},        {"scale", "шкала"},         {"point", "точка"},
        {"unit", "единица"},         {"max", "уставка max"},     {"min", "уставка min"},
        {"zero", "ноль"},            {"coefficient", "коэффициент"}, {"pwm_low", "ШИМ низ"},
        {"pwm_high", "ШИМ верх"},    {"value", "значение"},      {"percent", "процент"},
        {"frequency", "частота"},    {"brightness", "яркость"},  {"file", "файл"},
        {"values", "значений"},      {"done", "выполнено"},     {"failed", "с ошибкой"},
        {"skipped", "пропущено"},
    };
    for (const auto& [k, l] : kLabels)
        if (key == k)
            return l;
    return key;
}

void text(const Value& v, const std::string& indent, std::string& out)
{
    // Array members go by their place: #1, #2, ...
    std::vector<std::string> names;
    for (const auto& [key, member] : v.members())
        names.push_back(v.kind() == Value::kArray ? "#" + std::to_string(names.size() + 1) : label(key));
    size_t width = 0;
    for (const std::string& name : names)
        width = std::max(width, text_columns(name));
    size_t index = 0;
    for (const auto& [key, member] : v.members()) {
        const std::string& name = names[index++];
        if (member.kind() == Value::kObject || member.kind() == Value::kArray) {
            out += indent + name + '\n';
            text(member, indent + "  ", out);
        } else {
            out += indent + name + std::string(width + 2 - std::min(width + 1, text_columns(name)), ' ') + scalar(member) +
                   '\n';
        }
    }
}

}  // namespace

Value& Value::set(const std::string& key, Value v)
{
    members_.emplace_back(key, std::move(v));
    return members_.back().second;
}

Value& Value::push(Value v) { return set(std::string(), std::move(v)); }

Value Value::real(float v)
{
    if (!std::isfinite(v))
        return not_a_number();
    Value out = number(float_text(v));
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    out.shown_.assign(buf, r.ptr);
    return out;
}

Value Value::parity(uint8_t code)
{
    Value out = string(parity_name(code));
    if (code < txt_parity.size()) {
        out.shown_ = txt_parity[code];
        out.shown_.erase(out.shown_.find_last_not_of(' ') + 1);  // the status bar's "нет " is padded
    }
    return out;
}

Value Value::not_a_number() { return Value(kNull, "нет значения"); }

Value Value::reading(float v)
{
    if (!std::isfinite(v))
        return not_a_number();
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return number(std::string(buf, r.ptr));
}

Value Value::device_text(const std::string& text) { return string(utf8::visible(text)); }

std::string to_json(const Value& v) { return dump(json(v)) + '\n'; }

size_t text_columns(const std::string& s)
{
    return size_t(std::count_if(s.begin(), s.end(), [](char c) { return (uint8_t(c) & 0xC0) != 0x80; }));
}

std::string aligned(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> width;
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            width.resize(std::max(width.size(), row.size()));
            width[i] = std::max(width[i], text_columns(row[i]));
        }
    std::string out;
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i)
            out += row[i] + (i + 1 < row.size() ? std::string(width[i] + 2 - text_columns(row[i]), ' ') : "");
        out += '\n';
    }
    return out;
}

std::string to_text(const Value& v)
{
    if (v.kind() != Value::kObject && v.kind() != Value::kArray)
        return scalar(v) + '\n';
    std::string out;
    text(v, "", out);
    return out;
}

}  // namespace varnok::cli
