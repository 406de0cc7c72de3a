#include "cli/mqtt_publisher.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#include "cli/options.h"
#include "cli/session.h"

namespace varnok::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kFirstRetry = 500ms;
constexpr auto kLongestRetry = 30s;
constexpr auto kConnackWait = 10s;
constexpr int kKeepAlive = 30;
// A topic prefix is a few levels of names; a longer one would make the spool's path too long.
constexpr size_t kLongestPrefix = 256;

// Each device has a connection of its own (its own last will); the user hears once that the
// broker is away and once that it is back, for all of them.
std::mutex g_tell_mutex;
int g_down = 0;

void tell_down(const std::string& where, const std::string& why)
{
    std::lock_guard lock(g_tell_mutex);
    if (g_down++ == 0)
        std::fprintf(stderr, "брокер %s недоступен (%s): показания копятся в очереди и уйдут, когда связь вернётся\n",
                     where.c_str(), why.c_str());
}

void tell_up(const std::string& where)
{
    std::lock_guard lock(g_tell_mutex);
    if (--g_down == 0)
        std::fprintf(stderr, "брокер %s снова на связи\n", where.c_str());
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// %XX as the byte XX; `where` names the part of the address for the message, which never
// quotes the text.
std::string percent_decoded(const std::string& s, const char* where)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            const int hi = i + 2 < s.size() ? hex_digit(s[i + 1]) : -1;
            const int lo = hi >= 0 ? hex_digit(s[i + 2]) : -1;
            if (lo < 0)
                throw UsageError(std::string("--mqtt: неверная запись %XX ") + where);
            // The library takes the user and the password as C strings: a zero byte would cut
            // them there and log in with what comes before it.
            if (hi == 0 && lo == 0)
                throw UsageError(std::string("--mqtt: %00 (нулевой байт) ") + where + " недопустим");
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Text a broker takes in a topic: UTF-8 (shortest forms, no surrogates), without control
// characters (U+0000..U+001F, U+007F..U+009F) and non-characters.
bool topic_text(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        uint32_t c = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        for (size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (t & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || c <= 0x1F || (c >= 0x7F && c <= 0x9F) ||
            (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE)
            return false;
        i += n;
    }
    return true;
}

// The spool folder of a topic: one name for one topic and no other (bytes other than letters,
// digits, '.', '-' and '_' as %XX), cut into folders of at most 200 bytes for the file system.
std::filesystem::path spool_folder(const std::string& topic)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string name;
    for (const char ch : topic) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_')
            name += ch;
        else
            name += {'%', hex[c >> 4], hex[c & 15]};
    }
    std::filesystem::path out;
    for (size_t at = 0; at < name.size(); at += 200)
        out /= name.substr(at, 200);
    return out;
}

// The topic of a spool folder (its path under the broker's folder), as spool_folder() made it.
std::string topic_of_folder(const std::filesystem::path& relative)
{
    std::string name;
    for (const auto& part : relative)
        name += part.string();
    std::string topic;
    for (size_t i = 0; i < name.size(); ++i) {
        const int hi = name[i] == '%' && i + 2 < name.size() ? hex_digit(name[i + 1]) : -1;
        const int lo = hi >= 0 ? hex_digit(name[i + 2]) : -1;
        if (lo >= 0) {
            topic += char(hi * 16 + lo);
            i += 2;
        } else {
            topic += name[i];
        }
    }
    return topic;
}

