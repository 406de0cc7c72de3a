// The devices' connections set up together: their spool folders, a word on readings other runs
// left, and the broker's first answer to each within one deadline.
#include <csignal>
#include <cstdio>
#include <map>

#include "cli/mqtt_publisher.h"
#include "cli/session.h"

namespace varnok::cli {

namespace {

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
        const std::string topic = spool_topic(folder.lexically_relative(broker));
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

}  // namespace

MqttOut connect_mqtt(const MqttTarget& t, uint64_t spool_size, const std::string& line,
                     const std::vector<uint8_t>& addresses)
{
    MqttOut m;
    std::vector<std::unique_ptr<MqttPublisher>> made;
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);  // a broker gone away is an error to handle, not the end of the run
#endif
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
                             path_text(old).c_str(), left);
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
    const auto deadline = MqttPublisher::Clock::now() + MqttPublisher::kConnackWait;
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
