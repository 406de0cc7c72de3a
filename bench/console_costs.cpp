// The console's own costs, in the normal timing and in the fast exchange: the time from
// starting the program to its main window painted, with no device on the line; while it
// polls the simulator every second, its peak memory and the CPU time it takes; and the
// number search ("поиск номера", 247 numbers at 9600 bit/s) as the menu runs it.
//
//   console_costs [--seconds N] [--starts N]     (default: 600 s of polling, 5 starts)
//
// Each measurement runs this program again as the console (the windows created as the
// program entry creates them), with a settings file of its own.
#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "console/console_windows.h"
#include "console/readings_page.h"
#include "support/pty.h"
#include "support/sim_process.h"

namespace varnok::bench {
namespace {

using Clock = std::chrono::steady_clock;

long long now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory of this process, kB.
long peak_kb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// The console, its windows created in the program's order, on the settings file `ini`.
// `startup`: print when the main window first paints, then end. `poll`: once the
// activation is done, poll periodically for `seconds` and print the costs. `search`: once
// the activation is done, run the number search and print its time.
int child(const std::string& what, const std::string& ini, int seconds)
{
    int argc = 1;
    char name[] = "varnok";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varnok"));
    MessageBox::set_recorder([](const QString& text, const QString&) {
        std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
    });

    ConsoleContext ctx(ini);
    ConsoleWindows windows(ctx);
    TFglav& Fglav = *windows.glav;

    struct FirstPaint : QObject {
        QWidget* window = nullptr;
        long long at = 0;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            auto* w = qobject_cast<QWidget*>(o);
            if (at == 0 && e->type() == QEvent::Paint && w && w->window() == window) {
                at = now_ns();
                QTimer::singleShot(0, qApp, &QApplication::quit);
            }
            return false;
        }
    } paint;
    if (what == "startup") {
        paint.window = &Fglav;
        app.installEventFilter(&paint);
    }

    int ticks = 0;
    double cpu0 = 0;
    long long t0 = 0;
    QObject::connect(&Fglav.readings().Timer_opros, &QTimer::timeout, [&] { ++ticks; });
    QTimer ready;
    if (what == "poll") {
        QObject::connect(&ready, &QTimer::timeout, [&] {
            if (!Fglav.status_panel(0).startsWith(QStringLiteral(" Порт: ")))
                return;  // the activation has not finished
            ready.stop();
            Fglav.findChild<QRadioButton*>(QStringLiteral("RGtyp_opros_0"))->setChecked(true);
            Fglav.tool_button("ToolButton1")->setChecked(true);
            cpu0 = cpu_seconds();
            t0 = now_ns();
            QTimer::singleShot(seconds * 1000, qApp, &QApplication::quit);
        });
        ready.start(50);
    }
    double search_ms = 0;
    if (what == "search") {
        QObject::connect(&ready, &QTimer::timeout, [&] {
            if (!Fglav.status_panel(0).startsWith(QStringLiteral(" Порт: ")))
                return;
            ready.stop();
            const long long start = now_ns();
            Fglav.findChild<QAction*>(QStringLiteral("N_poisk_num"))->trigger();
            search_ms = double(now_ns() - start) / 1e6;
            QTimer::singleShot(0, qApp, &QApplication::quit);
        });
        ready.start(50);
    }

    Fglav.show();
    Fglav.activateWindow();
    QApplication::exec();