// Readings a run under another line name left for these devices stay in their own spool (a
// spool is one topic's): told, with how to send them, rather than forgotten.
void tell_other_lines(const std::filesystem::path& broker, const std::string& prefix, const std::string& line,
                      const std::vector<uint8_t>& addresses)
{
    std::map<std::filesystem::path, size_t> left;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(broker, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->path().extension() == ".json")
            ++left[it->path().parent_path()];
    for (const auto& [folder, count] : left) {
        const std::string topic = topic_of_folder(folder.lexically_relative(broker));
        if (topic.rfind(prefix + "/", 0) != 0)
            continue;
        const std::string rest = topic.substr(prefix.size() + 1);
        const size_t slash = rest.rfind('/');
        if (slash == std::string::npos || slash == 0 || rest.substr(0, slash) == line || rest.find('/') != slash)
            continue;
        const std::string number = rest.substr(slash + 1);
        bool ours = false;
        for (uint8_t a : addresses)
            ours |= number == std::to_string(a);
        if (ours)
            std::fprintf(stderr,
                         "в очереди темы %s осталось показаний: %zu; они уйдут, когда линию снова опросят как "
                         "--line %s\n",
                         topic.c_str(), count, rest.substr(0, slash).c_str());
    }
}

void library_init()
{
    static const int once = mosquitto_lib_init();
    (void)once;
}

}  // namespace

std::string MqttTarget::where() const
{
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

MqttTarget parse_mqtt_url(const std::string& url)
{
    const std::string form = "--mqtt: нужно mqtt://[ИМЯ[:ПАРОЛЬ]@]УЗЕЛ[:ПОРТ]/ПРЕФИКС или mqtts://...";
    MqttTarget t;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        t.tls = true;
        t.port = 8883;
    } else {
        throw UsageError(form);
    }
    // The user and the password run to the last '@', so that a password may hold '/', ':' and
    // '@' as they are; none of it is ever quoted in a message.
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        const std::string userinfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = userinfo.find(':');
        t.user = percent_decoded(userinfo.substr(0, colon), "в имени или пароле");
        if (colon != std::string::npos)
            t.password = percent_decoded(userinfo.substr(colon + 1), "в имени или пароле");
        if (t.user.empty())
            throw UsageError("--mqtt: пустое имя пользователя");
    }
    const size_t slash = rest.find('/');
    if (slash == std::string::npos)
        throw UsageError(form);
    std::string authority = rest.substr(0, slash);
    t.prefix = percent_decoded(rest.substr(slash + 1), "в префиксе");
    while (!t.prefix.empty() && t.prefix.back() == '/')
        t.prefix.pop_back();
    if (t.prefix.empty() || t.prefix.front() == '/' || t.prefix.find_first_of("+#") != std::string::npos)
        throw UsageError("--mqtt: префикс темы не пуст и без символов + и #");
    if (!topic_text(t.prefix))
        throw UsageError("--mqtt: префикс темы не в UTF-8 или с управляющими символами: брокер его не примет");
    if (t.prefix.size() > kLongestPrefix)
        throw UsageError("--mqtt: префикс темы длиннее " + std::to_string(kLongestPrefix) + " байт");
    std::string port;
    bool has_port = false;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            throw UsageError(form);
        t.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                throw UsageError(form);
            port = authority.substr(close + 2);
            has_port = true;
        }
    } else {
        const size_t colon = authority.find(':');
        t.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            port = authority.substr(colon + 1);
            has_port = true;
        }
    }
    if (t.host.empty())
        throw UsageError(form);
    if (has_port)
        t.port = int(parse_number(port, 1, 65535, "порт брокера"));
    return t;
}

std::string read_password_file(const std::string& path)
{
    // Non-blocking: a pipe (--password-file <(...)) or a FIFO is read as it comes, with a time
    // limit, and a FIFO no one writes to does not hang the run.
    const std::string head = "файл пароля " + path + " не прочитан: ";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw UsageError(head + std::strerror(errno));
    struct stat st;
    std::string why;
    if (::fstat(fd, &st) != 0)
        why = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        why = "на месте файла папка";
    else if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
        why = "не файл и не канал";
    const bool fifo = why.empty() && S_ISFIFO(st.st_mode);
    const auto until = Clock::now() + 10s;
    std::string text;
    bool waited = false;
    char buf[512];
    while (why.empty() && text.find_first_of("\r\n") == std::string::npos) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, size_t(n));
            if (text.size() > 4096)
                why = "длиннее 4096 байт";
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            why = std::strerror(errno);
            break;
        }
        // The end of the file, or of the pipe once a writer has come and gone.
        if (n == 0 && (!fifo || !text.empty() || waited))
            break;
        // In slices: Ctrl-C that came just before the wait ends it too.
        if (interrupted()) {
            why = "прервано";
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int r = left > 0 ? ::poll(&p, 1, int(std::min<long long>(left, 100))) : 0;
        if (r == 0 && left <= 100)
            why = "пароль не пришёл за 10 с";
        waited = r > 0;
    }
    ::close(fd);
    text = text.substr(0, text.find_first_of("\r\n"));
    if (why.empty() && text.find('\0') != std::string::npos)
        why = "в пароле нулевой байт";
    if (!why.empty())
        throw UsageError(head + why);
    return text;
}

