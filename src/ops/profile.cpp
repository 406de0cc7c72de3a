#include "ops/profile.h"

#include <algorithm>

#include "device/device.h"
#include "ops/polling.h"
#include "settings/utf8.h"

namespace varnok {

std::string profile_text(const std::vector<Setting>& settings, const std::string& name, const std::string& version)
{
    std::string out = "# Varnok: конфигурация прибора\n# прибор: " + utf8::visible(name) +
                      "\n# версия ПО: " + utf8::visible(version) + "\nformat=" + std::to_string(kProfileFormat) + "\n";
    for (unsigned section : {kInterface, kScales, kSetpoints, kCalibration}) {
        out += std::string("\n[") + section_name(section) + "]\n";
        for (const Setting& s : settings) {
            if (section_of(s.name) != section)
                continue;
            // No device takes a value that is not a number: it is told, not written, and a
            // load leaves the device's own value as it is.
            if (s.no_number())
                out += "# " + s.key() + ": " + s.text() + " (в приборе не число), не записано\n";
            else
                out += s.key() + "=" + s.text() + "\n";
        }
    }
    return out;
}

std::vector<Setting> parse_profile(const std::string& text)
{
    std::vector<Setting> out;
    unsigned section = 0;
    bool format = false;
    int number = 0;
    // An editor that saves UTF-8 with a byte-order mark puts it before the first line.
    size_t from = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (from < text.size()) {
        const size_t end = std::min(text.find('\n', from), text.size());
        std::string line = text.substr(from, end - from);
        from = end + 1;
        ++number;
        const std::string where = "профиль, строка " + std::to_string(number) + ": ";
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            if (!format)
                throw ValueError(where + "нет строки format=" + std::to_string(kProfileFormat) + " перед разделами");
            const std::string name = line.substr(1, line.size() - 2);
            try {
                section = parse_sections(name);
            } catch (const ValueError& e) {
                throw ValueError(where + e.what());
            }
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            throw ValueError(where + "непонятная строка \"" + utf8::visible(line) + "\"");
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "format") {
            if (format || section != 0 || value != std::to_string(kProfileFormat))
                throw ValueError(where + "формат \"" + utf8::visible(value) + "\" не поддерживается (нужен " +
                                 std::to_string(kProfileFormat) + ")");
            format = true;
            continue;
        }
        if (section == 0)
            throw ValueError(where + utf8::visible(key) + " вне раздела");
        try {
            const Setting s = parse_setting(key, value, true);
            if (section_of(s.name) != section)
                throw ValueError(s.key() + ": не из раздела " + section_name(section));
            for (const Setting& earlier : out)
                if (earlier.key() == s.key())
                    throw ValueError(s.key() + ": задан дважды");
            out.push_back(s);
        } catch (const ValueError& e) {
            throw ValueError(where + e.what());
        }
    }
    if (!format)
        throw ValueError("профиль: нет строки format=" + std::to_string(kProfileFormat) +
                         ", это не файл конфигурации прибора");
    std::stable_sort(out.begin(), out.end(), [](const Setting& a, const Setting& b) { return a.name < b.name; });
    return out;
}

std::vector<Setting> loadable(const std::vector<Setting>& profile, unsigned sections)
{
    std::vector<Setting> out;
    for (const Setting& s : profile)
        if ((section_of(s.name) & sections) && s.name != Setting::kAddress)
            out.push_back(s);
    return out;
}

bool leaves_calibration(const std::vector<Setting>& profile, unsigned sections)
{
    return !(sections & kCalibration) && std::any_of(profile.begin(), profile.end(), [](const Setting& s) {
        return section_of(s.name) == kCalibration;
    });
}

DeviceProfile read_device_profile(Device& device, Report& report, Sleeper& pauses)
{
    Polling polling(device, report);
    const std::string name = polling.read_name() ? device.tmp_text() : "?";
    const std::string version = polling.read_version() ? device.tmp_text() : "?";
    bool failed = false;
    const std::vector<Setting> settings = Configuration(device, report, pauses).read(kAllSections, failed);
    DeviceProfile p;
    p.complete = !failed;
    for (const Setting& s : settings)
        if (s.no_number())
            p.left_out.push_back(s.key());
    p.values = settings.size() - p.left_out.size();
    if (p.complete)
        p.text = profile_text(settings, name, version);
    return p;
}

ProfileLoad load_profile(Configuration& config, const std::vector<Setting>& profile, unsigned sections,
                         const std::function<bool(const Changes&)>& confirm)
{
    const std::vector<Setting> want = loadable(profile, sections);
    ProfileLoad r;
    bool failed = false;
    const std::vector<Setting> have = config.read(sections, failed);
    if (failed)
        return r;
    r.changes = differences(have, want);
    if (r.changes.empty()) {
        r.outcome = ProfileLoad::kAlreadyHeld;
        return r;
    }
    if (!confirm(r.changes)) {
        r.outcome = ProfileLoad::kDeclined;
        return r;
    }
    r.outcome = ProfileLoad::kApplied;
    r.done = config.apply(r.changes, want, sections);
    return r;
}

}  // namespace varnok
