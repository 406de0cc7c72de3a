#include "settings/settings_file.h"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

// The build defines SI_CONVERT_ICU where the library converts through ICU (not on Windows),
// and VARNOK_INI_CRLF where text files end their lines with CRLF.
#include <SimpleIni.h>

#include "settings/utf8.h"

namespace varnok {

struct SettingsFile::Ini {
    CSimpleIniCaseA ini;
};

namespace {

constexpr const char* kLink = "связь";
constexpr const char* kTimeouts = "таймауты";
constexpr const char* kPorts = "порты";
constexpr const char* kFast = "быстрый обмен";
constexpr const char* kFastOn = "ВКЛЮЧЕН";
constexpr const char* kFastProbeWait = "ОЖИДАНИЕ ПРИ ПОИСКЕ";
constexpr const char* kJournal = "журнал";
constexpr const char* kToFile = "В ФАЙЛ";
constexpr const char* kKeepDays = "ХРАНИТЬ ДНЕЙ";
constexpr const char* kCheck = "проверка";
constexpr const char* kEngineer = "ПОВЕРИТЕЛЬ";
constexpr const char* kReferenceName = "ЭТАЛОН";
constexpr const char* kReferenceNumber = "НОМЕР ЭТАЛОНА";
constexpr const char* kReferenceDue = "ЭТАЛОН ПОВЕРЕН ДО";

// A typed text as one line of the file: control characters (a pasted line break) become
// blanks, and the blanks around it go, as the parser would drop them anyway.
std::string one_line(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Lines end as the platform's own text files do: Windows editors and the system's INI files use
// CRLF. Either is read.
constexpr std::string_view kLineEnd = VARNOK_INI_CRLF ? "\r\n" : "\n";

// Anything larger is not a settings file; refusing it keeps a stray huge file out of memory.
constexpr size_t kMaxFileSize = 1 << 20;

// The time-out keys in the order of kTimeoutFields, held without the leading blank they carry
// in the file: the parser trims key names, so this is the name under which a loaded key is found.
constexpr std::array<const char*, kTimeoutFields.size()> kTimeoutKeys = {"RIT", "RTTM", "RTTC", "WTTM", "WTTC"};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_comment(char c) { return c == ';' || c == '#'; }

std::vector<std::string_view> split_lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// Checks that the text is UTF-8 and made only of lines the parser keeps: blank lines,
// comments, [section] headers and key=value pairs. Anything else would silently vanish at
// the next write, so such a file is refused instead. Returns the reason, empty when fine.
// `trailer` gets the comment lines after the last entry, which the parser does not keep.
std::string check_text(std::string_view text, std::string& trailer)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    const auto lines = split_lines(text);
    size_t after_entries = 0;  // index of the first line after the last entry
    bool any_entry = false;
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        const std::string number = std::to_string(n + 1);
        for (size_t i = 0; i < line.size();) {
            const int32_t c = utf8::next_code_point(line, i);
            if (c < 0)
                return "строка " + number + " не в кодировке UTF-8";
            if (c == 0)
                return "строка " + number + " содержит нулевой байт";
            // A byte-order mark inside the text is a sign of pasted or damaged content, and
            // the parser would drop it from a name written at the start of the file.
            if (c == 0xFEFF)
                return "строка " + number + " содержит знак порядка байтов";
        }
        size_t first = 0;
        while (first < line.size() && is_blank(line[first]))
            ++first;
        if (first == line.size() || is_comment(line[first]))
            continue;
        const size_t eq = line.find('=', first);
        const bool kept = line[first] == '[' ? line.find(']', first) != std::string_view::npos
                                             : eq != std::string_view::npos && eq != first;
        if (!kept)
            return "строка " + number + " не является ни заголовком секции, ни парой ключ=значение";
        any_entry = true;
        after_entries = n + 1;
    }
    if (!any_entry) {
        // The parser keeps only the block of comments that opens the file.
        while (after_entries < lines.size() && !lines[after_entries].empty() && is_comment(lines[after_entries][0]))
            ++after_entries;
    }
    size_t last = lines.size();
    while (last > after_entries && lines[last - 1].find_first_not_of(" \t") == std::string_view::npos)
        --last;
    while (after_entries < last && lines[after_entries].find_first_not_of(" \t") == std::string_view::npos)
        ++after_entries;
    trailer.clear();
    for (size_t n = after_entries; n < last; ++n) {
        trailer.append(lines[n]);
        trailer.append(kLineEnd);
    }
    return {};
}

}  // namespace

SettingsFile::SettingsFile(Link& link, std::string path)
    : link_(link), path_(std::move(path)), ini_(std::make_unique<Ini>())
{
    ini_->ini.SetUnicode(true);
    ini_->ini.SetSpaces(false);
    ini_->ini.SetMultiKey(false);
    ini_->ini.SetMultiLine(false);
}

SettingsFile::~SettingsFile() = default;

