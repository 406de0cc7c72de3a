// varnok-cli as a user runs it: the executable against the simulator, with a settings file of
// its own; and the parsing of what it is given.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include "cli/commission.h"
#include "cli/info.h"
#include "cli/options.h"
#include "ops/profile.h"
#include "cli/value.h"
#include "cli_on_sim.h"

namespace varnok::test {
namespace {

using namespace varnok::cli;

TEST_F(CliOnSim, InfoGivesTheDevicesOwnValues)
{
    sim.command("setf holding 0x25 0.5");  // channel 1's lower setpoint
    sim.command("set holding 0x47 873");   // channel 2's stored zero
    ASSERT_EQ(run({"--json", "info"}), 0) << err;
    EXPECT_EQ(
        out.rfind("{\"address\":5,\"name\":\"Варнок ПМ3\",\"version\":\"V2.07 2026\",\"interface\":{\"speed\":9600,"
                  "\"parity\":\"none\",\"stopbits\":1,\"address\":5},\"channels\":[{\"channel\":1,\"scale\":250.0,"
                  "\"point\":\"ddd.d\",\"unit\":\"В\",\"max\":225,\"min\":0.5,\"zero\":1012,\"coefficient\":0.0025,"
                  "\"pwm_low\":480,\"pwm_high\":1480,\"value\":",
                  0),
        0u)
        << out;
    EXPECT_NE(
        out.find(
            "{\"channel\":2,\"scale\":5.0,\"point\":\"d.ddd\",\"unit\":\"А\",\"max\":4.5,\"min\":0.5,\"zero\":873,"),
        std::string::npos)
        << out;
    EXPECT_EQ(err, note());

    // A silent device: no name, no version, nothing more asked; exit code 1, the tool's message
    // once.
    sim.command("fault silence always");
    EXPECT_EQ(run({"info"}), 1);
    EXPECT_EQ(out, "номер   5\nимя     -\nверсия  -\n");
    EXPECT_EQ(err, note() + "прибор 5 (COM1, 9600 8N1) не отвечает: чтение имени\n");
}

// A connection no one typed is named once, with where it comes from; -v names it always and
// shows the scan's probes too.
TEST_F(CliOnSim, TheToolSaysWhatItTalksTo)
{
    ASSERT_EQ(run({"info"}), 0) << err;
    EXPECT_EQ(err, "порт COM1 → " + sim.path() + ", 9600 8N1, прибор 5 (из файла настроек " +
                       (dir / "varnok.ini").string() + ")\n");
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "info"}), 0) << err;
    EXPECT_EQ(err, "");
    ASSERT_EQ(run({"-v", "-p", "COM1", "-a", "5", "scan", "--from", "5", "--to", "6"}), 0) << err;
    EXPECT_EQ(err.rfind(note(), 0), 0u) << err;
    EXPECT_NE(err.find("ЗАПРОС: 05 "), std::string::npos) << err;
    EXPECT_NE(err.find("ЗАПРОС: 06 "), std::string::npos) << err;
}

// The user's guide's own example: the connection options after the command; long forms and
// attached values; the version the package carries.
TEST_F(CliOnSim, ConnectionOptionsAfterTheCommandAndTheVersion)
{
    ASSERT_EQ(run({"-a", "5", "info", "--json"}), 0) << err;
    EXPECT_EQ(out.rfind("{\"address\":5,\"name\":\"Варнок ПМ3\",", 0), 0u) << out;
    ASSERT_EQ(run({"read", "--address=5", "--every=0.1", "--count=2", "--port", "COM1", "-b9600"}), 0) << err;
    EXPECT_EQ(count_lines(out), 2) << out;
    ASSERT_EQ(run({"--version"}), 0) << err;
    EXPECT_EQ(out, "varnok-cli " VARNOK_PROJECT_VERSION "\n");
    EXPECT_EQ(run({"info", "--jsn"}), 2);
    EXPECT_EQ(err, "varnok-cli: неизвестный параметр --jsn; может быть, --json?\n");
    EXPECT_EQ(sim.dump().at("ignored"), "0");
}

// Text in Russian, JSON with typed values; Latin units and a decimal comma taken; an erased
// coefficient is null, not a bare nan.
TEST_F(CliOnSim, OneLanguagePerOutputAndValuesAsTheDeviceHoldsThem)
{
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "set", "brightness=2"}), 0) << err;
    EXPECT_EQ(out, "номер          5\nскорость       9600\nпаритет        нет\nстоповые биты  1\nзаписано       да\n");
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "--json", "set", "unit2=kA", "max1=100,5"}), 0) << err;
    EXPECT_EQ(out, "{\"address\":5,\"speed\":9600,\"parity\":\"none\",\"stopbits\":1,\"written\":true}\n");
    sim.command("set holding 0x28 0");
    sim.command("set holding 0x29 49279");  // channel 1's coefficient: a quiet NaN (7F C0 00 00), an erased word
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "--json", "info"}), 0) << err;
    EXPECT_NE(out.find("\"max\":100.5,"), std::string::npos) << out;
    EXPECT_NE(out.find("\"coefficient\":null,"), std::string::npos) << out;
    EXPECT_NE(out.find("\"unit\":\"кА\""), std::string::npos) << out;
    EXPECT_EQ(out.find("nan"), std::string::npos) << out;

    // A small coefficient: plain decimals in the text, as the window's field has it; JSON as it was.
    sim.command("setf holding 0x48 0.00005");  // channel 2's coefficient
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "--json", "info"}), 0) << err;
    EXPECT_NE(out.find("\"parity\":\"none\","), std::string::npos) << out;
    EXPECT_NE(out.find("\"zero\":873,\"coefficient\":5e-05,"), std::string::npos) << out;
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "info"}), 0) << err;
    EXPECT_NE(out.find("\n  паритет        нет\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n    коэффициент  0.00005\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("e-0"), std::string::npos) << out;
    const fs::path profile = dir / "p.conf";
    std::ofstream(profile) << "format=1\n[interface]\nparity=odd\n[calibration]\ncoefficient2=0.0003\n";
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "load", profile.string(), "--with-calibration", "--dry-run"}), 0) << err;
    EXPECT_EQ(out, "coefficient2  0.00005 -> 0.0003\nпаритет       нет -> нечёт\n");
    ASSERT_EQ(run({"-p", "COM1", "-a", "5", "--json", "load", profile.string(), "--with-calibration", "--dry-run"}), 0)
        << err;
    EXPECT_EQ(out, "{\"coefficient2\":{\"old\":5e-05,\"new\":0.0003},\"parity\":{\"old\":\"none\",\"new\":\"odd\"}}\n");
}