std::string hold_cafile(const std::string& path)
{
    // As the password file: opened without waiting, a pipe read as it comes within a time limit,
    // so that neither a FIFO no one writes to nor a slow writer holds the run for ever.
    const std::string head = "--cafile " + path + " не прочитан: ";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw UsageError(head + std::strerror(errno));
    struct stat st;
    std::string why;
    if (::fstat(fd, &st) != 0)
        why = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        why = "на месте файла папка";
    else if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
        why = "не файл и не канал";
    const bool fifo = why.empty() && S_ISFIFO(st.st_mode);
    const auto until = Clock::now() + 10s;
    std::string text;
    bool waited = false;
    char buf[4096];
    while (why.empty()) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, size_t(n));
            if (text.size() > (1u << 20))
                why = "длиннее 1 МиБ";
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            why = std::strerror(errno);
            break;
        }
        // The end of the file, or of the pipe once a writer has come and gone.
        if (n == 0 && (!fifo || !text.empty() || waited))
            break;
        // In slices: Ctrl-C that came just before the wait ends it too.
        if (interrupted()) {
            why = "прервано";
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int r = left > 0 ? ::poll(&p, 1, int(std::min<long long>(left, 100))) : 0;
        if (r == 0 && left <= 100)
            why = "сертификаты не пришли за 10 с";
        waited = r > 0;
    }
    ::close(fd);
    if (!why.empty())
        throw UsageError(head + why);
    // The TLS library opens the file by its name, on each connection: it gets a copy in memory
    // that stays open for the whole run, so that a pipe read once still serves every reconnect.
    const int copy = ::memfd_create("varnok-cafile", MFD_CLOEXEC);
    size_t done = 0;
    while (copy >= 0 && done < text.size()) {
        const ssize_t n = ::write(copy, text.data() + done, text.size() - done);
        if (n <= 0)
            throw UsageError(head + std::strerror(errno));
        done += size_t(n);
    }
    if (copy < 0)
        throw UsageError(head + std::strerror(errno));
    return "/proc/self/fd/" + std::to_string(copy);
}

void check_line_name(const std::string& name)
{
    if (name.empty() || name.find_first_of("/+#") != std::string::npos || !topic_text(name))
        throw UsageError(
            "--line: имя линии — одно звено темы MQTT, непустое, UTF-8 без /, +, # и управляющих символов");
    if (name.size() > 64)
        throw UsageError("--line: имя линии длиннее 64 байт");
}

std::string topic_level(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_'))
            c = '_';
    return out.empty() ? "_" : out;
}