    if (what == "startup") {
        std::printf("shown %lld\n", paint.at);
    } else if (what == "search") {
        const QListWidget* info = Fglav.findChild<QListWidget*>(QStringLiteral("ListBox1"));
        const bool found =
            info->count() > 0 && info->item(info->count() - 1)->text().contains(QStringLiteral("отозвался №5"));
        std::printf("search %.1f %d\n", search_ms, found ? 1 : 0);
    } else {
        const double wall = double(now_ns() - t0) / 1e9;
        const int errors = Fglav.findChild<QListWidget*>(QStringLiteral("ListBox1"))->count();
        std::printf("poll %.4f %ld %d %d %.1f\n", 100.0 * (cpu_seconds() - cpu0) / wall, peak_kb(), ticks, errors,
                    wall);
    }
    return 0;
}

// Runs this program as the console and returns what it printed; `started` gets the moment
// just before it was started.
std::string run_child(const std::vector<std::string>& args, long long& started)
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    started = now_ns();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv{const_cast<char*>("console_costs")};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return text;
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string settings(const std::string& port, bool fast)
{
    return "[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=0\n\n[порты]\nCOM1=" + port +
           "\n\n[быстрый обмен]\nВКЛЮЧЕН=" + (fast ? "1" : "0") + "\n";
}

int parent(int seconds, int starts)
{
    char dir_template[] = "/tmp/varnok-costs-XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (!dir)
        return 1;
    const std::string ini = std::string(dir) + "/varnok.ini";
    const char* platform = std::getenv("QT_QPA_PLATFORM");

    double startup_ms[2]{}, cpu[2]{}, memory_mb[2]{}, search_s[2]{};
    int ticks[2]{}, errors[2]{}, found[2]{};
    double wall[2]{};
    for (int m = 0; m < 2; ++m) {
        {
            test::Pty silent;  // a line with no device on it
            std::vector<double> t;
            for (int i = 0; i < starts; ++i) {
                write_file(ini, settings(silent.slave_path(), m == 1));
                long long started = 0;
                const std::string out = run_child({"--child", "startup", ini}, started);
                long long shown = 0;
                if (std::sscanf(out.c_str(), "shown %lld", &shown) == 1 && shown > 0)
                    t.push_back(double(shown - started) / 1e6);
            }
            std::sort(t.begin(), t.end());
            startup_ms[m] = t.empty() ? -1 : t[t.size() / 2];
        }
        {
            test::SimProcess sim({"--noise", "0"});
            write_file(ini, settings(sim.path(), m == 1));
            long long started = 0;
            const std::string out = run_child({"--child", "poll", ini, std::to_string(seconds)}, started);
            long kb = 0;
            if (std::sscanf(out.c_str(), "poll %lf %ld %d %d %lf", &cpu[m], &kb, &ticks[m], &errors[m], &wall[m]) != 5)
                std::fprintf(stderr, "the polling console printed: %s\n", out.c_str());
            memory_mb[m] = double(kb) / 1024.0;

            const std::string searched = run_child({"--child", "search", ini}, started);
            if (std::sscanf(searched.c_str(), "search %lf %d", &search_s[m], &found[m]) != 2)
                std::fprintf(stderr, "the searching console printed: %s\n", searched.c_str());
            search_s[m] /= 1000;
        }
    }
    std::remove(ini.c_str());
    rmdir(dir);

    std::printf(
        "Console's own costs (Qt platform %s); start-up: median of %d starts on a line with no device;\n"
        "polling: every 1 s for %d s against the simulator; the number search as the menu runs it.\n\n",
        platform ? platform : "default", starts, seconds);
    std::printf("%-40s %10s %10s %8s\n", "", "normal", "fast", "goal");
    std::printf("%-40s %10.0f %10.0f %8s\n", "start-up to the window shown, ms", startup_ms[0], startup_ms[1], "< 300");
    std::printf("%-40s %10.1f %10.1f %8s\n", "peak memory, MB", memory_mb[0], memory_mb[1], "< 60");
    std::printf("%-40s %10.2f %10.2f %8s\n", "CPU while polling, % of one core", cpu[0], cpu[1], "< 2");
    std::printf("%-40s %10d %10d\n", "ticks polled", ticks[0], ticks[1]);
    std::printf("%-40s %10d %10d\n", "error lines in the information window", errors[0], errors[1]);
    std::printf("%-40s %10.1f %10.1f\n", "number search, 247 at 9600 bit/s, s", search_s[0], search_s[1]);
    std::printf("%-40s %10s %10s\n", "  found the device at 5", found[0] ? "yes" : "NO", found[1] ? "yes" : "NO");
    return 0;
}

}  // namespace
}  // namespace varnok::bench

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "--child")
        return varnok::bench::child(args[1], args[2], args.size() > 3 ? std::atoi(args[3].c_str()) : 0);
    int seconds = 600, starts = 5;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == "--seconds")
            seconds = std::max(1, std::atoi(args[i + 1].c_str()));
        else if (args[i] == "--starts")
            starts = std::max(1, std::atoi(args[i + 1].c_str()));
        else {
            std::fprintf(stderr, "usage: console_costs [--seconds N] [--starts N]\n");
            return 2;
        }
    }
    return varnok::bench::parent(seconds, starts);
}
