// varnok-sim: a Modbus RTU slave that behaves like the device, on a pseudo-terminal or a
// serial device, driven by options and by text commands.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "sim/control.h"
#include "sim/engine.h"
#include "sim/frame_journal.h"
#include "sim/line_end.h"

using namespace varnok::sim;

namespace {

const char* kUsage =
    "Usage: varnok-sim [OPTION]...\n"
    "Simulates the Varnok three-channel panel device: a Modbus RTU slave on a new\n"
    "pseudo-terminal (or on a serial device), answering at the pace of its line.\n"
    "The first line on standard output is \"varnok-sim: terminal PATH\".\n"
    "\n"
    "Options:\n"
    "  --device PATH       answer on this serial device (e.g. a second RS-485 adapter)\n"
    "                      instead of a pseudo-terminal; its line is set to the device's own\n"
    "  --tcp PORT          answer on TCP port PORT of 127.0.0.1 (0: any free port) instead of\n"
    "                      a terminal, as an Ethernet-to-RS-485 converter with the devices\n"
    "                      behind it: RTU frames as they are, one master connection at a time\n"
    "                      (a new one replaces it); the first line then reads\n"
    "                      \"varnok-sim: terminal tcp://127.0.0.1:PORT\". Its line is the\n"
    "                      first device's; command drop closes the master's connection\n"
    "  --link PATH         place a symbolic link to the terminal at PATH (an existing\n"
    "                      symbolic link is replaced); removed on exit\n"
    "  --control PATH      also take commands on a unix stream socket at PATH\n"
    "  --no-stdin          do not read commands from standard input (for `varnok-sim &`)\n"
    "  --log FILE|-        log every frame and every ignored request, time-stamped\n"
    "                      (\"-\" is standard error)\n"
    "  --address N         network number 1..247 (default 5)\n"
    "  --speed CODE|BAUD   1..6 or 4800, 9600, 19200, 38400, 57600, 115200 (default 9600)\n"
    "  --parity none|odd|even   (default none)\n"
    "  --stop 1|2          stop bits (default 1)\n"
    "  --device-at ADDR[:SPEED[:FORMAT]]\n"
    "                      a device on the line, e.g. 17, 17:19200, 17:9600:8E1 (defaults\n"
    "                      9600 and 8N1); repeat it for a multi-drop line: --device-at 3\n"
    "                      --device-at 17 --device-at 9:38400. Given, it names every device\n"
    "                      (no --address, --speed, --parity, --stop); the first is selected\n"
    "                      for the options and commands below (--command 'device 2' picks\n"
    "                      another)\n"
    "  --turnaround MS     delay from the end of a request to its answer (default 5)\n"
    "  --whole-answers     on a pseudo-terminal or TCP, hand each answer over in one piece\n"
    "                      when its last byte would have left the wire, as a USB adapter or an\n"
    "                      Ethernet converter delivers it, instead of byte by byte (no gaps\n"
    "                      between its bytes on a busy machine)\n"
    "  --seed N            seed of the converter noise and the noise fault (default 1)\n"
    "  --noise COUNTS      converter noise, +-COUNTS (default 3; 0 makes readings steady)\n"
    "  --signal CH=PERCENT input signal of channel CH (defaults 42.5, 73.1, 12.0)\n"
    "  --fault FAULT       a fault as the command takes it, e.g. --fault 'noise 3 times 2',\n"
    "                      --fault 'silence at 0x67 always', --fault 'crc after 2'\n"
    "  --random-faults PERCENT\n"
    "                      spoil this share of the answers with a fault of a random kind\n"
    "                      (the command random; the seed is --seed)\n"
    "  --script SCRIPT     readings as the script command takes them, e.g.\n"
    "                      --script 'input 0x2E 450*15 451'\n"
    "  --command LINE      any control command, run at start (may be repeated)\n"
    "  -h, --help          this text\n"
    "\n"
    "Line: a device answers only requests with its address, and only while the terminal is\n"
    "set, by whoever opened it, to the device's speed, parity and stop bits. On a\n"
    "pseudo-terminal the kernel keeps the speed and the stop bits; of the parity it keeps\n"
    "PARODD (odd) and the input check INPCK, which masters turn on with parity, so even\n"
    "is told from none by INPCK; the data bits always read as 8. On a serial device the\n"
    "hardware checks the line, and the device follows the first device's line. A write of\n"
    "registers 800..803 hex takes effect after its answer; what they hold may differ from\n"
    "the line in force (command stored). Answers start after the turnaround; each byte is\n"
    "handed over when its last stop bit would have left the wire. A partial request is\n"
    "dropped after a silence of 3.5 characters (at least 2 ms). Devices that answer the\n"
    "same request collide: the bytes on the line are the AND of their answers.\n"
    "\n";

const char* kMap =
    "\n"
    "Register map (channel n = 1..3, block B = 32n; 32-bit values in two registers, least\n"
    "significant byte first: 1.0 is 0000 803F; texts are Windows-1251, first character in the\n"
    "high byte):\n"
    "  holding 1              brightness 1..3\n"
    "  holding B+0            decimal point 0..3 (high byte), unit 0..6 (low byte)\n"
    "  holding B+1..2         scale top value, float\n"
    "  holding B+3..4, B+5..6 setpoints Max, Min, float\n"
    "  holding B+7            stored zero Ref, converter counts\n"
    "  holding B+8..9         full-scale coefficient Ncal, float\n"
    "  holding B+10, B+11     PWM calibration points low, high\n"
    "  holding 800..803 hex   address 1..247, speed code 1..6, parity 0..2, stop bits 1..2\n"
    "  input 2..3             mains frequency, float\n"
    "  input 4..8, 9..13      name, version, ten characters each\n"
    "  input B+12..13         measured value = converter output x Ncal, float\n"
    "  input B+14             zero reading = raw converter reading = true zero +\n"
    "                         signal/100 x gain + noise (at most 65535): right only at 0 %\n"
    "  input B+15..16         converter output = max(0, raw converter reading - Ref)\n"
    "  coils 0..2             relays K1..K3; a relay is energised while its channel reads\n"
    "                         above Max or below Min\n"
    "  discrete inputs 0..2   switches XP1, JMP78, XP3; a closed switch reads as 0\n"
    "Scripts and overrides change only what a master reads from their registers: the\n"
    "measured value and the relays follow the live converter.\n"
    "Functions 1, 2, 3, 4, 16. Exceptions: 1 other function, 2 an address outside the map,\n"
    "3 a count outside 1..125 registers or 1..2000 bits, a write byte count not 2n, or a\n"
    "value out of range. Bad CRC or another address: no answer.\n";

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

struct Options {
    std::string device, link, control, log, tcp;
    bool no_stdin = false;
    bool whole_answers = false;
    uint32_t seed = 1;
    std::vector<std::string> line_words;  // for the "line" command
    std::vector<std::string> devices;     // --device-at specs
    std::vector<std::string> commands;
    std::string random_faults;
};

[[noreturn]] void usage_error(const std::string& why)
{
    std::fprintf(stderr, "varnok-sim: %s\nTry 'varnok-sim --help'.\n", why.c_str());
    std::exit(2);
}

// An option that takes a value: `a` with its value `v`.
void take_value(Options& o, const std::string& a, const std::string& v)
{
    if (a == "--device")
        o.device = v;
    else if (a == "--tcp")
        o.tcp = v;
    else if (a == "--link")
        o.link = v;
    else if (a == "--control")
        o.control = v;
    else if (a == "--log")
        o.log = v;
    else if (a == "--seed") {
        char* end = nullptr;
        o.seed = uint32_t(std::strtoul(v.c_str(), &end, 0));
        if (v.empty() || *end)
            usage_error("bad seed " + v);
    } else if (a == "--address" || a == "--speed" || a == "--parity" || a == "--stop") {
        o.line_words.push_back(a.substr(2));
        o.line_words.push_back(v);
    } else if (a == "--turnaround")
        o.commands.push_back("turnaround " + v);
    else if (a == "--noise")
        o.commands.push_back("noise " + v);
    else if (a == "--fault")
        o.commands.push_back("fault " + v);
    else if (a == "--random-faults")
        o.random_faults = v;
    else if (a == "--script")
        o.commands.push_back("script " + v);
    else if (a == "--device-at")
        o.devices.push_back(v);
    else if (a == "--command")
        o.commands.push_back(v);
    else if (a == "--signal") {
        const size_t eq = v.find('=');
        if (eq == std::string::npos)
            usage_error("--signal takes CH=PERCENT");
        o.commands.push_back("signal " + v.substr(0, eq) + " " + v.substr(eq + 1));
    } else
        usage_error("unknown option " + a);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(Control::commands_help().c_str(), stdout);
            std::fputs(kMap, stdout);
            std::exit(0);
        }
        if (a == "--no-stdin") {
            o.no_stdin = true;
            continue;
        }
        if (a == "--whole-answers") {
            o.whole_answers = true;
            continue;
        }
        if (i + 1 >= argc)
            usage_error("unknown option or missing value: " + a);
        take_value(o, a, argv[++i]);
    }
    if (!o.tcp.empty() && (!o.device.empty() || !o.link.empty()))
        usage_error("--tcp answers on a TCP port: no --device or --link with it");
    if (!o.tcp.empty() &&
        (o.tcp.find_first_not_of("0123456789") != std::string::npos || o.tcp.size() > 5 || std::stoi(o.tcp) > 65535))
        usage_error("bad TCP port " + o.tcp);
    if (!o.devices.empty() && !o.line_words.empty())
        usage_error(
            "--device-at names every device; give its line there, not with --address, --speed, --parity, --stop");
    return o;
}