void SettingsFile::set_poll_period(int index)
{
    if (index < 0 || size_t(index) >= var_time_opros.size())
        return;
    n_time_opros_ = uint8_t(index);
    time_opros_ = var_time_opros[n_time_opros_];
}

std::string SettingsFile::default_path() { return file_io::default_settings_path(); }

bool SettingsFile::exists() const { return file_io::stamp_of(path_).present; }

bool SettingsFile::load()
{
    std::string data, trailer, reason;
    file_io::Stamp stamp;
    if (file_io::read_whole(path_, kMaxFileSize, data, stamp, reason))
        reason = check_text(data, trailer);
    if (reason.empty()) {
        ini_->ini.Reset();
        if (const SI_Error rc = ini_->ini.LoadData(data); rc < 0)
            reason = "ошибка разбора (" + std::to_string(rc) + ")";
    }
    if (!reason.empty()) {
        state_ = State::unreadable;
        unread_reason_ = reason;
        problem_ = "файл настроек " + path_ + " не прочитан: " + reason + "; работаем с настройками по умолчанию";
        return false;
    }
    trailer_ = std::move(trailer);
    stamp_ = stamp;
    state_ = State::loaded;
    problem_.clear();
    return true;
}

bool SettingsFile::open_or_create()
{
    if (exists())
        return load();
    ToIni(true);
    return false;
}

// Before a write: take in whatever was put into the file since we last read or wrote it,
// so that hand edits made while the console runs are not lost. False when the file is
// there but cannot be read, and so must not be overwritten.
bool SettingsFile::refresh_before_write()
{
    switch (state_) {
    case State::unreadable: return false;
    case State::fresh:
    case State::not_created: return !exists() || load();
    case State::loaded:
    case State::created: {
        const file_io::Stamp now = file_io::stamp_of(path_);
        return !now.present || now == stamp_ || load();
    }
    }
    return false;
}

std::string SettingsFile::refusal() const
{
    return "файл настроек " + path_ + " не записан: он не прочитан (" + unread_reason_ +
           "), и запись уничтожила бы его содержимое";
}

bool SettingsFile::ToIni(bool Always)
{
    const bool writable = refresh_before_write();
    CSimpleIniCaseA& ini = ini_->ini;
    const LinkSettings& line = link_.settings();
    if (writable) {
        ini.SetValue(kLink, "ПОРТ", std::to_string(line.num_name_comport).c_str());
        ini.SetValue(kLink, "НОМЕР", std::to_string(line.sys_num).c_str());
        ini.SetValue(kLink, "СКОРОСТЬ", std::to_string(line.scor_obmena).c_str());
        ini.SetValue(kLink, "ПАРИТЕТ", std::to_string(line.parity).c_str());
        ini.SetValue(kLink, "СТОПБИТ", std::to_string(line.stopbit).c_str());
        ini.SetValue(kLink, "ПЕРИОД ОПРОСА", std::to_string(n_time_opros_).c_str());
        // The fast exchange is remembered once it was switched on; a file that never had it
        // (a first start among them) keeps only the sections above.
        if (!Always && (line.fast_exchange || ini.GetValue(kFast, kFastOn, nullptr)))
            ini.SetValue(kFast, kFastOn, line.fast_exchange ? "1" : "0");
    }
    if (Always) {
        if (writable)
            for (size_t i = 0; i < kTimeoutKeys.size(); ++i)
                ini.SetValue(kTimeouts, kTimeoutKeys[i], std::to_string(line.n_timeouts.*kTimeoutFields[i]).c_str());
        link_.put_stored_timeouts_in_force();
    }
    if (!writable) {
        problem_ = refusal();
        return false;
    }
    return save();
}

bool SettingsFile::set_frame_log(bool on)
{
    if (!refresh_before_write()) {
        problem_ = refusal();
        return false;
    }
    ini_->ini.SetValue(kJournal, kToFile, on ? "1" : "0");
    return save();
}

bool SettingsFile::frame_log() const { return get_int(kJournal, kToFile, 0, 0, 1) == 1; }

std::string SettingsFile::history_file() const
{
    const char* value = ini_ ? ini_->ini.GetValue("история", "файл", nullptr) : nullptr;
    return value ? std::string(value) : std::string();
}

SettingsFile::CheckDefaults SettingsFile::check_defaults() const
{
    auto text = [this](const char* key) {
        const char* value = ini_->ini.GetValue(kCheck, key, nullptr);
        return value ? std::string(value) : std::string();
    };
    return {text(kEngineer), text(kReferenceName), text(kReferenceNumber), text(kReferenceDue)};
}

