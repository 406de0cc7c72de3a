#include "support/sim_in_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/serial_port.h"
#include "support/sim_process.h"

namespace varnok::test {

namespace {

// The port's device path that reaches the simulator.
const std::string kName = "varnok-sim";

}  // namespace

// The link's end of a socket pair whose other end the simulator serves; each opening makes a
// new pair, as a terminal opened again starts with nothing pending.
class SimInProcess::Transport : public varnok::Transport {
public:
    explicit Transport(SimInProcess& sim) : sim_(sim) {}
    int open(const std::string& where, int& fd, WaitPump*) override
    {
        if (where != kName)
            return ENOENT;  // a port named anything else is not there
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0)
            return errno;
        fd = sv[0];
        sim_.take_socket(sv[1]);
        return 0;
    }
    void close(int fd) override { ::close(fd); }
    int get_state(int, Dcb& dcb) const override
    {
        dcb = dcb_;
        return 0;
    }
    int set_state(int, const Dcb& dcb) override
    {
        // The speeds a terminal takes; another is refused as a terminal refuses it.
        static constexpr uint32_t kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
        if (std::find(std::begin(kSpeeds), std::end(kSpeeds), dcb.BaudRate) == std::end(kSpeeds))
            return EINVAL;
        dcb_ = dcb;
        sim_.set_line({dcb.BaudRate, dcb.Parity, uint8_t(dcb.StopBits == 2 ? 2 : 1)});
        return 0;
    }
    int purge_input(int fd) override
    {
        uint8_t junk[256];
        while (::recv(fd, junk, sizeof junk, MSG_DONTWAIT) > 0) {
        }
        return 0;
    }
    ssize_t write_some(int fd, const uint8_t* data, size_t n) override { return ::send(fd, data, n, MSG_NOSIGNAL); }
    bool ends_broken() const override { return false; }

private:
    SimInProcess& sim_;
    Dcb dcb_;
};

SimInProcess::SimInProcess(std::vector<std::string> args)
{
    // An answer written after the link closed its end must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    uint32_t seed = 1;
    bool whole_answers = false;
    std::vector<std::string> devices, commands;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--whole-answers") {
            whole_answers = true;
            continue;
        }
        if (i + 1 >= args.size())
            throw std::invalid_argument("option without its value: " + a);
        const std::string& v = args[++i];
        if (a == "--device-at")
            devices.push_back(v);
        else if (a == "--noise" || a == "--turnaround")
            commands.push_back(a.substr(2) + " " + v);
        else if (a == "--seed")
            seed = uint32_t(std::stoul(v, nullptr, 0));
        else if (a == "--command")
            commands.push_back(v);
        else
            throw std::invalid_argument("not an option of the simulator in the test's process: " + a);
    }
    engine_ = std::make_unique<sim::Engine>(terminal_, journal_, seed);
    control_ = std::make_unique<sim::Control>(*engine_, terminal_);
    // The devices first, each with its line; then the commands.
    std::vector<std::string> setup;
    if (devices.empty())
        engine_->add(sim::LineSettings{});
    for (const std::string& d : devices)
        setup.push_back("device add " + d);
    if (!devices.empty())
        setup.push_back("device 1");
    setup.insert(setup.end(), commands.begin(), commands.end());
    engine_->whole_answers = whole_answers;
    for (const std::string& c : setup)
        if (const std::string reply = command(c); reply.rfind("ok", 0) != 0)
            throw std::invalid_argument("\"" + c + "\": " + reply);
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    server_ = std::thread([this] { serve(); });
}

SimInProcess::~SimInProcess()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake();
    server_.join();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void SimInProcess::connect(PortMap& ports, Link& link)
{
    ports.set(1, kName);
    link.use_transport(std::make_unique<Transport>(*this));
}

void SimInProcess::wake()
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &c, 1);
}

void SimInProcess::take_socket(int fd)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        terminal_.open_socket(fd);
        ++opened_;
    }
    wake();
}

void SimInProcess::set_line(const sim::TerminalLine& line)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    terminal_.set_master_line(line);
}

// Waits for a request or the silence that ends one, and answers, as the program's loop does.
void SimInProcess::serve()
{
    // The simulator stands for a device, which answers on time whatever the PC is doing: its
    // thread runs ahead of the tests' own load where the system allows (not an error otherwise).
    (void)::setpriority(PRIO_PROCESS, id_t(::gettid()), -10);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        const unsigned polled = opened_;
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {terminal_.fd(), POLLIN, 0}};
        int timeout = -1;
        if (const auto d = engine_->deadline())
            timeout = int(std::max<long long>(
                0, std::chrono::ceil<std::chrono::milliseconds>(*d - sim::Clock::now()).count()));
        lock.unlock();
        ::poll(fds, fds[1].fd >= 0 ? 2 : 1, timeout);
        lock.lock();
        if (fds[0].revents & POLLIN) {
            char junk[64];
            while (::read(wake_[0], junk, sizeof junk) > 0) {
            }
            continue;  // the socket may have changed
        }
        // The link may have opened again while the poll waited, even twice, so that the new
        // socket has the old one's number: what the poll saw of the old socket (its hang-up
        // above all) is not the new one's.
        if (opened_ != polled)
            continue;
        if (fds[1].revents & POLLIN)
            engine_->on_readable(sim::Clock::now());
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            terminal_.close();  // the link closed its end; its next opening brings another
        if (const auto d = engine_->deadline(); d && sim::Clock::now() >= *d)
            engine_->on_deadline(sim::Clock::now());
    }
}

std::string SimInProcess::command(const std::string& line)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    sim::Reply r = control_->run(line, sim::Clock::now());
    body_ = std::move(r.body);
    return r.line;
}

std::map<std::string, std::string> SimInProcess::dump()
{
    return command("dump") == "ok" ? dump_items(body_) : std::map<std::string, std::string>{};
}

}  // namespace varnok::test