// A reader of command lines from one descriptor.
struct Channel {
    int fd;
    std::string pending;
    bool is_stdin;
};

void write_all(int fd, const std::string& s)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
}

class Simulator {
public:
    explicit Simulator(const Options& o) : opt_(o), engine_(terminal_, journal_, o.seed), control_(engine_, terminal_)
    {
        control_.set_plug([this](bool plug) { return plug ? plug_in() : unplug(); });
    }
    ~Simulator() { cleanup(); }

    int run();

private:
    bool start();
    void cleanup();
    std::string open_terminal();
    std::string make_link();
    void remove_link();
    std::string unplug();
    std::string plug_in();
    bool open_control_socket();
    // Runs the complete lines of a channel; false when a command asked to quit.
    bool serve(Channel& ch);
    // What the loop waits on: the line, the TCP listener, the control socket, the channels.
    std::vector<pollfd> poll_set() const;
    // The wait until the engine's next deadline in `wait`; null when it has none.
    const timespec* time_to_deadline(timespec& wait) const;
    // The line's bytes, a master's connection coming or going, and the engine's deadline.
    void on_line(const pollfd& line, const pollfd& listener);
    // A new control connection and the channels' commands; false when one asked to quit.
    bool on_channels(const std::vector<pollfd>& fds);
    [[noreturn]] void fail(const std::string& why)
    {
        std::fprintf(stderr, "varnok-sim: error: %s\n", why.c_str());
        cleanup();
        std::exit(1);
    }