// The tool talks at the new speed once the device took it, and so does the next run.
TEST_F(CliOnSim, ASpeedWriteLeavesDeviceAndNextRunAtTheNewSpeed)
{
    ASSERT_EQ(run({"set", "speed=19200", "max2=4.25"}), 0) << err;
    EXPECT_EQ(err, note() + "дальше связь на 19200: файл настроек " + (dir / "varnok.ini").string() + "\n");
    EXPECT_EQ(sim.dump().at("speed"), "3 (19200 bit/s)");
    EXPECT_EQ(sim.command("get holding 0x43"), "ok 0");
    EXPECT_NE(slurp(dir / "varnok.ini").find("СКОРОСТЬ=19200\n"), std::string::npos);
    ASSERT_EQ(run({"--json", "info"}), 0) << err;
    EXPECT_NE(out.find("\"interface\":{\"speed\":19200,"), std::string::npos) << out;
    EXPECT_NE(out.find("\"max\":4.25,"), std::string::npos) << out;
}

TEST_F(CliOnSim, RefusedInputSendsNothing)
{
    std::ofstream(dir / "calibration.csv") << "address,zero1\n9,1012\n";
    std::ofstream(dir / "numbers.csv") << "address,unit_number\n9,\"ЗН\t17\"\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"set", "scale1=123456"}, "scale1=123456: индикатор показывает не больше четырёх цифр"},
        {{"set", "unit2=mV"}, "unit2=mV: неизвестная единица"},
        {{"set", "max1=1.5", "colour=red"}, "colour: неизвестный параметр"},
        {{"set", "min3=-1"}, "min3=-1:"},
        {{"-b", "1200", "info"}, "скорость \"1200\""},
        {{"-a", "3,300", "info"}, "номер прибора \"300\""},
        {{"-a", "3,4", "set", "brightness=2"}, "set: один номер прибора"},
        {{"frobnicate"}, "неизвестная команда frobnicate"},
        {{"read", "--count", "x"}, "--count \"x\""},
        {{"load", (dir / "varnok.ini").string() + ".none"}, ".none не прочитан"},
        {{"load", (dir / "varnok.ini").string()}, "профиль, строка 1: нет строки format=1 перед разделами"},
        {{"commission", (dir / "varnok.ini").string()}, "таблица, строка 1: неизвестный столбец \"[связь]\""},
        {{"commission", (dir / "calibration.csv").string()}, "столбец \"zero1\": калибровка у каждого прибора своя"},
        {{"commission", (dir / "numbers.csv").string()}, "строка 2, столбец unit_number: в заводском номере управляющий символ"},
    };
    for (const auto& [args, message] : refused) {
        EXPECT_EQ(run(args), 2) << args.back();
        EXPECT_NE(err.find(message), std::string::npos) << err;
    }
    EXPECT_EQ(sim.dump().at("answered"), "0");
    EXPECT_EQ(sim.dump().at("ignored"), "0");
    EXPECT_EQ(run({"-p", (dir / "no-such-port").string(), "info"}), 3);
    EXPECT_NE(err.find("не открывается"), std::string::npos) << err;
}

// Ctrl-C between polls ends the run with every row written whole.
TEST_F(CliOnSim, AnInterruptedReadLeavesACompleteFile)
{
    const fs::path csv = dir / "r.csv";
    const pid_t pid = start({"read", "--every", "2", "--count", "0", "--out", csv.string()});
    eventually([&] { return count_lines(slurp(csv)) >= 3; });
    ::kill(pid, SIGINT);
    EXPECT_EQ(finish(pid), 0) << err;
    const std::string rows = slurp(csv);
    ASSERT_EQ(count_lines(rows), 3) << rows;
    EXPECT_EQ(rows.rfind("time,address,value1,percent1,value2,percent2,value3,percent3,frequency\n", 0), 0u);
    std::istringstream lines(rows);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 8) << line;
        EXPECT_NE(line.find(",5,"), std::string::npos) << line;
    }

    // --json: a line per reading as it is taken, so a pipe sees it before the run ends.
    const pid_t json = start({"--json", "read", "--every", "2", "--count", "0"});
    eventually([&] { return count_lines(slurp(dir / "out")) >= 1; });
    const std::string first = slurp(dir / "out");
    ::kill(json, SIGINT);
    EXPECT_EQ(finish(json), 0) << err;
    ASSERT_EQ(count_lines(first), 1) << first;
    const auto m = nlohmann::json::parse(first);
    EXPECT_EQ(m["address"], 5);
    EXPECT_EQ(m["value1"], 106.25);
    EXPECT_EQ(m["unit2"], "А");
    EXPECT_EQ(m["unit3_si"], "mA");
    EXPECT_EQ(m["frequency"], 50);
}

class CliOnTwoDevices : public CliOnSim {
protected:
    CliOnTwoDevices() : CliOnSim({"--noise", "0", "--device-at", "5", "--device-at", "17"}) {}
    // The JSON of `info` without what differs between two devices of one configuration.
    std::string configuration(const std::string& address)
    {
        EXPECT_EQ(run({"-a", address, "--json", "info"}), 0) << err;
        std::string s = out;
        for (const char* live : {"\"value\":", "\"percent\":", "\"frequency\":", "\"address\":"})
            for (size_t at = s.find(live); at != std::string::npos; at = s.find(live, at + 1))
                s.erase(at, s.find_first_of(",}", at) - at);
        return s;
    }
};

class CliOnAMixedLine : public CliOnSim {
protected:
    CliOnAMixedLine() : CliOnSim({"--noise", "0", "--device-at", "16", "--device-at", "17:19200", "--device-at", "40"})
    {
    }
};

