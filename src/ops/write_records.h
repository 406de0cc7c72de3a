#pragma once
// The history's records of writes made to a unit, as the tool and the window both keep them:
// the setting's key as what was written, marked when the device did not take it, with the old
// and the new value; and the value a setting has in the device record as the last read left it.

#include <string>
#include <vector>

#include "ops/configuration.h"
#include "ops/profile.h"
#include "record/history.h"

namespace varnok {

inline constexpr const char* kNotTaken = " (не принято)";
inline constexpr const char* kNotConfirmed = " (запись прервана, не подтверждено)";

// One write of `w`: `old` is its value before ("" when unknown), `taken` whether the device took it.
record::HistoryRecord write_record(const record::Unit& unit, const Setting& w, const std::string& old, bool taken);

// A profile load from `path`: one record per change written, taken, not taken (the read-back
// still shows the old value), or not confirmed when the writing stopped at a refusal.
std::vector<record::HistoryRecord> load_records(const record::Unit& unit, const std::string& path,
                                                const Changes& written, const Configuration::Applied& done);

// Setting `name` of channel `k` as the device record holds it (the interface's from the link's
// settings): what the last read or taken write left there.
Setting held_setting(const Device& d, Setting::Name name, int k);

}  // namespace varnok
