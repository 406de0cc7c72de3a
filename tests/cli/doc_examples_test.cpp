// Every varnok-cli command shown in the manuals runs as written: each example line is taken from
// its document and run by the shell against the simulator, with a settings file that maps every
// port name to the simulator's terminal, and a Mosquitto for the examples that publish.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "cli_on_sim.h"
#include "support/sim_process.h"

namespace varnok::test {
namespace {

struct Example {
    std::string document;  // its name under docs/
    int line = 0;
    std::string text;  // as the shell gets it
};

// "VAR=value ... varnok-cli ...": a command line of the tool.
bool is_tool_command(const std::string& line)
{
    static const std::regex command(R"(^([A-Za-z_][A-Za-z0-9_]*=\S*\s+)*varnok-cli(\s|$))");
    return std::regex_search(line, command);
}

std::string trimmed(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// The example lines of a document: in Markdown the lines of fenced code blocks, in the man page
// the lines between .nf and .fi (roff escapes of the minus and the backslash undone), in a plain
// text the lines indented by four blanks or more.
std::vector<Example> examples_of(const std::string& document)
{
    std::ifstream in(fs::path(VARNOK_DOCS_DIR) / document);
    EXPECT_TRUE(in) << document;
    const std::string ext = fs::path(document).extension().string();
    std::vector<Example> found;
    bool inside = false;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        std::string text = trimmed(line);
        bool example = false;
        if (ext == ".md") {
            if (text.rfind("```", 0) == 0)
                inside = !inside;
            else
                example = inside;
        } else if (ext == ".1") {
            if (text == ".nf" || text == ".fi")
                inside = text == ".nf";
            else
                example = inside;
            text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
            text = std::regex_replace(text, std::regex(R"(\\e)"), "\\");
        } else {
            example = line.rfind("    ", 0) == 0;
        }
        if (example && is_tool_command(text))
            found.push_back({document, n, text});
    }
    return found;
}

// Examples that need what a test cannot give, with the reason; each must still be found in its
// document, so that the list follows the manuals. The broker of the MQTT examples is a
// Mosquitto of the test's own. A check needs a signal applied at each point (a calibrator, or
// a simulator driven through its control socket, as its own tests run it), and its worked
// example goes step by step, the calibration's file made by a line that is not the tool's.
struct Exception {
    std::string document;
    std::string fragment;
    std::string reason;
};
const std::vector<Exception>& exceptions()
{
    static const std::vector<Exception> list = {
        {"user-guide.md", " check ", "a signal at each point"},
        {"user-guide.md", "zero.conf", "the file of the line before"},
        {"varnok-cli.1", " check ", "a signal at each point"},
        {"windows/manual.txt", "plant-ca.pem", "a Windows PC's files and the plant's own TLS broker"},
    };
    return list;
}

pid_t spawn(const std::vector<std::string>& args, const fs::path& output)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "r", stdin);
        std::freopen(output.c_str(), "w", stdout);
        std::freopen(output.c_str(), "a", stderr);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    return pid;
}

