#pragma once
// Readings of one device to an MQTT broker: PREFIX/<port>/<number>/readings (QoS 1, through an
// on-disk spool, in order), .../info and .../status retained (the device's state; "offline"
// also as the last will and at the end). The
// connection lives in a thread of its own, so that polling never waits for the broker.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/mqtt_target.h"
#include "cli/mqtt_tls.h"
#include "cli/publisher.h"
#include "cli/spool.h"

struct mosquitto;

namespace varnok::cli {

class MqttPublisher : public Publisher {
public:
    using Clock = std::chrono::steady_clock;
    // How long the broker has to answer a connection.
    static constexpr std::chrono::seconds kConnackWait{10};
    // `topic` is PREFIX/<port>/<number>. Throws std::runtime_error for a spool it cannot use or
    // a topic the library refuses.
    MqttPublisher(const MqttTarget& target, std::string topic, const std::filesystem::path& spool_dir,
                  uint64_t spool_limit);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    enum Start { kConnected, kUnreachable, kRefused };
    // Starts the connection in its thread.
    void begin();
    // Waits until `deadline` (or Ctrl-C) for the broker's first answer. kRefused: the broker
    // turned down the user or the password; the thread is stopped then.
    Start await(Clock::time_point deadline);
    void info(const std::string& json) override;
    void announce(const std::string& topic, const std::string& json) override;
    const std::string& topic() const override { return topic_; }
    void answering(bool yes) override;
    void reading(const std::string& json) override;
    void stop(Clock::time_point deadline) override;
    bool finish() override;
    size_t spooled() const { return spool_.size(); }

private:
    // The thread: a turn waits out the back-off or ends the run, a connection is tried when
    // there is none, and what the library heard is served.
    void loop();
    enum Turn { kGo, kWait, kEnd };
    Turn next_turn();
    bool start_connect();
    Turn serve(int rc);
    void failed(int rc);
    // Under the lock, connected: the retained messages due, the device's status, then the
    // goodbye or the spool's oldest reading.
    void publish_retained();
    void publish_status();
    void publish_readings(std::unique_lock<std::mutex>& lock);
    void tell_refused(const std::string& topic, int rc);
    void hang_up();
    void on_connect(int rc);
    void on_disconnect();
    void on_publish(int mid);
    void connection_lost(const std::string& why);
    void report_drops();
    void tell_set_aside();
    // A publish the library turned down for good (not for want of a connection).
    static bool refused(int rc);

    MqttTarget target_;
    std::string topic_;
    Spool spool_;
    Tls tls_;  // before the client, which may use its context until destroyed
    struct mosquitto* mosq_ = nullptr;
    std::thread thread_;

    // The loop's own, never shared: no lock.
    bool socket_ = false;
    bool last_try_ = false;
    Clock::duration retry_{};
    Clock::time_point next_try_;
    Clock::time_point connack_due_;

    std::mutex mutex_;
    std::condition_variable changed_;
    enum State { kIdle, kConnecting, kUp, kDown, kRefusedState } state_ = kIdle;
    bool answered_ = false;  // the first attempt came to an end
    bool stop_ = false;      // finish() asks the thread to say goodbye
    std::chrono::steady_clock::time_point stop_deadline_;
    // Retained messages by topic (.../info, discovery), and those not yet sent on this connection.
    std::map<std::string, std::string> retained_;
    std::set<std::string> retained_due_;
    enum Device { kNotHeard, kOnline, kOffline } device_ = kNotHeard;
    bool status_due_ = false;
    bool was_up_ = false;  // connected at least once: a loss is worth telling
    bool told_down_ = false;
    int inflight_mid_ = -1;
    uint64_t inflight_seq_ = 0;
    int goodbye_mid_ = -1;
    bool goodbye_acked_ = false;
    size_t unreported_drops_ = 0;
    size_t dropped_ = 0;
    bool told_full_ = false;
    size_t not_spooled_ = 0;
    bool told_aside_ = false;
    bool told_refused_ = false;
};

}  // namespace varnok::cli
