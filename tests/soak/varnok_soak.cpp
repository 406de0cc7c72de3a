// A long run of the console's periodic polling against the simulator with random line
// faults: the same windows as the program, driven as an engineer would (periodic polling
// every second, started again when a lost answer has switched it back to on-request). Every
// minute it notes the memory in use, the lines of the information window and the faults the
// simulator injected. scripts/soak.sh runs it.
//   varnok-soak [--seconds N] [--faults PERCENT] [--seed N] [--report FILE]
#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "console/console_windows.h"
#include "console/message_box.h"
#include "console/readings_page.h"
#include "support/sim_process.h"

namespace {

long resident_kb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// The answers the simulator spoilt so far, of every kind.
long injected(varnok::test::SimProcess& sim)
{
    long n = 0;
    for (const auto& [key, value] : sim.dump())
        if (key.rfind("injected ", 0) == 0)
            n += std::stol(value);
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    long seconds = 3600;
    std::string faults = "1", seed = "1", report_path;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--seconds")
            seconds = std::stol(v);
        else if (a == "--faults")
            faults = v;
        else if (a == "--seed")
            seed = v;
        else if (a == "--report")
            report_path = v;
    }
    QApplication app(argc, argv);
    QTemporaryDir dir;
    varnok::test::SimProcess sim({"--random-faults", faults, "--seed", seed, "--whole-answers"});

    QFile ini(dir.filePath(QStringLiteral("varnok.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=0\n\n"
                             "[порты]\nCOM1=%1\n")
                  .arg(QString::fromStdString(sim.path()))
                  .toUtf8());
    ini.close();

    long boxes = 0;
    varnok::MessageBox::set_recorder([&](const QString& text, const QString&) {
        ++boxes;
        std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
    });
    varnok::ConsoleContext ctx(ini.fileName().toStdString());
    varnok::ConsoleWindows windows(ctx);
    varnok::TFglav& glav = *windows.glav;
    glav.show();
    glav.activateWindow();

    auto* periodic = glav.findChild<QRadioButton*>(QStringLiteral("RGtyp_opros_0"));
    QToolButton* pusk = glav.tool_button("ToolButton1");
    auto* info = glav.findChild<QListWidget*>(QStringLiteral("ListBox1"));
    varnok::ReadingsPage& readings = glav.readings();

    FILE* report = report_path.empty() ? stdout : std::fopen(report_path.c_str(), "w");
    if (!report)
        return 2;
    std::fprintf(report, "minute  rss_kb  info_lines  faults  restarts  boxes\n");
    std::fflush(report);

    long restarts = 0, minute = 0, max_rss = 0, min_rss = 0;
    const long start_faults = injected(sim);
    long start_lines = -1;

    // Polling on: every second, as long as it runs; a lost answer switches it back to on
    // request, and it is started again as an engineer would.
    QTimer operator_hand;
    QObject::connect(&operator_hand, &QTimer::timeout, [&] {
        if (ctx.busy > 0 || readings.Timer_opros.isActive())
            return;
        if (start_lines < 0)
            start_lines = info->count();  // the start-up's own lines are not the soak's
        else
            ++restarts;
        periodic->click();
        if (!pusk->isChecked())
            pusk->click();
    });
    operator_hand.start(1000);

    QTimer minutes;
    QObject::connect(&minutes, &QTimer::timeout, [&] {
        ++minute;
        const long rss = resident_kb();
        if (minute == 1)
            min_rss = max_rss = rss;
        max_rss = std::max(max_rss, rss);
        min_rss = std::min(min_rss, rss);
        std::fprintf(report, "%6ld  %6ld  %10ld  %6ld  %8ld  %5ld\n", minute, rss,
                     info->count() - std::max(start_lines, 0L), injected(sim) - start_faults, restarts, boxes);
        std::fflush(report);
        if (minute * 60 >= seconds)
            app.quit();
    });
    minutes.start(60000);

    QApplication::exec();
    const long lines = info->count() - std::max(start_lines, 0L);
    const long spoilt = injected(sim) - start_faults;
    std::fprintf(report,
                 "summary: %ld minutes, %ld faults injected, %ld information lines (%.2f per fault), %ld restarts of "
                 "polling, %ld message boxes, memory after the first minute %ld..%ld kB (%ld kB apart)\n",
                 minute, spoilt, lines, spoilt ? double(lines) / double(spoilt) : 0.0, restarts, boxes, min_rss,
                 max_rss, max_rss - min_rss);
    if (report != stdout)
        std::fclose(report);
    return 0;
}
