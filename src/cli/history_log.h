#pragma once
// What the tool records in the unit's history: every write it makes to a device, with the old
// and the new value, profile loads, commissioning rows and checks. A store that cannot be used
// is told once on standard error; the work with the device goes on.

#include <map>
#include <string>
#include <vector>

#include "ops/configuration.h"
#include "record/history.h"

namespace varnok::cli {

class Session;

class ToolHistory {
public:
    ToolHistory(std::string path, record::StoreSharing sharing);
    const std::string& path() const { return keeper_.path(); }
    // The addressed unit as the records name it (no factory number: the device has none); its
    // name and version are read once per network number and session.
    record::Unit unit(Session& s);
    // The same with name and version the caller already read.
    record::Unit unit(Session& s, const std::string& name, const std::string& version);

    // Stores `r`; false (the store told once) when it could not be stored.
    bool append(record::HistoryRecord& r) { return keeper_.append(r); }
    record::RecordKeeper& keeper() { return keeper_; }

private:
    record::RecordKeeper keeper_;
    struct Known {
        std::string name, version;
    };
    std::map<int, Known> known_;  // by network number
};

// The old value each setting has in the device, read once before writing (by key, "scale1");
// a key the read did not give is missing.
std::map<std::string, std::string> old_values(Session& s, const std::vector<Setting>& settings);

// Writes the settings as Configuration::write does (scale and unit of a channel in one write,
// stopping at the first the device does not take) and records each write made: taken, or
// refused. Their old values come from `old` ("" where unknown). True when all were taken.
bool write_recorded(Session& s, const std::vector<Setting>& settings, const std::map<std::string, std::string>& old,
                    bool& changed_line);

}  // namespace varnok::cli
