#include "cli/session.h"

#include <cstdio>

#include "modbus/exchange.h"

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

}  // namespace

void StderrNotices::message_box(const std::string& text, const std::string& informative)
{
    std::string line = text;
    if (!informative.empty())
        line += (line.empty() || line.back() == ' ' ? "" : " ") + informative;
    for (char& c : line)
        if (c == '\n')
            c = ' ';
    std::fprintf(stderr, "%s\n", line.c_str());
}

bool InterruptKeys::pressed_since_last_query(int virtual_key)
{
    return (virtual_key == kKeyQ || virtual_key == kKeyX) && interrupted();
}

StderrReport::StderrReport(bool verbose) : verbose_(verbose), progress_(stderr_is_terminal()) {}

void StderrReport::exchange(const Exchange& x)
{
    if (!verbose_)
        return;
    end_progress();
    std::fprintf(stderr, "ЗАПРОС: %s\nОТВЕТ:  %s\n", hex(x.sent()).c_str(), hex(x.received()).c_str());
}

void StderrReport::line(const std::string& text)
{
    last_line_ = text;
    ++lines_;
    end_progress();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void StderrReport::status(const std::string& text)
{
    if (!progress_)
        return;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    progress_shown_ = true;
}

void StderrReport::end_progress()
{
    if (progress_shown_)
        std::fputs("\r\033[K", stderr);
    progress_shown_ = false;
}

Session::Session(const Options& o) : link(notices, sleeper, keys, ports), dev(link), report(o.verbose)
{
    settings_path_ = o.settings ? *o.settings : SettingsFile::default_path();
    const std::string& path = settings_path_;
    settings_ = std::make_unique<SettingsFile>(link, n_time_opros_, time_opros_, path);
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
    if (o.port) {
        port_name_ = *o.port;
        if (const int n = PortMap::number_of(*o.port); n >= 1 && n <= kPortCount) {
            link.set_port(uint8_t(n));
        } else if (o.port->empty() || o.port->rfind("COM", 0) == 0) {
            throw UsageError("порт \"" + *o.port + "\": нужно COM1..COM16, путь к устройству или tcp://УЗЕЛ:ПОРТ");
        } else {
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

bool Session::settings_unread() const { return settings_ && settings_->unreadable(); }

std::string Session::settings_problem() const
{
    return settings_unread() ? "файл настроек " + settings_path_ + " не прочитан: " + settings_->unread_reason()
                             : std::string();
}

std::string Session::connection() const
{
    const LinkSettings& line = link.settings();
    const std::string path = ports.resolve(port_name_);
    return "порт " + port_name_ + (path == port_name_ ? "" : " (" + (path.empty() ? "такого нет" : path) + ")") + ", " +
           std::to_string(line.scor_obmena) + " бит/с, паритет " + parity_name(line.parity) + ", стоповых бит " +
           std::to_string(line.stopbit) + ", прибор " + std::to_string(line.sys_num);
}

int Session::open()
{
    link.set_up_port();
    if (link.dw() == 0)
        return kExitOk;
    std::fprintf(stderr, "порт %s не открывается\n", port_name_.c_str());
    return kExitPort;
}

void Session::store_line()
{
    if (port_is_path_)
        return;
    bool stored = false;
    if (settings_) {
        stored = settings_->ToIni(false);
    } else {
        // A first file (on Windows there is no console to have made one): the line as it is now.
        settings_ = std::make_unique<SettingsFile>(link, n_time_opros_, time_opros_, settings_path_);
        settings_->open_or_create();
        stored = settings_->problem().empty();
    }
    if (!stored && !settings_->problem().empty())
        std::fprintf(stderr, "%s\n", settings_->problem().c_str());
}

}  // namespace varnok::cli