    Options opt_;
    Terminal terminal_;
    FrameJournal journal_;
    Engine engine_;
    Control control_;
    int listen_fd_ = -1;
    bool link_made_ = false;
    std::vector<Channel> channels_;
};

bool Simulator::open_control_socket()
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (opt_.control.size() >= sizeof addr.sun_path)
        fail("control socket path too long: " + opt_.control);
    std::memcpy(addr.sun_path, opt_.control.c_str(), opt_.control.size() + 1);
    struct stat st {};
    if (lstat(opt_.control.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            fail(opt_.control + " exists and is not a socket");
        ::unlink(opt_.control.c_str());
    }
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 4) != 0)
        fail("control socket " + opt_.control + ": " + std::strerror(errno));
    return true;
}

bool Simulator::start()
{
    if (!opt_.log.empty())
        if (std::string e = journal_.open(opt_.log); !e.empty())
            fail(e);
    // The devices first, each with its line, so that the terminal starts at the first one's.
    std::vector<std::string> setup;
    if (opt_.devices.empty()) {
        engine_.add(LineSettings{});
        if (!opt_.line_words.empty()) {
            std::string cmd = "line";
            for (const auto& w : opt_.line_words)
                cmd += " " + w;
            setup.push_back(cmd);
        }
    } else {
        for (const auto& station : opt_.devices)
            setup.push_back("device add " + station);
        setup.push_back("device 1");
    }
    for (const std::string& c : setup) {
        const Reply r = control_.run(c, Clock::now());
        if (r.line.rfind("ok", 0) != 0)
            usage_error(r.line.substr(7));
    }
    engine_.whole_answers = opt_.whole_answers;
    if (const std::string e = open_terminal(); !e.empty())
        fail(e);
    if (!opt_.random_faults.empty())
        opt_.commands.push_back("random " + opt_.random_faults + " seed " + std::to_string(opt_.seed));
    for (const std::string& c : opt_.commands) {
        const Reply r = control_.run(c, Clock::now());
        if (r.line.rfind("ok", 0) != 0)
            usage_error("\"" + c + "\": " + r.line);
    }
    if (const std::string e = make_link(); !e.empty())
        fail(e);
    if (!opt_.control.empty())
        open_control_socket();
    if (!opt_.no_stdin)
        channels_.push_back({STDIN_FILENO, {}, true});
    std::string devices;
    for (const auto& st : engine_.stations())
        devices += (devices.empty() ? "" : ", ") + st->line.text();
    journal_.note("varnok-sim on " + terminal_.path() + ", " + (engine_.stations().size() > 1 ? "devices " : "line ") +
                  devices);
    std::printf("varnok-sim: terminal %s\n", terminal_.path().c_str());
    std::fflush(stdout);
    return true;
}

