#pragma once
// The drift of a unit between two checks: this check's as-found run against the last check's
// as-left run, per channel and per point (points matched by their percent of the scale). What
// a service looks at to set the next calibration date and to find a unit that drifts.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record/check_document.h"
#include "record/history.h"

namespace varnok::record {

struct PointDrift {
    double percent = 0;
    bool in_before = false, in_now = false;  // the point was in that run
    std::optional<double> before;  // the last check's as-left mean; none: not there or not measured
    std::optional<double> now;     // this check's as-found mean
    // Both means there: now - before, in the channel's unit, and in percent of the full scale
    // (none where the scale is 0).
    std::optional<double> difference;
    std::optional<double> of_span;
};

struct ChannelDrift {
    int channel = 1;
    double full_scale = 0;  // this check's, else the last one's
    std::string unit;
    bool in_before = false, in_now = false;
    std::vector<PointDrift> points;  // by percent, ascending
};

// `found` (this check's as-found run) against `left` (the last check's as-left run), channels
// by number.
std::vector<ChannelDrift> drift(const CheckRun& left, const CheckRun& found);

// A stored check with its record's id, time and protocol number.
struct StoredRecord {
    int64_t id = 0;
    std::string time;
    std::string protocol_number;
    StoredCheck check;
};

struct UnitDrift {
    StoredRecord now;     // the newest check of the unit with an as-found run
    StoredRecord before;  // the newest check stored before it with an as-left run
    std::vector<ChannelDrift> channels;
};

// Whether the record is of `unit`: the same factory number, or where the unit has none, the
// same network number and line.
bool same_unit(const Unit& unit, const Unit& of_record);
// What History::list is asked for the unit's records (the line is matched by same_unit).
HistoryQuery unit_query(const Unit& unit);

// The drift of `unit` from its records, newest first as History::list gives them; documents
// that cannot be read are passed over. None, with `why` as one line, where there is no check
// with an as-found run or none with an as-left run before it.
std::optional<UnitDrift> unit_drift(const std::vector<HistoryRecord>& records, const Unit& unit, std::string& why);

}  // namespace varnok::record