MqttPublisher::MqttPublisher(const MqttTarget& target, std::string topic, const std::filesystem::path& spool_dir,
                             uint64_t spool_limit)
    : target_(target), topic_(std::move(topic)), spool_(spool_dir, spool_limit)
{
    library_init();
    const std::string id = "varnok-cli-" + std::to_string(::getpid()) + "-" + topic_level(topic_);
    mosq_ = mosquitto_new(id.substr(0, 200).c_str(), true, this);
    if (!mosq_)
        throw std::runtime_error("клиент MQTT не создаётся");
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(
        mosq_, [](mosquitto*, void* self, int rc) { static_cast<MqttPublisher*>(self)->on_connect(rc); });
    mosquitto_disconnect_callback_set(
        mosq_, [](mosquitto*, void* self, int) { static_cast<MqttPublisher*>(self)->on_disconnect(); });
    mosquitto_publish_callback_set(
        mosq_, [](mosquitto*, void* self, int mid) { static_cast<MqttPublisher*>(self)->on_publish(mid); });
    const std::string status = topic_ + "/status";
    int rc = mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !target_.user.empty())
        rc = mosquitto_username_pw_set(mosq_, target_.user.c_str(),
                                       target_.password ? target_.password->c_str() : nullptr);
    // Without --cafile the system's trust store, wherever OpenSSL's defaults put it.
    if (rc == MOSQ_ERR_SUCCESS && target_.tls)
        rc = target_.cafile.empty()
                 ? mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                 : mosquitto_tls_set(mosq_, target_.cafile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(mosq_);
        throw std::runtime_error("клиент MQTT для " + status + " не настраивается: " + mosquitto_strerror(rc));
    }
}

MqttPublisher::~MqttPublisher()
{
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            stop_deadline_ = Clock::now();
        }
        changed_.notify_all();
        thread_.join();
    }
    mosquitto_destroy(mosq_);
}

void MqttPublisher::begin()
{
    thread_ = std::thread([this] { loop(); });
}

MqttPublisher::Start MqttPublisher::await(Clock::time_point deadline)
{
    std::unique_lock lock(mutex_);
    // Ctrl-C ends the wait too: the run then ends before its first poll.
    while (!answered_ && !interrupted() && Clock::now() < deadline)
        changed_.wait_for(lock, 50ms);
    if (state_ == kRefusedState) {
        lock.unlock();
        thread_.join();
        return kRefused;
    }
    return state_ == kUp ? kConnected : kUnreachable;
}

void MqttPublisher::info(const std::string& json) { announce(topic_ + "/info", json); }

void MqttPublisher::announce(const std::string& topic, const std::string& json)
{
    std::lock_guard lock(mutex_);
    std::string& held = retained_[topic];
    if (json == held)
        return;  // a device without its scales yet is asked again each poll: no news, no message
    held = json;
    retained_due_.insert(topic);
}

void MqttPublisher::answering(bool yes)
{
    std::lock_guard lock(mutex_);
    const Device now = yes ? kOnline : kOffline;
    if (now == device_)
        return;
    device_ = now;
    status_due_ = true;
}

void MqttPublisher::reading(const std::string& json)
{
    size_t dropped = 0;
    try {
        dropped = spool_.push(json);
    } catch (const std::runtime_error& e) {
        // Told once; the count is told at the end, and fails the run.
        std::lock_guard lock(mutex_);
        if (not_spooled_++ == 0)
            std::fprintf(stderr, "%s\n", e.what());
        return;
    }
    if (dropped == 0)
        return;
    std::lock_guard lock(mutex_);
    unreported_drops_ += dropped;
    dropped_ += dropped;
    if (!told_full_) {
        told_full_ = true;
        std::fprintf(stderr, "очередь %s полна: старейшие показания отбрасываются\n", spool_.dir().c_str());
    }
}

void MqttPublisher::report_drops()
{
    if (unreported_drops_ == 0)
        return;
    std::fprintf(stderr, "очередь %s была полна: отброшено старейших показаний: %zu\n", spool_.dir().c_str(),
                 unreported_drops_);
    unreported_drops_ = 0;
    told_full_ = false;
}

void MqttPublisher::tell_set_aside()
{
    if (told_aside_ || spool_.set_aside_count() == 0)
        return;
    told_aside_ = true;
    std::fprintf(stderr, "очередь %s: %s\n", spool_.dir().c_str(), spool_.set_aside_first().c_str());
}

bool MqttPublisher::refused(int rc)
{
    return rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_MALFORMED_UTF8 ||
           rc == MOSQ_ERR_QOS_NOT_SUPPORTED || rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_NOT_SUPPORTED;
}