std::string Simulator::open_terminal()
{
    const LineSettings& first = engine_.stations().front()->line;
    if (!opt_.tcp.empty())
        return terminal_.open_tcp(uint16_t(std::stoi(opt_.tcp)), first);
    return opt_.device.empty() ? terminal_.open_pty(first) : terminal_.open_device(opt_.device, first);
}

std::string Simulator::make_link()
{
    if (opt_.link.empty())
        return {};
    struct stat st {};
    if (lstat(opt_.link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            return opt_.link + " exists and is not a symbolic link";
        ::unlink(opt_.link.c_str());
    }
    if (::symlink(terminal_.path().c_str(), opt_.link.c_str()) != 0)
        return "symlink " + opt_.link + ": " + std::strerror(errno);
    link_made_ = true;
    return {};
}

void Simulator::remove_link()
{
    if (!link_made_)
        return;
    // Only our own link goes; someone may have replaced it meanwhile.
    char target[4096];
    const ssize_t n = ::readlink(opt_.link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, size_t(n)) == terminal_.path())
        ::unlink(opt_.link.c_str());
    link_made_ = false;
}

std::string Simulator::unplug()
{
    if (!terminal_.is_open())
        return "already unplugged";
    remove_link();
    terminal_.close();
    journal_.note("unplugged");
    return {};
}

std::string Simulator::plug_in()
{
    if (terminal_.is_open())
        return "already plugged in";
    if (std::string e = open_terminal(); !e.empty())
        return e;
    journal_.note("plugged in on " + terminal_.path());
    return make_link();
}

void Simulator::cleanup()
{
    remove_link();
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        ::unlink(opt_.control.c_str());
        listen_fd_ = -1;
    }
    for (Channel& c : channels_)
        if (!c.is_stdin)
            ::close(c.fd);
    channels_.clear();
}

bool Simulator::serve(Channel& ch)
{
    size_t nl;
    while ((nl = ch.pending.find('\n')) != std::string::npos) {
        std::string line = ch.pending.substr(0, nl);
        ch.pending.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        const Reply r = control_.run(line, Clock::now());
        std::string out;
        for (const auto& b : r.body)
            out += b + "\n";
        out += r.line + "\n";
        if (ch.is_stdin) {
            std::fputs(out.c_str(), stdout);
            std::fflush(stdout);
        } else {
            write_all(ch.fd, out);
        }
        if (r.quit)
            return false;
    }
    if (ch.pending.size() > 4096) {
        ch.pending.clear();
        const std::string out = "error: line too long\n";
        ch.is_stdin ? (void)(std::fputs(out.c_str(), stdout), std::fflush(stdout)) : write_all(ch.fd, out);
    }
    return true;
}

