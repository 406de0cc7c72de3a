#include "cli/mqtt_publisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "cli/session.h"

namespace varnok::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kFirstRetry = 500ms;
constexpr auto kLongestRetry = 30s;
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

// The lock given up for a while, taken again at the end of the scope.
struct Unlocked {
    explicit Unlocked(std::unique_lock<std::mutex>& lock) : lock_(lock) { lock_.unlock(); }
    ~Unlocked() { lock_.lock(); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;
    std::unique_lock<std::mutex>& lock_;
};

void library_init()
{
    static const int once = mosquitto_lib_init();
    (void)once;
}

}  // namespace

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
    // Without --cafile the system's trust store.
    if (rc == MOSQ_ERR_SUCCESS && target_.tls)
        rc = tls_.configure(mosq_, target_);
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
        std::fprintf(stderr, "очередь %s полна: старейшие показания отбрасываются\n", path_text(spool_.dir()).c_str());
    }
}

void MqttPublisher::report_drops()
{
    if (unreported_drops_ == 0)
        return;
    std::fprintf(stderr, "очередь %s была полна: отброшено старейших показаний: %zu\n", path_text(spool_.dir()).c_str(),
                 unreported_drops_);
    unreported_drops_ = 0;
    told_full_ = false;
}

void MqttPublisher::tell_set_aside()
{
    if (told_aside_ || spool_.set_aside_count() == 0)
        return;
    told_aside_ = true;
    std::fprintf(stderr, "очередь %s: %s\n", path_text(spool_.dir()).c_str(), spool_.set_aside_first().c_str());
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
        std::fprintf(stderr, "очередь %s: не записано показаний: %zu\n", path_text(spool_.dir()).c_str(), not_spooled_);
    if (const size_t aside = spool_.set_aside_count())
        std::fprintf(stderr, "очередь %s: отложено сообщений, которые не отправить: %zu (файлы *.bad)\n",
                     path_text(spool_.dir()).c_str(), aside);
    const size_t left = spool_.size();
    if (left)
        std::fprintf(stderr, "в очереди %s осталось показаний: %zu; они уйдут при следующем запуске\n",
                     path_text(spool_.dir()).c_str(), left);
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

MqttPublisher::Turn MqttPublisher::next_turn()
{
    const auto now = Clock::now();
    std::unique_lock lock(mutex_);
    if (state_ == kRefusedState)
        return kEnd;
    if (stop_) {
        // The goodbye's acknowledgement gets 2 s more, half a second after Ctrl-C.
        if (goodbye_acked_ || now >= stop_deadline_ + (interrupted() ? 500ms : 2000ms) ||
            (state_ != kUp && (spool_.size() == 0 || now >= stop_deadline_)))
            return kEnd;
        // Away from the broker at the end: one more try at once, not a wait.
        if (!socket_ && last_try_)
            return kEnd;
        if (!socket_) {
            last_try_ = true;
            next_try_ = now;
        }
    }
    if (!socket_ && now < next_try_) {
        changed_.wait_until(lock, std::min(next_try_, now + 50ms));
        return kWait;
    }
    return kGo;
}

bool MqttPublisher::start_connect()
{
    {
        std::lock_guard lock(mutex_);
        state_ = kConnecting;
    }
    if (const int rc = mosquitto_connect_async(mosq_, target_.host.c_str(), target_.port, kKeepAlive);
        rc != MOSQ_ERR_SUCCESS) {
        failed(rc);
        return false;
    }
    socket_ = true;
    connack_due_ = Clock::now() + kConnackWait;
    return true;
}

void MqttPublisher::failed(int rc)
{
    if (socket_)
        mosquitto_disconnect(mosq_);
    socket_ = false;
    const std::string tls_why = rc == MOSQ_ERR_TLS ? tls_.failure() : "";
    connection_lost(rc == MOSQ_ERR_ERRNO     ? socket_error_text(errno)
                    : rc == MOSQ_ERR_TLS     ? (tls_why.empty() ? "ошибка TLS" : "ошибка TLS: " + tls_why)
                    : rc == MOSQ_ERR_TIMEOUT ? "нет ответа за " + std::to_string(kConnackWait.count()) + " с"
                                             : mosquitto_strerror(rc));
    next_try_ = Clock::now() + retry_;
    retry_ = std::min<Clock::duration>(retry_ * 2, kLongestRetry);
}

MqttPublisher::Turn MqttPublisher::serve(int rc)
{
    int failure = MOSQ_ERR_SUCCESS;
    {
        std::unique_lock lock(mutex_);
        if (state_ == kRefusedState)
            return kEnd;
        const int refused_by =
            state_ == kConnecting && rc == MOSQ_ERR_SUCCESS ? failed_connect(mosquitto_socket(mosq_)) : 0;
        if (refused_by != 0) {
            errno = refused_by;
            failure = MOSQ_ERR_ERRNO;
        } else if (rc != MOSQ_ERR_SUCCESS || (state_ == kConnecting && Clock::now() > connack_due_)) {
            failure = rc != MOSQ_ERR_SUCCESS ? rc : MOSQ_ERR_TIMEOUT;
        } else if (state_ == kUp) {
            retry_ = std::chrono::duration_cast<Clock::duration>(kFirstRetry);
            publish_retained();
            publish_status();
            publish_readings(lock);
        }
    }
    if (failure != MOSQ_ERR_SUCCESS)
        failed(failure);
    return kGo;
}

void MqttPublisher::tell_refused(const std::string& topic, int rc)
{
    if (told_refused_)
        return;
    told_refused_ = true;
    std::fprintf(stderr, "%s: сообщение не принято: %s\n", topic.c_str(), mosquitto_strerror(rc));
}

void MqttPublisher::publish_retained()
{
    for (auto t = retained_due_.begin(); t != retained_due_.end();) {
        const std::string& json = retained_[*t];
        const int prc = mosquitto_publish(mosq_, nullptr, t->c_str(), int(json.size()), json.data(), 1, true);
        if (refused(prc))
            tell_refused(*t, prc);
        t = prc == MOSQ_ERR_SUCCESS || refused(prc) ? retained_due_.erase(t) : std::next(t);
    }
}

void MqttPublisher::publish_status()
{
    if (!status_due_ || goodbye_mid_ >= 0)
        return;
    const std::string t = topic_ + "/status";
    const char* word = device_ == kOnline ? "online" : "offline";
    const int prc = mosquitto_publish(mosq_, nullptr, t.c_str(), int(std::strlen(word)), word, 1, true);
    if (prc == MOSQ_ERR_SUCCESS || refused(prc))
        status_due_ = false;
    if (refused(prc))
        tell_refused(t, prc);
}

void MqttPublisher::publish_readings(std::unique_lock<std::mutex>& lock)
{
    const bool saying_goodbye = stop_ && (spool_.size() == 0 || Clock::now() >= stop_deadline_);
    if (saying_goodbye && goodbye_mid_ < 0) {
        const std::string t = topic_ + "/status";
        if (refused(mosquitto_publish(mosq_, &goodbye_mid_, t.c_str(), 7, "offline", 1, true)))
            goodbye_acked_ = true;  // the last will says it, at the disconnect
    }
    if (saying_goodbye || inflight_mid_ >= 0)
        return;
    // The spool reads its file without the lock: the polling thread may queue meanwhile.
    std::optional<Spool::Entry> next;
    {
        const Unlocked unlocked(lock);
        next = spool_.front();
    }
    tell_set_aside();
    if (!next || state_ != kUp || inflight_mid_ >= 0)
        return;
    const std::string t = topic_ + "/readings";
    int mid = -1;
    const int prc = mosquitto_publish(mosq_, &mid, t.c_str(), int(next->text.size()), next->text.data(), 1, false);
    if (prc == MOSQ_ERR_SUCCESS) {
        inflight_mid_ = mid;
        inflight_seq_ = next->seq;
    } else if (refused(prc)) {
        // Never tried again ahead of the rest: out of the queue, counted at the end.
        spool_.set_aside(next->seq, std::string("библиотека MQTT не принимает: ") + mosquitto_strerror(prc));
        tell_set_aside();
    }
}

void MqttPublisher::hang_up()
{
    if (socket_) {
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

void MqttPublisher::loop()
{
    retry_ = std::chrono::duration_cast<Clock::duration>(kFirstRetry);
    next_try_ = connack_due_ = Clock::now();
    for (;;) {
        const Turn turn = next_turn();
        if (turn == kEnd)
            break;
        if (turn == kWait || (!socket_ && !start_connect()))
            continue;
        if (serve(mosquitto_loop(mosq_, 50, 1)) == kEnd)
            break;
    }
    hang_up();
}

const bool kMqttBuilt = true;

}  // namespace varnok::cli