void MqttPublisher::stop(Clock::time_point deadline)
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        stop_deadline_ = deadline;
    }
    changed_.notify_all();
}

bool MqttPublisher::finish()
{
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(mutex_);
    report_drops();
    tell_set_aside();
    if (not_spooled_)
        std::fprintf(stderr, "очередь %s: не записано показаний: %zu\n", spool_.dir().c_str(), not_spooled_);
    if (const size_t aside = spool_.set_aside_count())
        std::fprintf(stderr, "очередь %s: отложено сообщений, которые не отправить: %zu (файлы *.bad)\n",
                     spool_.dir().c_str(), aside);
    const size_t left = spool_.size();
    if (left)
        std::fprintf(stderr, "в очереди %s осталось показаний: %zu; они уйдут при следующем запуске\n",
                     spool_.dir().c_str(), left);
    return left == 0 && not_spooled_ == 0 && dropped_ == 0 && spool_.set_aside_count() == 0;
}

void MqttPublisher::on_connect(int rc)
{
    std::lock_guard lock(mutex_);
    answered_ = true;
    if (rc == 0) {
        state_ = kUp;
        was_up_ = true;
        inflight_mid_ = -1;  // what was on its way goes again
        for (const auto& [topic, json] : retained_)
            retained_due_.insert(topic);
        // The broker may have said "offline" by the will while the connection was away.
        status_due_ = device_ != kNotHeard;
        if (told_down_) {
            told_down_ = false;
            tell_up(target_.where());
        }
        report_drops();
    } else if (rc == 4 || rc == 5) {
        state_ = kRefusedState;
    }
    changed_.notify_all();
}

void MqttPublisher::on_disconnect() { connection_lost("связь прервана"); }

void MqttPublisher::on_publish(int mid)
{
    std::lock_guard lock(mutex_);
    if (mid == inflight_mid_) {
        spool_.pop(inflight_seq_);
        inflight_mid_ = -1;
    }
    if (mid == goodbye_mid_)
        goodbye_acked_ = true;
    changed_.notify_all();
}

void MqttPublisher::connection_lost(const std::string& why)
{
    std::lock_guard lock(mutex_);
    answered_ = true;
    if (state_ == kRefusedState)
        return;
    state_ = kDown;
    inflight_mid_ = -1;
    if (!told_down_ && !stop_) {
        told_down_ = true;
        tell_down(target_.where(), why);
    }
    changed_.notify_all();
}