// Signals are taken only inside ppoll, so none is lost between a check and the wait; one that
// comes while starting waits for the first ppoll. The mask for the wait goes to `during_wait`.
void take_signals(sigset_t& during_wait)
{
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &during_wait);
    sigdelset(&during_wait, SIGINT);
    sigdelset(&during_wait, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::vector<pollfd> Simulator::poll_set() const
{
    std::vector<pollfd> fds;
    // On TCP the master's connection (none: -1, which poll passes over) and the listener.
    fds.push_back({terminal_.fd(), short(POLLIN | (terminal_.is_tcp() ? POLLRDHUP : 0)), 0});
    fds.push_back({terminal_.listener(), POLLIN, 0});
    if (listen_fd_ >= 0)
        fds.push_back({listen_fd_, POLLIN, 0});
    for (const Channel& c : channels_)
        fds.push_back({c.fd, POLLIN, 0});
    return fds;
}

const timespec* Simulator::time_to_deadline(timespec& wait) const
{
    const auto d = engine_.deadline();
    if (!d)
        return nullptr;
    const auto left = std::max(*d - Clock::now(), Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    wait = {time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
    return &wait;
}

void Simulator::on_line(const pollfd& line, const pollfd& listener)
{
    if (line.revents & POLLIN)
        engine_.on_readable(Clock::now());
    if (terminal_.is_tcp() && (line.revents & (POLLRDHUP | POLLERR | POLLHUP))) {
        terminal_.drop_master();
        journal_.note("the master closed its connection");
    } else if (!(line.revents & POLLIN) && (line.revents & (POLLERR | POLLHUP | POLLNVAL))) {
        fail("the terminal " + terminal_.path() + " went away");
    }
    if (listener.revents & POLLIN)
        for (int n = terminal_.accept_master(); n > 0; --n)
            journal_.note("a master connected");
    if (const auto d = engine_.deadline(); d && Clock::now() >= *d)
        engine_.on_deadline(Clock::now());
}

bool Simulator::on_channels(const std::vector<pollfd>& fds)
{
    const size_t first_channel = fds.size() - channels_.size();
    if (listen_fd_ >= 0 && (fds[2].revents & POLLIN)) {
        const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            channels_.push_back({client, {}, false});
    }
    // Channels are polled in the order they stood before any accept above.
    bool running = true;
    std::vector<size_t> closed;
    for (size_t i = 0; i + first_channel < fds.size() && running; ++i) {
        if (!(fds[first_channel + i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        Channel& ch = channels_[i];
        char buf[1024];
        const ssize_t n = ::read(ch.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // End of standard input only stops reading it: the simulator may run in the
            // background with nothing attached.
            closed.push_back(i);
            continue;
        }
        ch.pending.append(buf, size_t(n));
        running = serve(ch);
    }
    for (auto it = closed.rbegin(); it != closed.rend(); ++it) {
        if (!channels_[*it].is_stdin)
            ::close(channels_[*it].fd);
        channels_.erase(channels_.begin() + long(*it));
    }
    return running;
}

int Simulator::run()
{
    sigset_t during_wait;
    take_signals(during_wait);
    start();
    bool running = true;
    while (running && !g_stop) {
        std::vector<pollfd> fds = poll_set();
        timespec wait{};
        const int ready = ppoll(fds.data(), fds.size(), time_to_deadline(wait), &during_wait);
        if (ready < 0 && errno != EINTR)
            fail(std::string("poll: ") + std::strerror(errno));
        if (g_stop)
            break;
        on_line(fds[0], fds[1]);
        running = on_channels(fds);
    }
    journal_.note(g_stop ? "stopped by a signal" : "quit");
    cleanup();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    Simulator sim(o);
    return sim.run();
}