// One line per failure in the tool's words: the device, the connection, what was being done
// and the device's reason; the console's lines and the frames only with -v.
TEST_F(CliOnTwoDevices, FailuresAreToldInTheToolsOwnWords)
{
    sim.command("fault exception 2 at 0x21 always");  // channel 1's scale
    EXPECT_EQ(run({"set", "scale1=300.0", "unit1=В"}), 1);
    EXPECT_EQ(err, note() + "прибор 5: scale1 не записана: прибор ответил «недопустимый адрес»\n");
    EXPECT_EQ(run({"-v", "set", "scale1=300.0", "unit1=В"}), 1);
    EXPECT_NE(err.find("ЗАПРОС: 05 10 00 21 00 02 04"), std::string::npos) << err;
    EXPECT_NE(err.find("\"недопустимый адрес \""), std::string::npos) << err;
    EXPECT_NE(err.find("прибор 5: scale1 не записана: прибор ответил «недопустимый адрес»\n"), std::string::npos);
    sim.command("fault clear");

    // Scales that could not be read leave the percentages out: the poll failed, as a value's would.
    sim.command("fault exception 2 at 0x21 always");
    EXPECT_EQ(run({"--json", "read"}), 1);
    EXPECT_NE(out.find("\"percent1\":null,"), std::string::npos) << out;
    EXPECT_NE(out.find("\"error\":{\"code\":2,"), std::string::npos) << out;
    sim.command("fault clear");
    sim.command("fault exception 2 at 0x23 times 1");  // channel 1's setpoints, the first poll only
    EXPECT_EQ(run({"read", "--every", "0.1", "--count", "2"}), 1);
    EXPECT_EQ(count_lines(out), 2) << out;
    sim.command("fault clear");

    // A device that is not there: once a poll, named with the line it was asked on.
    EXPECT_EQ(run({"-a", "5,17,33", "read", "--every", "0.1", "--count", "2"}), 1);
    EXPECT_EQ(err,
              note("приборы 5, 17, 33") +
              "прибор 33 (COM1, 9600 8N1) не отвечает: чтение шкал\n"
              "прибор 33 (COM1, 9600 8N1) не отвечает: чтение шкал\n");
    EXPECT_EQ(count_lines(out), 6) << out;
}

// The port's problems in Russian, with the port and its device.
TEST_F(CliOnSim, APortThatDoesNotOpenSaysWhyInRussian)
{
    const std::string missing = (dir / "no-such-port").string();
    EXPECT_EQ(run({"-a", "5", "-p", missing, "info"}), 3);
    EXPECT_EQ(err, "порт " + missing + " не открывается: нет такого устройства\n");
    std::ofstream(dir / "varnok.ini", std::ios::app) << "COM2=" << missing << "\n";
    EXPECT_EQ(run({"-a", "5", "-p", "COM2", "info"}), 3);
    EXPECT_EQ(err, "порт COM2 (" + missing + ") не открывается: нет такого устройства\n");
    // A path from the settings file is shown with its control characters as '?'.
    std::ofstream(dir / "varnok.ini", std::ios::app) << "COM3=" << missing << "\x1b]0;x\x07\n";
    EXPECT_EQ(run({"-a", "5", "-p", "COM3", "info"}), 3);
    EXPECT_EQ(err, "порт COM3 (" + missing + "?]0;x?) не открывается: нет такого устройства\n");
    // A converter that refuses.
    const RefusingPort refusing;
    const std::string tcp = refusing.url();
    EXPECT_EQ(run({"-a", "5", "-p", tcp, "info"}), 3);
    EXPECT_EQ(err, "порт " + tcp + " не открывается: соединение отклонено\n");
    EXPECT_EQ(run({"-v", "-p", missing, "info"}), 3);
    EXPECT_NE(err.find("No such file or directory (errno 2)"), std::string::npos) << err;
}

// Each device at its own speed, as the console's search finds them; none outside the range.
// A scan that missed a device is run again, twice at most: a loaded machine can keep the
// simulator past a probe's time-outs, while a scan that cannot hear a device misses it every time.
TEST_F(CliOnAMixedLine, AScanAtEverySpeedFindsEachDeviceAtItsSpeed)
{
    auto scan = [&](const std::vector<std::string>& args, const std::string& expected) {
        int status = -1;
        for (int attempt = 0; attempt < 3 && !(status == 0 && out == expected); ++attempt)
            status = run(args);
        return status;
    };
    const std::string both =
        "номер  скорость  паритет  стоп  имя         версия\n"
        "16     9600      none     1     Варнок ПМ3  V2.07 2026\n"
        "17     19200     none     1     Варнок ПМ3  V2.07 2026\n";
    EXPECT_EQ(scan({"scan", "--speed", "all", "--from", "15", "--to", "18"}, both), 0) << err;
    EXPECT_EQ(out, both);
    const std::string json = "[{\"address\":16,\"speed\":9600,\"parity\":\"none\",\"stopbits\":1,\"name\":\"Варнок ПМ3\","
                             "\"version\":\"V2.07 2026\"}]\n";
    EXPECT_EQ(scan({"--json", "scan", "--from", "15", "--to", "17"}, json), 0) << err;
    EXPECT_EQ(out, json);
    EXPECT_EQ(run({"scan", "--from", "20", "--to", "10"}), 2);
}

// A scan that finds nothing says what to try and fails; an interrupted one says so and fails.
TEST_F(CliOnAMixedLine, AScanThatFindsNothingOrIsInterruptedSaysSo)
{
    EXPECT_EQ(run({"scan", "--from", "20", "--to", "22"}), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, note() + "ни один номер из 20..22 не ответил на 9600 бит/с; попробуйте другую скорость (--speed "
                            "19200) или все (--speed all) и проверьте провода A и B (не перепутаны ли)\n");

    fs::remove(dir / "err");  // the note below is the new run's: its interrupt is caught by then
    const pid_t pid = start({"scan"});
    eventually([&] { return slurp(dir / "err").find("порт COM1") != std::string::npos; });
    ::kill(pid, SIGINT);
    EXPECT_EQ(finish(pid), 1);
    EXPECT_NE(err.find("поиск прерван на номере "), std::string::npos) << err;
    EXPECT_NE(err.find(" из 1..247\n"), std::string::npos) << err;
}

// A new device found where the sheet says it answers, and moved to the line's settings; the
// tool's own settings file is left as it was.
TEST_F(CliOnAMixedLine, ACommissionMovesADeviceFromWhereItAnswers)
{
    const fs::path sheet = dir / "sheet.csv", report = dir / "report.csv";
    std::ofstream(sheet) << "from_address,from_speed,speed,address,unit_number\n17,19200,9600,18,ЗН-0017\n";
    const std::string ini = slurp(dir / "varnok.ini");
    ASSERT_EQ(run({"commission", sheet.string(), "--report", report.string(), "--yes"}), 0) << err;
    EXPECT_NE(slurp(report).find(",2,Варнок ПМ3,V2.07 2026,готово,,18,9600\n"), std::string::npos) << slurp(report);
    sim.command("device 2");
    EXPECT_EQ(sim.dump().at("selected"), "#2 18 9600 8N1");
    EXPECT_EQ(slurp(dir / "varnok.ini"), ini);
    ASSERT_EQ(run({"-a", "18", "--json", "info"}), 0) << err;
    // The row's record in the history names the unit by the sheet's factory number.
    ASSERT_EQ(run({"--json", "history", "--unit-number", "ЗН-0017"}), 0) << err;
    const auto all = nlohmann::json::parse(out);
    ASSERT_EQ(all.size(), 1u) << out;
    EXPECT_EQ(all[0]["kind"], "ввод в работу");
    EXPECT_EQ(all[0]["unit"]["network_number"], 17);
    EXPECT_EQ(all[0]["new"], "speed=9600 address=18");
}

