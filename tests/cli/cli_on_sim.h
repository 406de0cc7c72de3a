#pragma once
// varnok-cli's tests: the executable run against the simulator with a settings file of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "support/ports.h"
#include "support/sim_process.h"

namespace varnok::test {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p)
{
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline int count_lines(const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); }

// Waits until `done` holds, looking every 20 ms; false when `within` passes first.
inline bool eventually(const std::function<bool()>& done, std::chrono::seconds within = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts the program and arguments `all` with standard input from `input`, standard output
// and error to the files "out" and "err" of `dir`, and `env` set.
inline pid_t spawn_with_files(std::vector<std::string> all, const fs::path& dir, const std::string& input = "/dev/null",
                              const std::vector<std::pair<std::string, std::string>>& env = {})
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(input.c_str(), "r", stdin);
        std::freopen((dir / "out").c_str(), "w", stdout);
        std::freopen((dir / "err").c_str(), "w", stderr);
        for (const auto& [name, value] : env)
            ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        std::_Exit(127);
    }
    return pid;
}

// What breaks the readings' JSON Schema (docs/readings.schema.json) in each message, as
// Python's jsonschema finds it: "" when every message holds.
inline std::string readings_schema_faults(const std::vector<std::string>& messages, const fs::path& dir)
{
    const fs::path file = dir / "messages.jsonl";
    {
        std::ofstream out(file);
        for (const std::string& m : messages)
            out << m << '\n';
    }
    const std::string command = "python3 -c '"
                                "import json, sys, jsonschema\n"
                                "check = jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))\n"
                                "for n, line in enumerate(open(sys.argv[2], encoding=\"utf-8\"), 1):\n"
                                "    for e in check.iter_errors(json.loads(line)): print(n, e.message)\n"
                                "' " VARNOK_DOCS_DIR "/readings.schema.json " +
                                file.string() + " 2>&1";
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return "the schema check did not start";
    std::string faults;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        faults.append(buf, n);
    if (::pclose(p) != 0 && faults.empty())
        faults = "the schema check failed";
    return faults;
}

class CliOnSim : public ::testing::Test {
protected:
    // The simulator hands each answer over whole, as a USB adapter does: fed byte by byte, a
    // loaded machine leaves gaps between bytes longer than a probe's inter-byte time-out.
    explicit CliOnSim(std::vector<std::string> sim_args = {"--noise", "0"}) : sim(whole(std::move(sim_args)))
    {
        dir = fs::temp_directory_path() / ("varnok-cli-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::ofstream(dir / "varnok.ini")
            << "[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\n[порты]\nCOM1=" << sim.path() << "\n";
    }
    ~CliOnSim() override { fs::remove_all(dir); }

    static std::vector<std::string> whole(std::vector<std::string> args)
    {
        args.push_back("--whole-answers");
        return args;
    }

    // Starts the tool with the test's settings file; standard output and error go to files.
    pid_t start(const std::vector<std::string>& args, const std::string& input = "/dev/null")
    {
        std::vector<std::string> all = prefix;
        all.insert(all.end(), {VARNOK_CLI_PATH, "--settings", (dir / "varnok.ini").string()});
        all.insert(all.end(), args.begin(), args.end());
        // The unit's history goes to the test's folder, never to the real home.
        auto own_env = env;
        if (std::none_of(own_env.begin(), own_env.end(), [](const auto& e) { return e.first == "XDG_DATA_HOME"; }))
            own_env.emplace_back("XDG_DATA_HOME", (dir / "data").string());
        return spawn_with_files(std::move(all), dir, input, own_env);
    }
    int finish(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        out = slurp(dir / "out");
        err = slurp(dir / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int run(const std::vector<std::string>& args, const std::string& input = "/dev/null")
    {
        return finish(start(args, input));
    }

    // What the tool says it talks to when the connection comes from the settings file.
    std::string note(const std::string& devices = "прибор 5")
    {
        return "порт COM1 → " + sim.path() + ", 9600 8N1, " + devices + " (из файла настроек " +
               (dir / "varnok.ini").string() + ")\n";
    }

    SimProcess sim;
    fs::path dir;
    std::vector<std::pair<std::string, std::string>> env;  // set in the tool's environment
    std::vector<std::string> prefix;                       // a program the tool runs under, with its arguments
    std::string out, err;
};

}  // namespace varnok::test