void MqttPublisher::loop()
{
    auto retry = std::chrono::duration_cast<Clock::duration>(kFirstRetry);
    auto next_try = Clock::now();
    auto connack_due = Clock::now();
    bool socket = false;
    bool last_try = false;
    auto failed = [&](int rc) {
        if (socket)
            mosquitto_disconnect(mosq_);
        socket = false;
        connection_lost(rc == MOSQ_ERR_ERRNO ? std::strerror(errno)
                        : rc == MOSQ_ERR_TLS ? "ошибка TLS"
                                             : mosquitto_strerror(rc));
        next_try = Clock::now() + retry;
        retry = std::min<Clock::duration>(retry * 2, kLongestRetry);
    };
    for (;;) {
        const auto now = Clock::now();
        {
            std::unique_lock lock(mutex_);
            if (state_ == kRefusedState)
                break;
            if (stop_) {
                // The goodbye's acknowledgement gets 2 s more, half a second after Ctrl-C.
                if (goodbye_acked_ || now >= stop_deadline_ + (interrupted() ? 500ms : 2000ms) ||
                    (state_ != kUp && (spool_.size() == 0 || now >= stop_deadline_)))
                    break;
                // Away from the broker at the end: one more try at once, not a wait.
                if (!socket && last_try)
                    break;
                if (!socket) {
                    last_try = true;
                    next_try = now;
                }
            }
            if (!socket && now < next_try) {
                changed_.wait_until(lock, std::min(next_try, now + 50ms));
                continue;
            }
        }
        if (!socket) {
            {
                std::lock_guard lock(mutex_);
                state_ = kConnecting;
            }
            if (const int rc = mosquitto_connect_async(mosq_, target_.host.c_str(), target_.port, kKeepAlive);
                rc != MOSQ_ERR_SUCCESS) {
                failed(rc);
                continue;
            }
            socket = true;
            connack_due = Clock::now() + kConnackWait;
        }
        const int rc = mosquitto_loop(mosq_, 50, 1);
        std::unique_lock lock(mutex_);
        if (state_ == kRefusedState)
            break;
        if (rc != MOSQ_ERR_SUCCESS || (state_ == kConnecting && Clock::now() > connack_due)) {
            lock.unlock();
            failed(rc != MOSQ_ERR_SUCCESS ? rc : MOSQ_ERR_TIMEOUT);
            continue;
        }
        if (state_ != kUp)
            continue;
        retry = std::chrono::duration_cast<Clock::duration>(kFirstRetry);
        for (auto t = retained_due_.begin(); t != retained_due_.end();) {
            const std::string& json = retained_[*t];
            const int prc = mosquitto_publish(mosq_, nullptr, t->c_str(), int(json.size()), json.data(), 1, true);
            if (refused(prc) && !told_refused_) {
                told_refused_ = true;
                std::fprintf(stderr, "%s: сообщение не принято: %s\n", t->c_str(), mosquitto_strerror(prc));
            }
            t = prc == MOSQ_ERR_SUCCESS || refused(prc) ? retained_due_.erase(t) : std::next(t);
        }
        if (status_due_ && goodbye_mid_ < 0) {
            const std::string t = topic_ + "/status";
            const char* word = device_ == kOnline ? "online" : "offline";
            const int prc = mosquitto_publish(mosq_, nullptr, t.c_str(), int(std::strlen(word)), word, 1, true);
            if (prc == MOSQ_ERR_SUCCESS || refused(prc))
                status_due_ = false;
            if (refused(prc) && !told_refused_) {
                told_refused_ = true;
                std::fprintf(stderr, "%s: сообщение не принято: %s\n", t.c_str(), mosquitto_strerror(prc));
            }
        }
        const bool saying_goodbye = stop_ && (spool_.size() == 0 || Clock::now() >= stop_deadline_);
        if (saying_goodbye && goodbye_mid_ < 0) {
            const std::string t = topic_ + "/status";
            if (refused(mosquitto_publish(mosq_, &goodbye_mid_, t.c_str(), 7, "offline", 1, true)))
                goodbye_acked_ = true;  // the last will says it, at the disconnect
        }
        if (!saying_goodbye && inflight_mid_ < 0) {
            lock.unlock();
            const std::optional<Spool::Entry> next = spool_.front();
            lock.lock();
            tell_set_aside();
            if (next && state_ == kUp && inflight_mid_ < 0) {
                const std::string t = topic_ + "/readings";
                int mid = -1;
                const int prc =
                    mosquitto_publish(mosq_, &mid, t.c_str(), int(next->text.size()), next->text.data(), 1, false);
                if (prc == MOSQ_ERR_SUCCESS) {
                    inflight_mid_ = mid;
                    inflight_seq_ = next->seq;
                } else if (refused(prc)) {
                    // Never tried again ahead of the rest: out of the queue, counted at the end.
                    spool_.set_aside(next->seq,
                                     std::string("библиотека MQTT не принимает: ") + mosquitto_strerror(prc));
                    tell_set_aside();
                }
            }
        }
    }
    if (socket) {
        mosquitto_disconnect(mosq_);
        for (int i = 0; i < 3 && mosquitto_loop(mosq_, 10, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
    }
    std::lock_guard lock(mutex_);
    if (told_down_) {
        told_down_ = false;
        std::lock_guard tell(g_tell_mutex);
        --g_down;
    }
}

const bool kMqttBuilt = true;
const char* const kMqttHelp =
    "--mqtt: каждый опрос прибора сообщением JSON в ПРЕФИКС/ЛИНИЯ/НОМЕР/readings (QoS 1),\n"
    "имя, версия, шкалы и уставки в .../info (хранимое). .../status (хранимое): online,\n"
    "когда прибор ответил, offline, когда он не ответил 3 опроса подряд (причина в\n"
    "offline_reason сообщения info) и когда программа завершилась или пропала.\n"
    "Имя и пароль в адресе идут до последнего @ и не печатаются; %XX в них и в префиксе\n"
    "означает байт XX (@ в префиксе: %40). Префикс: UTF-8 без управляющих символов.\n"
    "ЛИНИЯ: --line ИМЯ (одно звено темы: без /, +, # и управляющих символов) или имя порта\n"
    "в файле настроек (COM1), также для порта, заданного путём; путь в тему не идёт.\n"
    "Пока брокер недоступен, показания копятся в очереди на диске каждого прибора\n"
    "($XDG_STATE_HOME/varnok или ~/.local/state/varnok) и уходят по порядку, когда связь\n"
    "вернётся. --spool-size: место на диске под очередь прибора (по умолчанию 10M; каждое\n"
    "показание занимает не меньше блока файловой системы, обычно 4 КиБ); сверх него\n"
    "старейшие отбрасываются. Пароль: из --password-file (файл или канал) или\n"
    "VARNOK_MQTT_PASSWORD вместо адреса. mqtts:// с --cafile или с системными сертификатами.\n"
    "Показания, которые не дошли до брокера (остались в очереди, отброшены, не записаны):\n"
    "код выхода 1. Брокер, отказавший в пароле: код выхода 3, линия не опрашивается.\n"
    "--ha-discovery: каждый канал и частота прибора — датчик Home Assistant (хранимые\n"
    "сообщения homeassistant/sensor/.../config: тема и поле показаний, единица, имя и версия\n"
    "прибора, status как доступность).\n";

MqttOut connect_mqtt(const MqttTarget& t, uint64_t spool_size, const std::string& line,
                     const std::vector<uint8_t>& addresses)
{
    MqttOut m;
    std::vector<std::unique_ptr<MqttPublisher>> made;
    std::signal(SIGPIPE, SIG_IGN);  // a broker gone away is an error to handle, not the end of the run
    try {
        const std::filesystem::path broker = state_dir() / "spool" / topic_level(t.host + "_" + std::to_string(t.port));
        tell_other_lines(broker, t.prefix, line, addresses);
        for (uint8_t a : addresses) {
            const std::string topic = t.prefix + "/" + line + "/" + std::to_string(a);
            // Earlier versions kept the spool under the topic with '/' made '_', which two
            // prefixes could share: what is left there is told, not sent under a guessed topic.
            std::error_code ec;
            const std::filesystem::path old = broker / topic_level(topic);
            size_t left = 0;
            for (const auto& e : std::filesystem::directory_iterator(old, ec))
                left += e.path().extension() == ".json";
            if (left)
                std::fprintf(stderr, "в очереди %s прежней версии осталось показаний: %zu; они не отправляются\n",
                             old.c_str(), left);
            made.push_back(std::make_unique<MqttPublisher>(t, topic, broker / spool_folder(topic), spool_size));
        }
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        m.exit = kExitUsage;
        return m;
    }
    // All connections at once, with one deadline: a broker that never answers costs it once.
    for (auto& p : made)
        p->begin();
    const auto deadline = MqttPublisher::Clock::now() + kConnackWait;
    bool refused = false;
    for (auto& p : made)
        refused = p->await(deadline) == MqttPublisher::kRefused || refused;
    if (refused) {
        std::fprintf(stderr, "брокер %s отказал в подключении: неверное имя пользователя или пароль\n",
                     t.where().c_str());
        m.exit = kExitPort;
        return m;
    }
    for (auto& p : made)
        m.devices.push_back(std::move(p));
    return m;
}

}  // namespace varnok::cli