TEST_F(CliOnTwoDevices, AProfileOfOneDeviceLoadedIntoAnotherClonesIt)
{
    ASSERT_EQ(run({"set", "scale1=12.34", "unit1=мА", "max2=3.5"}), 0) << err;
    const fs::path profile = dir / "p5.txt";
    ASSERT_EQ(run({"save", profile.string()}), 0) << err;
    const std::string text = slurp(profile);
    EXPECT_EQ(
        text.rfind("# Varnok: конфигурация прибора\n# прибор: Варнок ПМ3\n# версия ПО: V2.07 2026\nformat=1\n\n"
                   "[interface]\nspeed=9600\nparity=none\nstopbits=1\naddress=5\n\n[scales]\nscale1=12.34\nunit1=мА\n",
                   0),
        0u)
        << text;
    EXPECT_NE(text.find("\n[calibration]\nzero1=1012\ncoefficient1=0.0025\npwm_low1=480\npwm_high1=1480\n"),
              std::string::npos);
    // Its last line checks it: a copy cut inside a value, or changed, is refused before anything
    // is sent; one without that line, as earlier versions wrote it, loads with a note.
    const size_t closing = text.rfind("# crc32=");
    ASSERT_EQ(closing, text.size() - 17) << text;
    const fs::path cut = dir / "cut.conf";
    sim.command("device 2");
    const std::string answered = sim.dump().at("answered");
    std::ofstream(cut) << text.substr(0, text.find("max1=225") + 7);
    const int max1_line = int(std::count(text.begin(), text.begin() + std::ptrdiff_t(text.find("max1=225")), '\n')) + 1;
    EXPECT_EQ(run({"-a", "17", "load", cut.string()}), 2);
    EXPECT_EQ(err, "varnok-cli: профиль, строка " + std::to_string(max1_line) +
                       ": не кончается переводом строки, файл обрезан\n")
        << err;
    std::string altered = text;
    altered.replace(altered.find("max1=225"), 8, "max1=200");
    std::ofstream(cut) << altered;
    EXPECT_EQ(run({"-a", "17", "load", cut.string()}), 2);
    EXPECT_NE(err.find(": контрольная сумма "), std::string::npos) << err;
    EXPECT_EQ(sim.dump().at("answered"), answered);
    sim.command("device 1");
    std::ofstream(cut) << altered.substr(0, closing);
    ASSERT_EQ(run({"-a", "17", "load", cut.string(), "--dry-run"}), 0) << err;
    EXPECT_NE(err.find(cut.string() +
                       ": профиль без строки контрольной суммы (сохранён прежней версией), цел ли он, не проверить\n"),
              std::string::npos)
        << err;

    ASSERT_EQ(run({"-a", "17", "load", profile.string(), "--dry-run"}), 0) << err;
    EXPECT_EQ(out, "scale1  250.0 -> 12.34\nunit1   В -> мА\nmax2    4.5 -> 3.5\n");
    ASSERT_EQ(run({"-a", "17", "--json", "load", profile.string(), "--dry-run"}), 0) << err;
    EXPECT_EQ(out,
              "{\"scale1\":{\"old\":250.0,\"new\":12.34},\"unit1\":{\"old\":\"В\",\"new\":\"мА\"},"
              "\"max2\":{\"old\":4.5,\"new\":3.5}}\n");
    EXPECT_NE(configuration("5"), configuration("17"));
    ASSERT_EQ(run({"-a", "17", "load", profile.string()}), 0) << err;
    EXPECT_EQ(configuration("5"), configuration("17"));
    sim.command("device 2");
    EXPECT_EQ(sim.command("get holding 0x800"), "ok 17");

    // A value the device does not take fails the load.
    std::ofstream(profile, std::ios::app) << "";
    sim.command("fault exception 4 at 0x23 always");
    std::string changed = text.substr(0, text.rfind("# crc32="));  // edited by hand, without its sum
    changed.replace(changed.find("max1=225"), 8, "max1=200");
    std::ofstream(profile) << changed;
    EXPECT_EQ(run({"-a", "17", "load", profile.string(), "--only", "setpoints"}), 1);
    EXPECT_NE(err.find("прибор 17: чтение уставок: прибор ответил «специфическая ошибка»\n"), std::string::npos)
        << err;
}

// Aligned text: a line per device and poll, each device's own values, "-" where a read failed.
TEST_F(CliOnTwoDevices, ATextReadGivesALinePerDeviceAndPoll)
{
    sim.command("device 2");
    sim.command("fault silence always");
    EXPECT_EQ(run({"-a", "5,17", "read", "--every", "0.1", "--count", "2"}), 1);
    std::vector<std::string> lines;  // without the time
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(line.find("  ") + 2));
    const std::string five = "5  106.25  42.5  3.655  73.1  2.4  12  50";
    const std::string absent = "17  -  -  -  -  -  -  -";
    EXPECT_EQ(lines, (std::vector<std::string>{five, absent, five, absent})) << out;
}

// A unit's calibration is its own: another unit's profile leaves it alone unless it is named.
TEST_F(CliOnTwoDevices, ALoadLeavesTheUnitsOwnCalibrationUnlessItIsNamed)
{
    const fs::path profile = dir / "p5.txt";
    ASSERT_EQ(run({"save", profile.string()}), 0) << err;
    sim.command("device 2");
    sim.command("set holding 0x27 1100");  // channel 1's stored zero
    sim.command("setf holding 0x43 3.5");  // channel 2's upper setpoint

    ASSERT_EQ(run({"-a", "17", "load", profile.string(), "--dry-run"}), 0) << err;
    EXPECT_EQ(out, "max2  3.5 -> 4.5\n");
    EXPECT_EQ(err,
              note("прибор 17") + "калибровка из файла не загружается: ноль, коэффициент и точки ШИМ у каждого прибора свои; "
              "загрузить её: --with-calibration или --only calibration\n");
    ASSERT_EQ(run({"-a", "17", "load", profile.string()}), 0) << err;
    EXPECT_EQ(sim.command("get holding 0x27"), "ok 1100");

    // Named, it is shown and written; the note is not repeated to whom asked.
    ASSERT_EQ(run({"-a", "17", "load", profile.string(), "--with-calibration", "--dry-run"}), 0) << err;
    EXPECT_EQ(out, "zero1  1100 -> 1012\n");
    EXPECT_EQ(err, note("прибор 17"));
    ASSERT_EQ(run({"-a", "17", "load", profile.string(), "--only", "calibration"}), 0) << err;
    EXPECT_EQ(sim.command("get holding 0x27"), "ok 1012");
}

