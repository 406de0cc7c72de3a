#include "cli/mqtt_publisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
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

std::string percent_decoded(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            const int hi = i + 2 < s.size() ? hex_digit(s[i + 1]) : -1;
            const int lo = hi >= 0 ? hex_digit(s[i + 2]) : -1;
            if (lo < 0)
                throw UsageError("--mqtt: неверная запись %XX в имени или пароле");
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
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
    const size_t slash = rest.find('/');
    if (slash == std::string::npos)
        throw UsageError(form);
    std::string authority = rest.substr(0, slash);
    t.prefix = rest.substr(slash + 1);
    while (!t.prefix.empty() && t.prefix.back() == '/')
        t.prefix.pop_back();
    if (t.prefix.empty() || t.prefix.front() == '/' || t.prefix.find_first_of("+#") != std::string::npos)
        throw UsageError("--mqtt: префикс темы не пуст и без символов + и #");
    if (const size_t at = authority.rfind('@'); at != std::string::npos) {
        const std::string userinfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const size_t colon = userinfo.find(':');
        t.user = percent_decoded(userinfo.substr(0, colon));
        if (colon != std::string::npos)
            t.password = percent_decoded(userinfo.substr(colon + 1));
        if (t.user.empty())
            throw UsageError("--mqtt: пустое имя пользователя");
    }
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
    mosquitto_will_set(mosq_, status.c_str(), 7, "offline", 1, true);
    if (!target_.user.empty())
        mosquitto_username_pw_set(mosq_, target_.user.c_str(), target_.password ? target_.password->c_str() : nullptr);
    if (target_.tls) {
        const int rc =
            mosquitto_tls_set(mosq_, target_.cafile.empty() ? nullptr : target_.cafile.c_str(),
                              target_.cafile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(mosq_);
            throw std::runtime_error("TLS для брокера не настраивается: " + std::string(mosquitto_strerror(rc)));
        }
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

MqttPublisher::Start MqttPublisher::start(std::chrono::milliseconds wait)
{
    thread_ = std::thread([this] { loop(); });
    std::unique_lock lock(mutex_);
    // Ctrl-C ends the wait too: the run then ends before its first poll.
    const auto until = Clock::now() + wait;
    while (!answered_ && !interrupted() && Clock::now() < until)
        changed_.wait_for(lock, 50ms);
    if (state_ == kRefusedState) {
        lock.unlock();
        thread_.join();
        return kRefused;
    }
    return state_ == kUp ? kConnected : kUnreachable;
}

void MqttPublisher::info(const std::string& json)
{
    std::lock_guard lock(mutex_);
    if (json == info_)
        return;  // a device without its scales yet is asked again each poll: no news, no message
    info_ = json;
    info_due_ = true;
}

void MqttPublisher::reading(const std::string& json)
{
    size_t dropped = 0;
    try {
        dropped = spool_.push(json);
    } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return;
    }
    if (dropped == 0)
        return;
    std::lock_guard lock(mutex_);
    unreported_drops_ += dropped;
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

void MqttPublisher::finish(std::chrono::milliseconds wait)
{
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            stop_deadline_ = Clock::now() + wait;
        }
        changed_.notify_all();
        thread_.join();
    }
    std::lock_guard lock(mutex_);
    report_drops();
    if (const size_t left = spool_.size())
        std::fprintf(stderr, "в очереди %s осталось показаний: %zu; они уйдут при следующем запуске\n",
                     spool_.dir().c_str(), left);
}

void MqttPublisher::on_connect(int rc)
{
    std::lock_guard lock(mutex_);
    answered_ = true;
    if (rc == 0) {
        state_ = kUp;
        was_up_ = true;
        inflight_mid_ = -1;  // what was on its way goes again
        info_due_ = !info_.empty();
        const std::string status = topic_ + "/status";
        mosquitto_publish(mosq_, nullptr, status.c_str(), 6, "online", 1, true);
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
                if (goodbye_acked_ || now >= stop_deadline_ + 2s ||
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
        if (info_due_) {
            const std::string t = topic_ + "/info";
            if (mosquitto_publish(mosq_, nullptr, t.c_str(), int(info_.size()), info_.data(), 1, true) ==
                MOSQ_ERR_SUCCESS)
                info_due_ = false;
        }
        const bool saying_goodbye = stop_ && (spool_.size() == 0 || Clock::now() >= stop_deadline_);
        if (saying_goodbye && goodbye_mid_ < 0) {
            const std::string t = topic_ + "/status";
            mosquitto_publish(mosq_, &goodbye_mid_, t.c_str(), 7, "offline", 1, true);
        }
        if (!saying_goodbye && inflight_mid_ < 0) {
            lock.unlock();
            const std::optional<Spool::Entry> next = spool_.front();
            lock.lock();
            if (next && state_ == kUp && inflight_mid_ < 0) {
                const std::string t = topic_ + "/readings";
                int mid = -1;
                if (mosquitto_publish(mosq_, &mid, t.c_str(), int(next->text.size()), next->text.data(), 1, false) ==
                    MOSQ_ERR_SUCCESS) {
                    inflight_mid_ = mid;
                    inflight_seq_ = next->seq;
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
    "--mqtt: каждый опрос прибора сообщением JSON в ПРЕФИКС/ПОРТ/НОМЕР/readings (QoS 1),\n"
    "имя, версия, шкалы и уставки в .../info, online/offline в .../status (хранимые).\n"
    "Пока брокер недоступен, показания копятся в очереди на диске\n"
    "($XDG_STATE_HOME/varnok или ~/.local/state/varnok; --spool-size, по умолчанию 10M,\n"
    "старейшие отбрасываются) и уходят по порядку, когда связь вернётся. Пароль: из\n"
    "--password-file или VARNOK_MQTT_PASSWORD вместо адреса. mqtts:// с --cafile.\n"
    "Брокер, отказавший в пароле: код выхода 3, линия не опрашивается.\n";

MqttOut connect_mqtt(const MqttTarget& t, uint64_t spool_size, const std::string& port,
                     const std::vector<uint8_t>& addresses)
{
    MqttOut m;
    std::vector<std::unique_ptr<MqttPublisher>> made;
    std::signal(SIGPIPE, SIG_IGN);  // a broker gone away is an error to handle, not the end of the run
    const std::string port_level = topic_level(port);
    for (uint8_t a : addresses) {
        const std::string topic = t.prefix + "/" + port_level + "/" + std::to_string(a);
        const std::filesystem::path spool =
            state_dir() / "spool" / topic_level(t.host + "_" + std::to_string(t.port)) / topic_level(topic);
        try {
            made.push_back(std::make_unique<MqttPublisher>(t, topic, spool, spool_size));
        } catch (const std::runtime_error& e) {
            std::fprintf(stderr, "%s\n", e.what());
            m.exit = kExitUsage;
            return m;
        }
    }
    for (auto& p : made) {
        if (p->start(std::chrono::seconds(10)) == MqttPublisher::kRefused) {
            std::fprintf(stderr, "брокер %s отказал в подключении: неверное имя пользователя или пароль\n",
                         t.where().c_str());
            m.exit = kExitPort;
            return m;
        }
    }
    for (auto& p : made)
        m.devices.push_back(std::move(p));
    return m;
}

}  // namespace varnok::cli
