#pragma once
// What a command prints: a tree of named values, written as aligned text or as one JSON
// document.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace varnok::cli {

class Value {
public:
    enum Kind { kNull, kNumber, kString, kArray, kObject, kBool };

    Value() = default;
    static Value number(const std::string& text) { return Value(kNumber, text); }
    static Value number(long long v) { return Value(kNumber, std::to_string(v)); }
    static Value string(std::string text) { return Value(kString, std::move(text)); }
    static Value boolean(bool b) { return Value(kBool, b ? "true" : "false"); }
    // A value the device holds as a float32 (a setpoint, a coefficient): its shortest text,
    // and in the text output the shortest in plain decimals (0.00005, where JSON has 5e-05);
    // null when it is not a number (an erased word), which JSON has no other way to say.
    static Value real(float v);
    // A line's parity: "none", "odd", "even" in JSON, "нет", "нечёт", "чёт" in the text output.
    static Value parity(uint8_t code);
    // A reading: six significant digits, what a float32 measurement holds (2.4, not
    // 2.3999999); null when it is not a number.
    static Value reading(float v);
    // Text from the device (name, version), its control characters shown as '?': an escape
    // sequence in a name must not reach the terminal.
    static Value device_text(const std::string& text);
    // The null of a value the device holds that is not a number: "нет значения" in text, where
    // a read that failed shows "-".
    static Value not_a_number();
    static Value array() { return Value(kArray, {}); }
    static Value object() { return Value(kObject, {}); }

    // Appends a member (objects) and returns it for filling.
    Value& set(const std::string& key, Value v);
    Value& push(Value v);

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }
    // What the text output shows of it: its own text unless it has one in Russian words or
    // plain decimals.
    const std::string& shown() const { return shown_.empty() ? text_ : shown_; }
    const std::vector<std::pair<std::string, Value>>& members() const { return members_; }
    std::vector<std::pair<std::string, Value>>& members() { return members_; }

private:
    Value(Kind k, std::string text) : kind_(k), text_(std::move(text)) {}

    Kind kind_ = kNull;
    std::string text_;
    std::string shown_;
    std::vector<std::pair<std::string, Value>> members_;  // keys empty in an array
};

// One JSON document on a line: every escape JSON needs, bytes that are not UTF-8 as U+FFFD.
std::string to_json(const Value& v);
// Characters as a terminal shows them: UTF-8 continuation bytes take no column.
size_t text_columns(const std::string& s);
// Rows of cells as aligned text: each column as wide as its widest cell, two blanks between.
std::string aligned(const std::vector<std::vector<std::string>>& rows);
// "ключ  значение" lines, the keys in Russian, nested objects indented under their key; a null
// shows as "-" (or "нет значения", not_a_number()), true and false as "да" and "нет".
std::string to_text(const Value& v);

}  // namespace varnok::cli