// Whatever a profile holds, a load writes as the same words: setpoints no indicator entry
// shows; a name with control characters does not break the header; an erased coefficient,
// which no device takes back, is told and leaves the other device's own.
TEST_F(CliOnTwoDevices, WhatSaveWritesLoadTakesBackWordForWord)
{
    sim.command("set holding 0x28 0xFFFF 0xFFFF");  // channel 1's coefficient, erased
    sim.command("setf holding 0x23 -5");
    sim.command("setf holding 0x25 25.094055");
    sim.command("setf holding 0x43 1234.5677");
    sim.command("setf holding 0x65 0.000123");
    sim.command("set holding 0x61 0xFFFF 0xFFFF");             // channel 3's scale, erased
    sim.command("set input 4 0x4142 0x0A43 0x0144 0x0D45 0");  // "AB\nC\x01D\rE"
    const fs::path profile = dir / "p5.txt";
    ASSERT_EQ(run({"save", profile.string()}), 0) << err;
    EXPECT_NE(err.find("coefficient1: в приборе не число (стёртые слова), в файл не записано"), std::string::npos)
        << err;
    const std::string text = slurp(profile);
    EXPECT_EQ(text.rfind("# Varnok: конфигурация прибора\n# прибор: AB?C?D?E\n# версия ПО: V2.07 2026\nformat=1\n", 0),
              0u)
        << text;
    for (const char* line : {"\nmax1=-5\nmin1=25.094055\n", "\nmax2=1234.5677\n", "\nmin3=0.000123\n",
                             "\nzero1=1012\n# coefficient1: нет значения (в приборе не число), не записано\npwm_low1=",
                             "\n# scale3: нет значения (в приборе не число), не записано\nunit3=мА\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;

    sim.command("device 2");
    const std::string coefficient = sim.command("get holding 0x28") + sim.command("get holding 0x29");
    sim.command("device 1");
    ASSERT_EQ(run({"-a", "17", "load", profile.string(), "--with-calibration"}), 0) << err;
    const std::vector<std::string> words = {"0x23", "0x24", "0x25", "0x26", "0x43", "0x44", "0x65", "0x66"};
    std::vector<std::string> first, second;
    for (const std::string& a : words)
        first.push_back(sim.command("get holding " + a));
    sim.command("device 2");
    for (const std::string& a : words)
        second.push_back(sim.command("get holding " + a));
    EXPECT_EQ(second, first);
    EXPECT_EQ(second[0] + second[1], "ok 0ok 41152");  // -5 is C0 A0 00 00, its upper word as the device keeps it
    EXPECT_EQ(sim.command("get holding 0x28") + sim.command("get holding 0x29"), coefficient);
    // Loaded again, it finds every value held.
    ASSERT_EQ(run({"-a", "17", "load", profile.string(), "--with-calibration"}), 0) << err;
    EXPECT_EQ(err, note("прибор 17") + "прибор уже соответствует файлу\n");
}

TEST_F(CliOnTwoDevices, ACommissionReportsEachRowAndARerunDoesOnlyTheFailedOne)
{
    const fs::path sheet = dir / "sheet.csv", report = dir / "report.csv";
    std::ofstream(sheet) << "from_address,max1,unit2,brightness\n5,100,В,2\n17,150,,\n5,,кА,\n";
    sim.command("device 2");
    sim.command("fault exception 4 at 0x23 always");
    EXPECT_EQ(run({"commission", sheet.string(), "--report", report.string(), "--yes"}), 1);
    auto rows = [&] {
        std::vector<std::string> r;
        std::istringstream in(slurp(report));
        for (std::string line; std::getline(in, line);)
            r.push_back(line.substr(line.find(',') + 1));  // without the time
        return r;
    };
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          "row,name,version,result,error,address,speed", "2,Варнок ПМ3,V2.07 2026,готово,,5,9600",
                          "3,Варнок ПМ3,V2.07 2026,ошибка,прибор 17: max1 не записана: прибор ответил "
                          "«специфическая ошибка»,17,9600",
                          "4,Варнок ПМ3,V2.07 2026,готово,,5,9600"}));
    sim.command("device 1");
    EXPECT_EQ(sim.command("get holding 0x40"), "ok 5");  // channel 2: d.ddd, кА
    EXPECT_EQ(sim.dump().at("brightness"), "2");
    sim.command("device 2");
    sim.command("fault clear");
    EXPECT_EQ(run({"commission", sheet.string(), "--report", report.string(), "--yes"}), 0) << err;
    const std::vector<std::string> after = rows();
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[4], "3,Варнок ПМ3,V2.07 2026,готово,,17,9600");
    EXPECT_EQ(sim.command("get holding 0x24"), "ok 5699");  // 150.0's upper word, 43 16, as the device keeps it
}

// A sheet as a Russian-locale spreadsheet saves it (`;`, Windows-1251 or UTF-8 with a
// byte-order mark, decimal commas), and a comma sheet with a byte-order mark, commission the
// device; so does a profile saved with the mark.
TEST_F(CliOnSim, SheetsAndProfilesSavedBySpreadsheetsAndEditorsAreTaken)
{
    const fs::path sheet = dir / "партия.csv";
    const std::vector<std::pair<std::string, std::string>> sheets = {
        {"unit1;max1;brightness\r\n\xEC\xC0;4,5;2\r\n", "\"unit\":\"мА\",\"max\":4.5,"},
        {"\xEF\xBB\xBF" "unit1;max1\r\nкВ;12,5\r\n", "\"unit\":\"кВ\",\"max\":12.5,"},
        {"\xEF\xBB\xBF" "unit1,max1\nА,7.25\n", "\"unit\":\"А\",\"max\":7.25,"},
    };
    for (size_t i = 0; i < sheets.size(); ++i) {
        std::ofstream(sheet, std::ios::binary) << sheets[i].first;
        const fs::path report = dir / ("report" + std::to_string(i) + ".csv");
        ASSERT_EQ(run({"commission", sheet.string(), "--report", report.string(), "--yes"}), 0) << err;
        ASSERT_EQ(run({"--json", "info"}), 0) << err;
        EXPECT_NE(out.find("{\"channel\":1,\"scale\":250.0,\"point\":\"ddd.d\"," + sheets[i].second),
                  std::string::npos)
            << out;
    }
    EXPECT_EQ(sim.dump().at("brightness"), "2");

    const fs::path profile = dir / "p.conf";
    std::ofstream(profile, std::ios::binary) << "\xEF\xBB\xBF# Varnok\r\nformat=1\r\n[setpoints]\r\nmax1=100\r\n";
    ASSERT_EQ(run({"load", profile.string()}), 0) << err;
    ASSERT_EQ(run({"--json", "info"}), 0) << err;
    EXPECT_NE(out.find("\"max\":100,"), std::string::npos) << out;
}

