#include "ops/profile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

#include "device/device.h"
#include "ops/polling.h"
#include "settings/file_io.h"
#include "settings/utf8.h"

namespace varnok {

namespace {

// The closing line: "# crc32=" and eight hexadecimal digits, the CRC-32 (as zip and PNG
// compute it) of every byte before the line. A comment to a reader that does not know it.
constexpr std::string_view kClosing = "# crc32=";

uint32_t crc32(std::string_view bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string hex8(uint32_t v)
{
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", unsigned(v));
    return buf;
}

bool closing_line(std::string_view line) { return line.substr(0, kClosing.size()) == kClosing; }

// The eight hexadecimal digits of a closing line (a CR before its newline allowed).
std::optional<uint32_t> closing_sum(std::string_view line)
{
    line.remove_prefix(kClosing.size());
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    uint32_t v = 0;
    const auto r = std::from_chars(line.data(), line.data() + line.size(), v, 16);
    if (line.size() != 8 || r.ec != std::errc() || r.ptr != line.data() + line.size())
        return std::nullopt;
    return v;
}

}  // namespace

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
    return out + std::string(kClosing) + hex8(crc32(out)) + "\n";
}

namespace {

// The text before the closing line, checked against its sum (`checked`); the whole text when
// it has none. The closing line, when there is one, is the last and checks every byte before it.
std::string_view checked_body(const std::string& whole, bool& checked)
{
    // A file cut short ends inside a line: "max1=22" of "max1=225" must not load.
    if (!whole.empty() && whole.back() != '\n')
        throw ValueError("профиль, строка " + std::to_string(std::count(whole.begin(), whole.end(), '\n') + 1) +
                         ": не кончается переводом строки, файл обрезан");
    std::string_view text = whole;
    const size_t before = text.size() < 2 ? std::string_view::npos : text.rfind('\n', text.size() - 2);
    const size_t last = before == std::string_view::npos ? 0 : before + 1;
    const std::string_view line = text.empty() ? text : text.substr(last, text.size() - 1 - last);
    if (!closing_line(line))
        return text;
    const std::string where =
        "профиль, строка " + std::to_string(std::count(whole.begin(), whole.begin() + std::ptrdiff_t(last), '\n') + 1) +
        ": ";
    const std::optional<uint32_t> sum = closing_sum(line);
    if (!sum)
        throw ValueError(where + "строка контрольной суммы испорчена: нужно \"" + std::string(kClosing) +
                         "\" и восемь шестнадцатеричных цифр");
    text = text.substr(0, last);
    if (const uint32_t have = crc32(text); have != *sum)
        throw ValueError(where + "контрольная сумма " + hex8(*sum) + " не сходится с файлом (" + hex8(have) +
                         "): файл изменён или повреждён; правленный вручную файл загружается без последней строки");
    checked = true;
    return text;
}

}  // namespace

ProfileFile parse_profile_file(const std::string& whole)
{
    ProfileFile file;
    std::vector<Setting>& out = file.settings;
    const std::string_view text = checked_body(whole, file.checked);
    unsigned section = 0;
    bool format = false;
    int number = 0;
    // An editor that saves UTF-8 with a byte-order mark puts it before the first line.
    size_t from = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (from < text.size()) {
        const size_t end = std::min(text.find('\n', from), text.size());
        std::string line(text.substr(from, end - from));
        from = end + 1;
        ++number;
        const std::string where = "профиль, строка " + std::to_string(number) + ": ";
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (closing_line(line))
            throw ValueError(where + "строка контрольной суммы не последняя: после неё в файле ещё строки");
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
    return file;
}

std::vector<Setting> parse_profile(const std::string& text) { return parse_profile_file(text).settings; }

ProfileFile read_profile_file(const std::string& path)
{
    std::string text, reason;
    file_io::Stamp stamp;
    if (!file_io::read_whole(path, 1 << 16, text, stamp, reason))
        throw ValueError("файл " + path + " не прочитан: " + reason);
    return parse_profile_file(text);
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
