#include "cli/history_log.h"

#include <cstdio>

#include "cli/session.h"
#include "ops/polling.h"
#include "ops/write_records.h"

namespace varnok::cli {

ToolHistory::ToolHistory(std::string path, record::StoreSharing sharing)
    : keeper_(std::move(path), [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, 5000,
              sharing)
{
}

record::Unit ToolHistory::unit(Session& s)
{
    const int number = s.link.settings().sys_num;
    auto it = known_.find(number);
    if (it == known_.end()) {
        VerboseLinesReport quiet(s.report, false);  // reads only for the history: no error of the command
        Polling polling(s.dev, quiet);
        Known k;
        if (polling.read_name())
            k.name = s.dev.tmp_text();
        if (polling.read_version())
            k.version = s.dev.tmp_text();
        it = known_.emplace(number, k).first;
    }
    return unit(s, it->second.name, it->second.version);
}

record::Unit ToolHistory::unit(Session& s, const std::string& name, const std::string& version)
{
    record::Unit u;
    u.name = name;
    u.version = version;
    u.network_number = s.link.settings().sys_num;
    u.line = s.unit_line();
    known_[u.network_number] = {name, version};
    return u;
}

std::map<std::string, std::string> old_values(Session& s, const std::vector<Setting>& settings)
{
    unsigned sections = 0;
    for (const Setting& w : settings)
        sections |= section_of(w.name);
    bool failed = false;
    std::map<std::string, std::string> old;
    VerboseLinesReport quiet(s.report, false);  // reads only for the history: no error of the command
    for (const Setting& have : Configuration(s.dev, quiet, s.sleeper).read(sections, failed))
        old[have.key()] = have.text();
    return old;
}

bool write_recorded(Session& s, const std::vector<Setting>& settings, const std::map<std::string, std::string>& old,
                    bool& changed_line)
{
    // The groups in the order Configuration::write sends them: each channel's scale and unit
    // together, then every other setting by itself.
    std::vector<std::vector<Setting>> groups;
    for (int k = 1; k <= kChannels; ++k) {
        std::vector<Setting> scale;
        for (const Setting& w : settings)
            if ((w.name == Setting::kScale || w.name == Setting::kUnit) && w.channel == k)
                scale.push_back(w);
        if (!scale.empty())
            groups.push_back(scale);
    }
    for (const Setting& w : settings)
        if (w.name != Setting::kScale && w.name != Setting::kUnit)
            groups.push_back({w});

    // The unit as it was addressed before anything was written: a new number comes last.
    const record::Unit unit = s.history().unit(s);
    Configuration config(s.dev, s.report, s.sleeper);
    changed_line = false;
    for (const std::vector<Setting>& group : groups) {
        bool changed = false;
        const bool taken = config.write(group, changed);
        changed_line |= changed;
        for (const Setting& w : group) {
            const auto was = old.find(w.key());
            record::HistoryRecord r = write_record(unit, w, was == old.end() ? "" : was->second, taken);
            s.history().append(r);
        }
        if (!taken)
            return false;
    }
    return true;
}

}  // namespace varnok::cli