// Without --yes each device is awaited by the operator's Enter; the end of the input ends the run.
TEST_F(CliOnSim, ACommissionAwaitsEachDeviceAndEndsWithTheInput)
{
    const fs::path sheet = dir / "sheet.csv", report = dir / "report.csv", enter = dir / "enter";
    std::ofstream(sheet) << "address,max1\n9,120.5\n\n10,\"130\"\n";
    std::ofstream(enter) << "\n";
    EXPECT_EQ(run({"commission", sheet.string(), "--report", report.string()}, enter.string()), 1);
    EXPECT_NE(err.find("подключите прибор и нажмите Enter\n"), std::string::npos) << err;
    EXPECT_NE(err.find("работа прервана на строке 4\n"), std::string::npos) << err;
    const std::string rows = slurp(report);
    EXPECT_EQ(count_lines(rows), 2) << rows;
    EXPECT_NE(rows.find(",2,Варнок ПМ3,V2.07 2026,готово,,9,9600\n"), std::string::npos) << rows;
    EXPECT_EQ(sim.command("get holding 0x800"), "ok 9");
    EXPECT_EQ(sim.command("get holding 0x24"),
              "ok 61762");  // 120.5 is 42 F1 00 00, its upper word as the device keeps it
}

// The report lies beside the sheet in its dialect, holds a device's text as text, and is read
// back by a re-run; an older report goes on in its own columns; a device that does not come
// is awaited once, for the time asked, and the run says what it did.
TEST_F(CliOnSim, ACommissionReportIsTheSheetsOwnAndReadsBack)
{
    sim.command("set input 4 0x3D41 0x3B42 0x0A43 0x0D1B 0x0700");  // name "=A;B\nC\r\e\a"
    const fs::path sheet = dir / "партия.csv", report = dir / "партия-отчёт.csv";
    std::ofstream(sheet, std::ios::binary) << "\xEF\xBB\xBFmax1;unit1\r\n100;В\r\n120,5;\r\n";
    ASSERT_EQ(run({"commission", sheet.string(), "--yes"}), 0) << err;
    EXPECT_EQ(out, "выполнено  2\nс ошибкой  0\nпропущено  0\n");
    std::string text = slurp(report);
    EXPECT_EQ(text.rfind("\xEF\xBB\xBFtime;row;name;version;result;error;address;speed\n", 0), 0u) << text;
    // Its control characters as '?': an escape sequence is not stored for whoever shows the report.
    EXPECT_NE(text.find(";2;\"'=A;B?C???\";V2.07 2026;готово;;5;9600\n"), std::string::npos) << text;
    EXPECT_NE(text.find(";3;\"'=A;B?C???\";V2.07 2026;готово;;5;9600\n"), std::string::npos) << text;
    ASSERT_EQ(run({"--json", "commission", sheet.string(), "--yes"}), 0) << err;
    EXPECT_EQ(out, "{\"done\":0,\"failed\":0,\"skipped\":2}\n");
    EXPECT_EQ(slurp(report), text);

    // A report an earlier version named and laid out goes on as it is.
    const fs::path old = dir / "old.csv", old_report = dir / "old.csv.report.csv";
    std::ofstream(old) << "max1\n100\n110\n";
    std::ofstream(old_report) << "time,row,name,version,result,error\n2026-12-01T10:00:00+00:00,2,ПМ3,V2,готово,\n";
    ASSERT_EQ(run({"--json", "commission", old.string(), "--yes"}), 0) << err;
    EXPECT_EQ(out, "{\"done\":1,\"failed\":0,\"skipped\":1}\n");
    text = slurp(old_report);
    EXPECT_EQ(text.substr(text.rfind(",3,")), ",3,'=A;B?C???,V2.07 2026,готово,\n") << text;
    EXPECT_FALSE(fs::exists(dir / "old-отчёт.csv"));

    // A device that does not answer: told once, given up after --wait, the row failed.
    std::ofstream(sheet) << "from_address,max1\n9,100\n";
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(run({"commission", sheet.string(), "--report", (dir / "r.csv").string(), "--yes", "--wait", "1"}), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::seconds(1));
    EXPECT_EQ(out, "выполнено  0\nс ошибкой  1\nпропущено  0\n");
    EXPECT_NE(err.find("строка 2: жду прибор 9 на 9600 бит/с (до 1 с)\nстрока 2: ошибка: прибор 9 не ответил на 9600 "
                       "бит/с за 1 с\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(run({"commission", sheet.string(), "--yes", "--wait", "0"}), 2);
}

// A report that does not reach its file fails the run, though the device took its row, and
// the run ends there; the report keeps its whole lines only.
TEST_F(CliOnSim, ACommissionWhoseReportIsLostFails)
{
    const fs::path sheet = dir / "sheet.csv", report = dir / "report.csv";
    std::ofstream(sheet) << "max1,unit1\n120.5,В\n110,В\n";
    // No file of the tool may grow past 80 bytes: the header (49) goes in, a row does not. Its
    // messages go through a pipe, which no such limit touches.
    prefix = {"/bin/sh", "-c", "trap '' XFSZ; { prlimit --fsize=80 \"$@\" 2>&1; echo \"exit $?\"; } | cat >&2", "sh"};
    run({"commission", sheet.string(), "--report", report.string(), "--yes"});
    EXPECT_NE(err.find("строка 2: готово\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("строка 3"), std::string::npos) << err;
    EXPECT_NE(err.find("отчёт " + report.string() + " не записан: File too large\nexit 1\n"), std::string::npos) << err;
    EXPECT_EQ(slurp(report), "time,row,name,version,result,error,address,speed\n");
}

// The simulator's frame log, to tell whether anything went out on the line.
class CliOnSimWithLog : public CliOnSim {
protected:
    CliOnSimWithLog() : CliOnSim({"--noise", "0", "--log", log_path()}) {}
    ~CliOnSimWithLog() override { fs::remove(log_path()); }
    static std::string log_path()
    {
        return (fs::temp_directory_path() / ("varnok-cli-frames-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log"))
            .string();
    }
    int frames_received()
    {
        const std::string log = slurp(log_path());
        int n = 0;
        for (size_t at = log.find(" <- "); at != std::string::npos; at = log.find(" <- ", at + 1))
            ++n;
        return n;
    }
};

// A settings file saved in cp1251: its defaults are no one's choice of a device to write to.
TEST_F(CliOnSimWithLog, AnUnreadableSettingsFileStopsWritesToADeviceNotNamed)
{
    std::ofstream(dir / "varnok.ini") << "[\xF1\xE2\xFF\xE7\xFC]\n\xCD\xCE\xCC\xC5\xD0=17\n";  // [связь] НОМЕР=17
    const std::string unread = "файл настроек " + (dir / "varnok.ini").string() + " не прочитан: ";
    const fs::path profile = dir / "p.conf", sheet = dir / "s.csv";
    std::ofstream(profile) << "format=1\n[setpoints]\nmax1=100\n# crc32=3C48AA7D\n";
    std::ofstream(sheet) << "brightness\n1\n";
    const std::vector<std::vector<std::string>> writes = {{"-p", sim.path(), "set", "brightness=1"},
                                                          {"-p", sim.path(), "load", profile.string()},
                                                          {"-p", sim.path(), "commission", sheet.string(), "--yes"}};
    for (const auto& args : writes) {
        EXPECT_EQ(run(args), 2) << args[2];
        EXPECT_EQ(err.rfind("varnok-cli: " + unread, 0), 0u) << err;
        EXPECT_NE(err.find("-p путь к устройству или tcp://УЗЕЛ:ПОРТ и -a номер\n"), std::string::npos) << err;
    }
    EXPECT_EQ(sim.dump().at("brightness"), "3");
    EXPECT_EQ(frames_received(), 0);

    // Reading goes on, saying once what it talks to; so does a write that names its device.
    const std::string note = "; работаем без него: порт " + sim.path() + ", 9600 8N1, прибор 5\n";
    ASSERT_EQ(run({"-p", sim.path(), "load", profile.string(), "--dry-run"}), 0) << err;
    EXPECT_EQ(err.find(unread), 0u) << err;
    EXPECT_EQ(err.find(unread, 1), std::string::npos) << err;
    EXPECT_NE(err.find(note), std::string::npos) << err;
    EXPECT_GT(frames_received(), 0);
    ASSERT_EQ(run({"-p", sim.path(), "-a", "5", "set", "brightness=1"}), 0) << err;
    EXPECT_NE(err.find(note), std::string::npos) << err;
    EXPECT_EQ(sim.dump().at("brightness"), "1");
}

// A sheet is read as spreadsheets write it: a line break in quotes is one cell, not two
// devices. A quote left open and a column named twice refuse the sheet; nothing is sent.
TEST_F(CliOnSimWithLog, ASheetsQuotedCellsAreWholeAndBadQuotingSendsNothing)
{
    const fs::path sheet = dir / "sheet.csv", report = dir / "report.csv";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"unit1\n\"В\nА\"\n", "varnok-cli: таблица, строка 2, столбец unit1: unit1=В?А: неизвестная единица"},
        {"unit1,max1\nВ,100\n\"В,100\nВ,120\n", "varnok-cli: таблица, строка 3: кавычка не закрыта до конца файла\n"},
        {"scale1,max1,scale1\n100.0,50,200.0\n",
         "varnok-cli: таблица, строка 1: столбец \"scale1\" назван 2 раза, а значение у параметра одно\n"},
    };
    for (const auto& [text, message] : refused) {
        std::ofstream(sheet) << text;
        EXPECT_EQ(run({"commission", sheet.string(), "--report", report.string(), "--yes"}), 2) << text;
        EXPECT_EQ(err.rfind(message, 0), 0u) << err;
        EXPECT_FALSE(fs::exists(report));
    }
    EXPECT_EQ(frames_received(), 0);
}

// Every row is checked before the first device is awaited: each bad one is told by its row
// and column, the run ends with code 2 and no report, and nothing is sent.
TEST_F(CliOnSimWithLog, EveryRowIsCheckedBeforeTheFirstDevice)
{
    const fs::path sheet = dir / "sheet.csv", report = dir / "report.csv";
    std::ofstream(sheet) << "max1,unit1\n100,В\n99999,мА\n120,\n7\n130,Ом\n";
    EXPECT_EQ(run({"commission", sheet.string(), "--report", report.string(), "--yes"}), 2);
    EXPECT_EQ(err, "varnok-cli: таблица, строка 3, столбец max1: max1=99999: индикатор показывает не больше четырёх "
                   "цифр и трёх знаков после точки, без знака\n"
                   "таблица, строка 5: 1 столбцов вместо 2\n"
                   "таблица, строка 6, столбец unit1: unit1=Ом: неизвестная единица (нет, В, кВ, мА, А, кА, Гц или V, kV, mA, A, kA, Hz)\n"
                   "таблица " +
                       sheet.string() + " не принята, в приборы ничего не записано\n");
    EXPECT_FALSE(fs::exists(report));
    EXPECT_EQ(frames_received(), 0);
}

// `read --out` adds to a file it wrote before: the header once, a line cut short ended first.
// A file of anything else is left as it was, and nothing is polled.
TEST_F(CliOnSimWithLog, AReadAddsToItsFileAndLeavesAnotherAlone)
{
    const std::string header = "time,address,value1,percent1,value2,percent2,value3,percent3,frequency\n";
    const fs::path csv = dir / "shift.csv", empty = dir / "empty.csv", cut = dir / "cut.csv", other = dir / "other.csv";
    ASSERT_EQ(run({"read", "--out", csv.string()}), 0) << err;
    ASSERT_EQ(run({"read", "--out", csv.string(), "--count", "2", "--every", "0.1"}), 0) << err;
    const std::string rows = slurp(csv);
    EXPECT_EQ(count_lines(rows), 4) << rows;
    EXPECT_EQ(rows.find(header), 0u) << rows;
    EXPECT_EQ(rows.find("time,", 1), std::string::npos) << rows;

    std::ofstream(empty).flush();
    std::ofstream(cut) << header << "2026-01-01T00:00:00+00:00,5,1";
    for (const fs::path& f : {empty, cut})
        ASSERT_EQ(run({"read", "--out", f.string()}), 0) << err;
    EXPECT_EQ(slurp(empty).find(header), 0u);
    EXPECT_EQ(count_lines(slurp(empty)), 2);
    const std::string ended = slurp(cut);
    EXPECT_EQ(ended.rfind(header + "2026-01-01T00:00:00+00:00,5,1\n", 0), 0u) << ended;
    EXPECT_EQ(count_lines(ended), 3) << ended;
    // Standard output, "-", has no header to check.
    EXPECT_EQ(run({"read", "--out", "-"}), 0) << err;
    EXPECT_EQ(out.rfind(header, 0), 0u) << out;
    EXPECT_EQ(count_lines(out), 2) << out;

    const int frames = frames_received();
    const std::string crlf = header.substr(0, header.size() - 1) + "\r\n";
    for (const std::string& text : {std::string("дата;значение\n01.01;5\n"), crlf}) {
        std::ofstream(other, std::ios::binary) << text;
        EXPECT_EQ(run({"read", "--out", other.string()}), 2);
        EXPECT_EQ(err, "varnok-cli: файл " + other.string() + " не дописывается: в нём не показания с заголовком \"" +
                           header.substr(0, header.size() - 1) + "\"; укажите другой файл\n");
        EXPECT_EQ(slurp(other), text);
    }
    EXPECT_EQ(frames_received(), frames);
}

// A spreadsheet's CSV under Russian regional settings: a BOM, ';' and ',', local times, CRLF,
// units in the header; LibreOffice, under the same settings, reads numbers and times, not text.
TEST_F(CliOnSimWithLog, ASpreadsheetsCsvOpensAsATableOfNumbersAndTimes)
{
    const fs::path csv = dir / "смена.csv";
    env = {{"LC_ALL", "ru_RU.UTF-8"}};
    ASSERT_EQ(run({"read", "--csv", "excel", "--out", csv.string(), "--count", "2", "--every", "0.1"}), 0) << err;
    ASSERT_EQ(run({"read", "--csv", "excel", "--out", csv.string()}), 0) << err;
    const std::string text = slurp(csv);
    const std::string header =
        "\xEF\xBB\xBF"
        "Время;Прибор;Значение 1, В;Процент 1;Значение 2, А;Процент 2;Значение 3, мА;"
        "Процент 3;Частота, Гц\r\n";
    EXPECT_EQ(text.rfind(header, 0), 0u) << text;
    const std::regex row(R"(\d\d\.\d\d\.20\d\d \d\d:\d\d:\d\d;5;106,25;42,5;3,655;73,1;2,4;12;50\r)");
    std::istringstream lines(text.substr(header.size()));
    int rows = 0;
    for (std::string line; std::getline(lines, line); ++rows)
        EXPECT_TRUE(std::regex_match(line, row)) << line;
    EXPECT_EQ(rows, 3);

    // Settings of another country would put other separators in the same file: refused.
    const int frames = frames_received();
    env = {{"LC_ALL", "C"}};
    EXPECT_EQ(run({"read", "--csv", "excel", "--out", csv.string()}), 2);
    EXPECT_NE(err.find("не дописывается"), std::string::npos) << err;
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"read", "--csv", "excel"}, {"read", "--csv", "tsv", "--out", csv.string()}})
        EXPECT_EQ(run(bad), 2) << err;
    EXPECT_EQ(frames_received(), frames);
    EXPECT_EQ(slurp(csv), text);

    const std::string convert =
        "cd " + dir.string() + " && HOME=" + dir.string() + " LC_ALL=ru_RU.UTF-8 timeout 300 soffice -env:UserInstallation=file://" +
        (dir / "lo").string() + " --headless --infilter=CSV:59,34,76,1,,1049,false,true --convert-to fods " +
        csv.filename().string() + " >lo.out 2>&1";
    ASSERT_EQ(std::system(convert.c_str()), 0) << slurp(dir / "lo.out");
    const std::string sheet = slurp(dir / "смена.fods");
    const auto count = [&](const std::string& pattern) {
        const std::regex re(pattern);
        return std::distance(std::sregex_iterator(sheet.begin(), sheet.end(), re), std::sregex_iterator());
    };
    EXPECT_EQ(count(R"(office:value-type="date" office:date-value="20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d")"), 3) << sheet;
    EXPECT_EQ(count(R"(office:value-type="float" office:value="106.25")"), 3);
    EXPECT_EQ(count(R"(office:value-type="float" office:value="3.655")"), 3);
    EXPECT_EQ(count(R"(office:value-type="float" office:value="2.4")"), 3);
    EXPECT_EQ(count(R"(office:value-type="string")"), 9);  // the header's titles only
}