// The broker the MQTT examples publish to: anonymous users welcome, and the user meter with the
// password the man page's example gives ("..."); a subscriber to every topic records what came.
class Broker {
public:
    explicit Broker(const fs::path& dir) : dir_(dir)
    {
        fs::create_directories(dir_);
        fs::permissions(dir_, fs::perms::all);  // run as root, mosquitto becomes the user mosquitto
        port_ = free_port();
        const std::string passwd = (dir_ / "passwd").string();
        EXPECT_EQ(std::system(("mosquitto_passwd -b -c '" + passwd + "' meter '...'").c_str()), 0);
        std::ofstream(dir_ / "mosquitto.conf") << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
                                               << "password_file " << passwd << "\n";
        broker_ = spawn({"/usr/sbin/mosquitto", "-c", (dir_ / "mosquitto.conf").string()}, dir_ / "mosquitto.log");
        EXPECT_TRUE(eventually([&] { return accepts(port_); }, std::chrono::seconds(10))) << slurp(dir_ / "mosquitto.log");
        subscriber_ = spawn(
            {"stdbuf", "-oL", "mosquitto_sub", "-d", "-v", "-h", "127.0.0.1", "-p", std::to_string(port_), "-t", "#"},
            dir_ / "seen");
        EXPECT_TRUE(eventually([&] { return slurp(dir_ / "seen").find("SUBACK") != std::string::npos; },
                               std::chrono::seconds(10)))
            << slurp(dir_ / "seen");
    }
    ~Broker()
    {
        for (const pid_t pid : {subscriber_, broker_}) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(dir_);
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // Readings the subscriber got: "TOPIC/readings {...}" lines.
    int readings() const
    {
        std::istringstream seen(slurp(dir_ / "seen"));
        int n = 0;
        for (std::string line; std::getline(seen, line);)
            n += line.rfind("Client ", 0) != 0 && line.find("/readings {") != std::string::npos;
        return n;
    }

private:
    fs::path dir_;
    int port_ = 0;
    pid_t broker_ = -1, subscriber_ = -1;
};

// What an example names that stands for the simulator: a device path or a converter's address
// is the simulator's, a broker's host the test's broker; a scan of every number is narrowed to
// the simulated devices' (the whole range takes minutes at each speed, and the form is what is
// checked).
std::string on_the_simulator(std::string text, const std::string& terminal, const std::string& tcp,
                             const std::string& broker)
{
    // "$01", not "$1": the address after it begins with a digit.
    if (!broker.empty())
        text = std::regex_replace(text, std::regex(R"((mqtts?://([^@/\s]*@)?)[^/\s]+)"), "$01" + broker);
    text = std::regex_replace(text, std::regex(R"(/dev/tty[A-Za-z]+[0-9]+)"), terminal);
    if (!tcp.empty())
        text = std::regex_replace(text, std::regex(R"(tcp://[^\s]+)"), tcp);
    if (text.find("--from") == std::string::npos && text.find("--to") == std::string::npos)
        text = std::regex_replace(text, std::regex(R"((^|\s)scan(\s|$))"), "$1scan --from 3 --to 5$2");
    return text;
}

// The number of devices a read polls: one, or the list after -a.
int devices_named(const std::string& text)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(R"(-a\s*([0-9,]+))")))
        return 1;
    const std::string list = m[1];
    return 1 + int(std::count(list.begin(), list.end(), ','));
}

class DocExamples : public ::testing::Test {
protected:
    DocExamples() { dir = fs::temp_directory_path() / ("varnok-doc-examples-" + std::to_string(::getpid())); }
    ~DocExamples() override { fs::remove_all(dir); }

    // A document's examples share a folder, as a reader goes through them one after another
    // (a profile saved by one is loaded by the next); each gets a fresh settings file and
    // simulator: a device's speed that one changed is not the next one's starting point.
    void open_folder()
    {
        fs::remove_all(dir);
        fs::create_directories(dir / "bin");
        // The tool as the examples call it, on the test's settings file.
        const fs::path tool = dir / "bin" / "varnok-cli";
        std::ofstream(tool) << "#!/bin/sh\nexec '" << VARNOK_CLI_PATH << "' --settings '"
                            << (dir / "varnok.ini").string() << "' --history '" << (dir / "history.sqlite").string()
                            << "' \"$@\"\n";
        fs::permissions(tool, fs::perms::owner_all);
        // The sheet the commissioning examples name.
        std::ofstream(dir / "batch.csv") << "address,scale1,unit1,max1\n5,250.0,В,225\n";
    }
    void write_settings(const SimProcess& sim)
    {
        std::ofstream ini(dir / "varnok.ini");
        ini << "[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\n[порты]\n";
        for (int n = 1; n <= 16; ++n)
            ini << "COM" << n << "=" << sim.path() << "\n";
    }