bool SettingsFile::set_check_defaults(const CheckDefaults& values)
{
    if (!refresh_before_write()) {
        problem_ = refusal();
        return false;
    }
    CSimpleIniCaseA& ini = ini_->ini;
    ini.SetValue(kCheck, kEngineer, one_line(values.engineer).c_str());
    ini.SetValue(kCheck, kReferenceName, one_line(values.reference_name).c_str());
    ini.SetValue(kCheck, kReferenceNumber, one_line(values.reference_number).c_str());
    ini.SetValue(kCheck, kReferenceDue, one_line(values.reference_due).c_str());
    return save();
}

int SettingsFile::frame_log_days() const { return int(get_int(kJournal, kKeepDays, 30, 0, kMaxFrameLogDays)); }

// Writes the file from the INI object, creating it when it is not there yet.
bool SettingsFile::save()
{
    std::string reason;
    const bool creating = state_ == State::fresh || state_ == State::not_created;
    if (!file_io::replace(path_, render(), stamp_, reason)) {
        if (creating) {
            state_ = State::not_created;
            problem_ = "файл настроек " + path_ + " не создан: " + reason + "; работаем с настройками по умолчанию";
        } else {
            problem_ = "файл настроек " + path_ + " не записан: " + reason;
        }
        return false;
    }
    if (creating)
        state_ = State::created;
    problem_.clear();
    return true;
}

// The file's text: the parser's output with runs of blank lines cut to one, the time-out
// keys given back their leading blank, and the closing comments the parser drops put back;
// every line ended with kLineEnd.
std::string SettingsFile::render() const
{
    std::string saved;
    ini_->ini.Save(saved, false);
    std::string out;
    out.reserve(saved.size() + trailer_.size() + 8);
    bool in_timeouts = false;
    bool blank_before = true;
    for (std::string_view line : split_lines(saved)) {
        const bool blank = line.empty();
        if (blank && blank_before)
            continue;
        blank_before = blank;
        if (!line.empty() && line[0] == '[') {
            in_timeouts = line == std::string("[") + kTimeouts + "]";
        } else if (in_timeouts) {
            for (const char* key : kTimeoutKeys) {
                const std::string_view name = key;
                if (line.size() > name.size() && line.substr(0, name.size()) == name && line[name.size()] == '=') {
                    out += ' ';
                    break;
                }
            }
        }
        out.append(line);
        out.append(kLineEnd);
    }
    if (!trailer_.empty()) {
        out.append(kLineEnd);
        out += trailer_;
    }
    return out;
}

long SettingsFile::get_int(const char* section, const char* key, long def, long lo, long hi) const
{
    const char* value = ini_->ini.GetValue(section, key, nullptr);
    if (!value)
        return def;
    const std::string_view text = value;
    long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < lo || n > hi)
        return def;
    return n;
}

void SettingsFile::read_port()
{
    if (!usable())
        return;
    link_.set_port(uint8_t(get_int(kLink, "ПОРТ", kDefaultLinkSettings.num_name_comport, 1, kPortCount)));
}

void SettingsFile::From_Ini()
{
    if (!usable())
        return;
    const LinkSettings& d = kDefaultLinkSettings;
    link_.set_sys_num(uint8_t(get_int(kLink, "НОМЕР", kFileDefaultSysNum, 1, 247)));
    // Only the six line speeds: from any other the link would derive its timing for a speed
    // no device runs at (at 1 bit/s one exchange lasts half a minute).
    const auto speed = int32_t(get_int(kLink, "СКОРОСТЬ", d.scor_obmena, 0, INT32_MAX));
    link_.set_speed(number_scor(speed) != 0 ? speed : d.scor_obmena);
    link_.set_parity(uint8_t(get_int(kLink, "ПАРИТЕТ", d.parity, 0, 2)));
    link_.set_stopbit(uint8_t(get_int(kLink, "СТОПБИТ", d.stopbit, 1, 2)));
    n_time_opros_ =
        uint8_t(get_int(kLink, "ПЕРИОД ОПРОСА", kFileDefaultPollPeriod, 0, long(var_time_opros.size()) - 1));
    Timeouts in_force{};
    for (size_t i = 0; i < kTimeoutKeys.size(); ++i)
        in_force.*kTimeoutFields[i] =
            uint16_t(get_int(kTimeouts, kTimeoutKeys[i], d.timeouts.*kTimeoutFields[i], 0, UINT16_MAX));
    link_.set_timeouts(in_force);
    link_.set_fast_exchange(get_int(kFast, kFastOn, d.fast_exchange, 0, 1) == 1);
    link_.set_fast_probe_wait(uint16_t(get_int(kFast, kFastProbeWait, d.fast_probe_wait, 0, 1000)));
    time_opros_ = var_time_opros[n_time_opros_];
}

void SettingsFile::read_ports(PortMap& map) const
{
    for (int n = 1; n <= kPortCount; ++n) {
        const std::string key = "COM" + std::to_string(n);
        const char* path = ini_->ini.GetValue(kPorts, key.c_str(), nullptr);
        if (path && *path)
            map.set(n, path);
    }
}

}  // namespace varnok
