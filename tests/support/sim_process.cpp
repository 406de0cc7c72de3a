#include "support/sim_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>

#include "link/port_map.h"

#ifndef VARNOK_SIM_PATH
#error "VARNOK_SIM_PATH must name the varnok-sim executable"
#endif

namespace varnok::test {

namespace {

constexpr auto kReplyTimeout = std::chrono::seconds(5);
const std::string kBanner = "varnok-sim: terminal ";

// A write to a simulator that has already gone must fail, not kill the test with SIGPIPE.
bool write_all(int fd, const std::string& text)
{
    sigset_t pipe_signal, old;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &old);
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipe_signal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return n == ssize_t(text.size());
}

bool wait_exit(pid_t pid, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> extra_args)
{
    // Tests run side by side: a link path that already leads to a simulator's terminal is
    // another test's, and two tests sharing one would talk to each other's devices.
    for (size_t i = 0; i + 1 < extra_args.size(); ++i)
        if (extra_args[i] == "--link") {
            std::error_code ec;
            const std::filesystem::path to = std::filesystem::read_symlink(extra_args[i + 1], ec);
            if (!ec && to.string().rfind("/dev/pts/", 0) == 0 && std::filesystem::exists(to, ec))
                throw std::runtime_error("link path in use by another simulator: " + extra_args[i + 1] + " -> " +
                                         to.string());
        }
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("pipe failed");
    }
    // Everything the child needs is prepared before fork.
    std::vector<std::string> args{VARNOK_SIM_PATH};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        // A test that dies must not leave a simulator behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        // The simulator stands for a device, which answers on time whatever the PC is doing:
        // it runs ahead of the tests' own load where the system allows (not an error otherwise).
        (void)::setpriority(PRIO_PROCESS, 0, -10);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_sim_ = in[1];
    from_sim_ = out[0];
    if (pid_ < 0)
        throw std::runtime_error("fork failed");

    std::string first;
    try {
        first = read_line();
    } catch (...) {
        first.clear();
    }
    if (first.rfind(kBanner, 0) != 0) {
        stop();
        throw std::runtime_error("varnok-sim did not start: " + first);
    }
    path_ = first.substr(kBanner.size());
}

SimProcess::~SimProcess() { stop(); }

void SimProcess::connect(PortMap& ports, Link&) { ports.set(1, path_); }

void SimProcess::stop()
{
    if (pid_ > 0) {
        write_all(to_sim_, "quit\n");  // when it has gone already, the wait collects it
        if (!wait_exit(pid_, std::chrono::milliseconds(2000))) {
            ::kill(pid_, SIGTERM);
            if (!wait_exit(pid_, std::chrono::milliseconds(1000))) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        pid_ = -1;
    }
    if (to_sim_ >= 0)
        ::close(to_sim_);
    if (from_sim_ >= 0)
        ::close(from_sim_);
    to_sim_ = from_sim_ = -1;
}

std::string SimProcess::read_line()
{
    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    for (;;) {
        if (const size_t nl = pending_.find('\n'); nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{from_sim_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
            throw std::runtime_error("no line from varnok-sim in time");
        char buf[4096];
        const ssize_t n = ::read(from_sim_, buf, sizeof buf);
        if (n <= 0)
            throw std::runtime_error("varnok-sim closed its output");
        pending_.append(buf, size_t(n));
    }
}

std::string SimProcess::command(const std::string& line)
{
    if (!write_all(to_sim_, line + "\n"))
        throw std::runtime_error("cannot write to varnok-sim");
    body_.clear();
    for (;;) {
        std::string reply = read_line();
        if (reply == "ok" || reply.rfind("ok ", 0) == 0 || reply.rfind("error: ", 0) == 0)
            return reply;
        body_.push_back(std::move(reply));
    }
}

std::map<std::string, std::string> dump_items(const std::vector<std::string>& body)
{
    std::map<std::string, std::string> items;
    for (const auto& line : body) {
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos)
            items[line.substr(0, eq)] = line.substr(eq + 3);
    }
    return items;
}

std::map<std::string, std::string> SimProcess::dump()
{
    return command("dump") == "ok" ? dump_items(body_) : std::map<std::string, std::string>{};
}

}  // namespace varnok::test