// A converter on TCP named on the command line, and a list of numbers of which one is absent:
// its fields stay empty, the others are read, the exit code tells the failure.
TEST(CliOnTcp, AListReadThroughAConverterKeepsGoingPastAnAbsentDevice)
{
    SimProcess sim({"--noise", "0", "--tcp", "0", "--device-at", "5", "--device-at", "17"});
    const fs::path dir = fs::temp_directory_path() / ("varnok-cli-tcp-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "empty.ini") << "[связь]\n";
    const std::string command = std::string(VARNOK_CLI_PATH) + " --settings " + (dir / "empty.ini").string() + " -p " +
                                sim.path() + " -a 5,9,17 --json read 2>" + (dir / "err").string();
    std::FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    const int status = ::pclose(p);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    // A JSON object per line; times differ from run to run.
    std::vector<nlohmann::json> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        rows.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(rows.size(), 3u) << out;
    EXPECT_EQ(rows[0]["value1"], 106.25);
    EXPECT_EQ(rows[0]["unit1_si"], "V");
    rows[1].erase("time");
    EXPECT_EQ(rows[1].dump(),
              "{\"address\":9,\"error\":{\"code\":11,\"text\":\"нет ответа\"},\"frequency\":null,\"percent1\":null,\"percent2\":null,\"percent3\":null,"
              "\"poll\":1,\"unit1\":null,\"unit1_si\":null,\"unit2\":null,\"unit2_si\":null,"
              "\"unit3\":null,\"unit3_si\":null,\"value1\":null,\"value2\":null,\"value3\":null}");
    EXPECT_EQ(rows[2]["address"], 17);
    EXPECT_TRUE(rows[2]["error"].is_null());
    rows[2].erase("error");
    EXPECT_EQ(rows[2].dump().find("null"), std::string::npos) << rows[2];
    std::vector<std::string> messages;
    std::istringstream again(out);
    for (std::string line; std::getline(again, line);)
        messages.push_back(line);
    EXPECT_EQ(readings_schema_faults(messages, dir), "");
    std::ifstream err(dir / "err");
    std::string first;
    std::getline(err, first);
    EXPECT_EQ(first, "прибор 9 (" + sim.path() + ", 9600 8N1) не отвечает: чтение шкал");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace varnok::test
