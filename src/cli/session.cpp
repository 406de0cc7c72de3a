#include "cli/session.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "link/error_text.h"
#include "modbus/exchange.h"
#include "settings/utf8.h"

namespace varnok::cli {

namespace {

// The bytes as the exchange lines show them, without the blank after the last.
std::string hex(std::span<const uint8_t> bytes)
{
    std::string s = hex_bytes(bytes);
    if (!s.empty())
        s.pop_back();
    return s;
}

// The port number a path given on the command line is reached under: the last of the names.
constexpr uint8_t kPathPort = kPortCount;

// Each register the tool asks for, as its messages name what was being done: a read by its
// contents, a write by the setting's name ("scale1 не записана").
struct Purpose {
    uint16_t reg;
    const char* read;
    const char* key;     // a channel's setting takes the channel's number after it
    const char* ending;  // of "записан…": the gender of the setting's Russian name
};

constexpr Purpose kDevicePurposes[] = {
    {kRegLight, "чтение яркости", "brightness", "а"},
    {kRegFreq, "чтение частоты", "", ""},
    {kRegName, "чтение имени", "", ""},
    {kRegVersion, "чтение версии", "", ""},
    {kRegSysNum, "чтение номера", "address", ""},
    {kRegSpeed, "чтение скорости", "speed", "а"},
    {kRegParity, "чтение паритета", "parity", ""},
    {kRegStopBits, "чтение стоповых бит", "stopbits", "ы"},
};

constexpr Purpose kChannelPurposes[] = {
    {kOffScale, "чтение шкал", "scale", "а"},
    {kOffUstavka, "чтение шкал", "scale", "а"},
    {kOffMax, "чтение уставок", "max", "а"},
    {kOffMin, "чтение уставок", "min", "а"},
    {kOffRef, "чтение калибровки", "zero", ""},
    {kOffNcal, "чтение калибровки", "coefficient", ""},
    {kOffPWML, "чтение точек ШИМ", "pwm_low", "а"},
    {kOffPWMH, "чтение точек ШИМ", "pwm_high", "а"},
    {kOffUrms, "чтение показаний", "", ""},
    {kOffNewRef, "чтение нуля АЦП", "", ""},
    {kOffADCout, "чтение выхода АЦП", "", ""},
};

}  // namespace

std::string request_purpose(const Request& r)
{
    const bool write = r.func == kWriteMultipleRegisters || r.func == 6;
    const int k = r.na_reg / channel_base(1);
    const uint16_t offset = uint16_t(r.na_reg % channel_base(1));
    const Purpose* found = nullptr;
    if (k >= 1 && k <= kChannels) {
        for (const Purpose& p : kChannelPurposes)
            if (p.reg == offset)
                found = &p;
    } else {
        for (const Purpose& p : kDevicePurposes)
            if (p.reg == r.na_reg)
                found = &p;
    }
    char reg[8];
    std::snprintf(reg, sizeof reg, "%04X", unsigned(r.na_reg));
    if (!found || (write && !*found->key))
        return write ? std::string("регистр ") + reg + " не записан" : std::string("чтение регистра ") + reg;
    if (!write)
        return found->read;
    const bool channel = k >= 1 && k <= kChannels;
    return std::string(found->key) + (channel ? std::to_string(k) : "") + " не записан" + found->ending;
}

void StderrNotices::message_box(const std::string& text, const std::string& informative)
{
    std::string line = text;
    if (!informative.empty())
        line += (line.empty() || line.back() == ' ' ? "" : " ") + informative;
    for (char& c : line)
        if (c == '\n')
            c = ' ';
    // The port's name and path and the system's reason may hold what the settings file gave.
    if (verbose_)
        std::fprintf(stderr, "%s\n", utf8::visible(line).c_str());
    const Link& link = s_.link;
    const std::string path = link.last_path();
    const std::string port =
        "порт " + s_.port_name() + (path.empty() || path == s_.port_name() ? "" : " (" + path + ")");
    std::string own;
    if (text.rfind("ошибка настройки порта", 0) == 0 && link.hcom().broken() == kLineNotQuiet) {
        own = port + ": " + error_text_ru(kLineNotQuiet) + ", соединение закрыто";
    } else if (text.rfind("ошибка настройки порта", 0) == 0 && link.hcom().broken() != 0) {
        own = port + ": соединение разорвано: " + error_text_ru(link.hcom().broken());
    } else if (text.rfind("ошибка настройки порта", 0) == 0) {
        port_failure_told_ = true;
        own = path.empty() ? "порт " + s_.port_name() + " не сопоставлен ни одному устройству (раздел [порты] файла "
                                                         "настроек)"
                           : port + " не открывается: " +
                                 (link.failure_reason().empty() ? error_text_ru(link.failure_error())
                                                                : link.failure_reason());
    } else if (text.rfind("ошибка передачи", 0) == 0) {
        own = port + ": запрос не отправлен: " + error_text_ru(int(link.dwError()));
    } else if (!verbose_) {
        own = line;
    }
    if (!own.empty())
        std::fprintf(stderr, "%s\n", utf8::visible(own).c_str());
}

bool InterruptKeys::pressed_since_last_query(int virtual_key)
{
    return (virtual_key == kKeyQ || virtual_key == kKeyX) && interrupted();
}

bool InterruptStop::requested() const { return interrupted(); }

void InterruptibleSleeper::sleep_ms(unsigned ms)
{
    constexpr unsigned kSlice = 20;
    while (ms > 0 && !interrupted()) {
        const unsigned now = std::min(ms, kSlice);
        ThreadSleeper::sleep_ms(now);
        ms -= now;
    }
}

void InterruptibleSleeper::sleep_us(unsigned us)
{
    // The line's pauses, fractions of a millisecond, keep their precision.
    if (us >= 20000)
        sleep_ms(us / 1000);
    else if (!interrupted())
        ThreadSleeper::sleep_us(us);
}

StderrReport::StderrReport(const Session& s, bool verbose) : s_(s), verbose_(verbose), progress_(stderr_is_terminal())
{
}

void StderrReport::frames(std::span<const uint8_t> sent, std::span<const uint8_t> received)
{
    if (!verbose_)
        return;
    end_progress();
    std::fprintf(stderr, "ЗАПРОС: %s\nОТВЕТ:  %s\n", hex(sent).c_str(), hex(received).c_str());
}

void StderrReport::exchange(const Exchange& x)
{
    if (x.ok() && x.dl_note > 0 && x.ozuper[1] == silent_)
        silent_ = 0;
    frames(x.sent(), x.received());
}

void StderrReport::print(const std::string& text)
{
    last_line_ = text;
    ++lines_;
    end_progress();
    std::fprintf(stderr, "%s\n", utf8::visible(text).c_str());
}

void StderrReport::line(const std::string& text)
{
    last_code_ = -1;
    last_reason_ = text;
    print(text);
}

std::string failure_reason(uint8_t err)
{
    if (err == kTimeout || err == kNoAnswer)
        return "нет ответа";
    std::string reason = buf_error(err);
    const size_t first = reason.find_first_not_of(" \""), last = reason.find_last_not_of(" \"");
    return first == std::string::npos ? reason : reason.substr(first, last - first + 1);
}

void StderrReport::failed(const Exchange& x, const std::string& text)
{
    // Exchanges cut short by Ctrl-C failed for it, not for the device: the command says it once.
    if (interrupted()) {
        ++lines_;
        return;
    }
    if (verbose_) {
        end_progress();
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    // A busy answer is followed by the device's later one, whose outcome is told.
    if (x.err == kBusy)
        return;
    last_code_ = x.err;
    last_reason_ = failure_reason(x.err);
    const uint8_t number = x.dl_note > 0 ? x.ozuper[1] : s_.link.settings().sys_num;
    const std::string device = "прибор " + std::to_string(number);
    const std::string purpose = request_purpose(x.request);
    if (x.err == kTimeout || x.err == kNoAnswer) {
        const std::string message = device + " (" + s_.line_named() + ") не отвечает: " + purpose;
        // The rest of a silent device's requests say nothing new.
        if (number == silent_) {
            ++lines_;
            return;
        }
        silent_ = number;
        print(message);
        return;
    }
    // The device's own refusal in its words; anything else is the line's doing.
    const std::string& reason = last_reason_;
    if ((x.err >= kIllegalFunction && x.err <= kDeviceFailure) || x.err > kConvertTe)
        print(device + ": " + purpose + ": прибор ответил «" + reason + "»");
    else
        print(device + " (" + s_.line_named() + "): " + purpose + ": " + reason);
}

void StderrReport::status(const std::string& text)
{
    if (!progress_)
        return;
    std::fprintf(stderr, "\r%s\033[K", utf8::visible(text).c_str());
    progress_shown_ = true;
}

void StderrReport::end_progress()
{
    if (progress_shown_)
        std::fputs("\r\033[K", stderr);
    progress_shown_ = false;
}

std::unique_ptr<SettingsFile> Session::settings_file(const std::string& path)
{
    auto file = std::make_unique<SettingsFile>(link, path);
    // The tool polls at its own pace: a file it writes without having read one names the
    // first period.
    file->set_poll_period(0);
    return file;
}

Session::Session(const Options& o)
    : notices(*this, o.verbose), link(notices, sleeper, ports), dev(link, notices), report(*this, o.verbose)
{
    link.set_stop(&stop);
    settings_path_ = o.settings ? *o.settings : SettingsFile::default_path();
    const std::string& path = settings_path_;
    settings_ = settings_file(path);
    if (o.settings && !settings_->exists())
        throw UsageError("файл настроек " + path + " не найден");
    // The console's file gives the defaults; without one, the console's first-start values.
    if (settings_->exists()) {
        if (settings_->open_or_create()) {
            settings_->read_port();
            settings_->From_Ini();
        }
        // An unreadable file is the command's to report: whether it may go on depends on it.
        if (!settings_->problem().empty() && !settings_->unreadable())
            std::fprintf(stderr, "%s\n", settings_->problem().c_str());
        settings_->read_ports(ports);
    } else {
        settings_.reset();
    }
    std::string history_path = o.history ? *o.history : "";
    if (history_path.empty() && settings_ && !settings_->unreadable())
        history_path = settings_->history_file();
    // A store the user named may be a service's, shared by a group; the default one is private.
    const auto sharing = history_path.empty() ? record::StoreSharing::Private : record::StoreSharing::Group;
    if (history_path.empty())
        history_path = record::default_history_path();
    history_ = std::make_unique<ToolHistory>(history_path, sharing);
    if (o.port) {
        port_name_ = *o.port;
        if (const int n = PortMap::number_of(*o.port); n >= 1 && n <= kPortCount) {
            link.set_port(uint8_t(n));
        } else if (o.port->empty() || o.port->rfind("COM", 0) == 0) {
            throw UsageError("порт \"" + *o.port + "\": нужно COM1..COM16, путь к устройству или tcp://УЗЕЛ:ПОРТ");
        } else {
            named_ports_ = ports;
            ports.set(kPathPort, *o.port);
            link.set_port(kPathPort);
            port_is_path_ = true;
        }
    } else {
        port_name_ = link.settings().name_comport;
    }
    if (o.speed)
        link.set_speed(*o.speed);
    if (o.parity)
        link.set_parity(*o.parity);
    if (o.stopbit)
        link.set_stopbit(*o.stopbit);
    if (!o.addresses.empty())
        link.set_sys_num(o.addresses.front());
    link.set_fast_exchange(o.fast || link.settings().fast_exchange);
}

std::optional<std::string> Session::port_setting_name() const
{
    if (!port_is_path_)
        return port_name_;
    // The same device under another spelling (a link to it, "/dev/../dev/ttyUSB0") is the same port.
    auto same = [](const std::string& a, const std::string& b) {
        if (a == b)
            return true;
        if (a.empty() || b.empty() || a.front() != '/' || b.front() != '/')
            return false;
        std::error_code ea, eb;
        const auto ca = std::filesystem::weakly_canonical(a, ea), cb = std::filesystem::weakly_canonical(b, eb);
        return !ea && !eb && ca == cb;
    };
    const std::vector<std::string> present = PortMap::present_devices();
    for (int n = 1; n <= kPortCount; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (same(named_ports_.resolve(name, present), port_name_))
            return name;
    }
    return std::nullopt;
}

bool Session::settings_unread() const { return settings_ && settings_->unreadable(); }

std::string Session::settings_problem() const
{
    return settings_unread() ? "файл настроек " + settings_path_ + " не прочитан: " + settings_->unread_reason()
                             : std::string();
}

std::string Session::connection(const std::vector<uint8_t>& addresses) const
{
    const LinkSettings& line = link.settings();
    const std::string path = ports.resolve(port_name_);
    std::string numbers;
    for (uint8_t a : addresses.empty() ? std::vector<uint8_t>{line.sys_num} : addresses)
        numbers += (numbers.empty() ? "" : ", ") + std::to_string(a);
    // The port's name and path may come from the settings file: shown, never sent to the terminal raw.
    return "порт " + utf8::visible(port_name_) +
           (path == port_name_ ? "" : " → " + (path.empty() ? "такого нет" : utf8::visible(path))) + ", " +
           line_text(line) + (addresses.size() > 1 ? ", приборы " : ", прибор ") + numbers;
}

std::string Session::connection_source() const
{
    return settings_ ? "из файла настроек " + settings_path_
                     : "по умолчанию: файла настроек " + settings_path_ + " нет";
}

std::string Session::line_named() const { return utf8::visible(port_name_) + ", " + line_text(link.settings()); }

std::string Session::unit_line() const
{
    LinkSettings line = link.settings();
    line.name_comport = utf8::visible(port_name_);
    return varnok::unit_line(line, link.last_path());
}

int Session::open()
{
    link.set_up_port();
    if (link.dw() == 0)
        return kExitOk;
    if (!notices.port_failure_told())
        std::fprintf(stderr, "порт %s не открывается\n", utf8::visible(port_name_).c_str());
    return kExitPort;
}

bool Session::store_line()
{
    if (port_is_path_)
        return false;
    bool stored = false;
    if (settings_) {
        stored = settings_->ToIni(false);
    } else {
        // A first file (on Windows there is no console to have made one): the line as it is now.
        settings_ = settings_file(settings_path_);
        settings_->open_or_create();
        stored = settings_->problem().empty();
    }
    if (!stored && !settings_->problem().empty())
        std::fprintf(stderr, "%s\n", settings_->problem().c_str());
    return stored;
}

}  // namespace varnok::cli