    // Runs the line in the shell; a read without end (--count 0) gets Ctrl-C once its first poll
    // is in, as the examples say it ends. Returns the exit code, -1 when killed by a signal.
    int run(const std::string& text)
    {
        std::fflush(nullptr);  // nothing buffered here is written again by the child
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            if (::chdir(dir.c_str()) != 0)
                std::_Exit(126);
            const char* path = std::getenv("PATH");
            ::setenv("PATH", ((dir / "bin").string() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
            ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);  // the spool of --mqtt
            std::freopen("/dev/null", "r", stdin);
            std::freopen((dir / "out").c_str(), "w", stdout);
            std::freopen((dir / "err").c_str(), "w", stderr);
            // The shell itself outlives a Ctrl-C to its group and ends with the tool's exit code.
            ::execl("/bin/sh", "sh", "-ec", ("trap : INT\n" + text).c_str(), nullptr);
            std::_Exit(127);
        }
        ::setpgid(pid, pid);
        const bool endless = std::regex_search(text, std::regex(R"(--count[ =]0(\s|$))"));
        std::smatch m;
        const fs::path polled =
            std::regex_search(text, m, std::regex(R"(--out[ =](\S+))")) ? dir / m[1].str() : dir / "out";
        const bool published = text.find("--mqtt") != std::string::npos;
        const int before = published ? broker->readings() : 0;
        // A poll is in when each device has its row (--out: below the header) or its message.
        const auto polls_in = [&] {
            if (published)
                return broker->readings() - before >= devices_named(text);
            return count_lines(slurp(polled)) >= devices_named(text) + (polled == dir / "out" ? 0 : 1);
        };
        bool interrupted = false;
        int status = 0;
        const bool ended = eventually(
            [&] {
                if (endless && !interrupted && polls_in()) {
                    ::kill(-pid, SIGINT);
                    interrupted = true;
                }
                return ::waitpid(pid, &status, WNOHANG) != 0;
            },
            std::chrono::seconds(90));
        if (!ended) {
            ::kill(-pid, SIGKILL);  // a hang: reported as a kill
            ::waitpid(pid, &status, 0);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir;
    std::unique_ptr<Broker> broker;  // started by the first example that publishes
};

// One document per test, so that the four run beside each other.
class DocExamplesOf : public DocExamples, public ::testing::WithParamInterface<const char*> {};

TEST_P(DocExamplesOf, EveryCommandRunsAsWritten)
{
    const std::string document = GetParam();
    std::vector<bool> excepted_found(exceptions().size(), false);
    int ran = 0, skipped = 0;
    open_folder();
    const std::vector<Example> examples = examples_of(document);
    EXPECT_FALSE(examples.empty()) << document << ": no example found";
    for (const Example& e : examples) {
        const std::string where = "docs/" + e.document + ":" + std::to_string(e.line) + ": " + e.text;
        bool excepted = false;
        for (size_t i = 0; i < exceptions().size(); ++i)
            if (exceptions()[i].document == e.document && e.text.find(exceptions()[i].fragment) != std::string::npos)
                excepted = excepted_found[i] = true;
        if (excepted) {
            ++skipped;
            continue;
        }
        const std::vector<std::string> line = {"--noise",     "0", "--whole-answers", "--device-at", "5",
                                               "--device-at", "3", "--device-at",     "17"};
        SimProcess sim(line);
        std::unique_ptr<SimProcess> converter;
        if (e.text.find("tcp://") != std::string::npos) {
            std::vector<std::string> tcp = line;
            tcp.insert(tcp.end(), {"--tcp", "0"});
            converter = std::make_unique<SimProcess>(tcp);
        }
        if (e.text.find("--mqtt") != std::string::npos && !broker)
            broker = std::make_unique<Broker>(dir.string() + "-broker");
        write_settings(sim);
        const std::string text = on_the_simulator(e.text, sim.path(), converter ? converter->path() : "",
                                                  broker ? broker->address() : "");
        const int code = run(text);
        EXPECT_EQ(code, 0) << where << "\n  ran: " << text << "\n  stderr: " << slurp(dir / "err")
                           << "\n  stdout: " << slurp(dir / "out");
        ++ran;
    }
    for (size_t i = 0; i < exceptions().size(); ++i) {
        if (exceptions()[i].document == document) {
            EXPECT_TRUE(excepted_found[i]) << "no example in docs/" << document << " holds \""
                                           << exceptions()[i].fragment << "\" any more: drop it from the exceptions";
        }
    }
    std::printf("%d examples ran, %d excepted\n", ran, skipped);
}

INSTANTIATE_TEST_SUITE_P(Manuals, DocExamplesOf,
                         ::testing::Values("user-guide.md", "varnok-cli.1", "windows/README.txt", "windows/manual.txt"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             std::string name = p.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

}  // namespace
}  // namespace varnok::test
