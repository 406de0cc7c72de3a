#include "cli/commands.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <functional>
#include <map>
#include <thread>

#include "cli/commission.h"
#include "cli/info.h"
#include "cli/publisher.h"
#include "ops/profile.h"
#include "cli/session.h"
#include "cli/value.h"
#include "ops/polling.h"
#include "ops/search.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace {

// The help texts keep their lines as they are printed.
// clang-format off
const std::map<std::string, std::string>& helps()
{
    static const std::map<std::string, std::string> h = {
        {"",
         "varnok-cli [параметры связи] КОМАНДА [аргументы]\n"
         "\n"
         "Прибор Varnok из терминала и из сценариев.\n"
         "\n"
         "Параметры связи (по умолчанию из файла настроек консоли):\n"
         "  -p ПОРТ        COM1..COM16, путь к устройству или tcp://УЗЕЛ:ПОРТ\n"
         "  -b СКОРОСТЬ    4800, 9600, 19200, 38400, 57600, 115200\n"
         "  -P ПАРИТЕТ     none, odd, even\n"
         "  -s СТОПБИТ     1 или 2\n"
         "  -a НОМЕР       номер прибора 1..247; для info и read список: -a 3,17\n"
         "  --fast         быстрый обмен\n"
         "  --settings ФАЙЛ  файл настроек вместо " + std::string(kSettingsPlace) + "\n"
         "  --json         результат одним документом JSON\n"
         "  -v             каждый запрос и ответ в поток ошибок\n"
         "\n"
         "Если файл настроек есть, но не читается, set, load и commission ничего не\n"
         "посылают (код 2), пока связь не задана полностью: -p путь к устройству или\n"
         "tcp://УЗЕЛ:ПОРТ (имя COMn берётся из файла) и -a; остальные команды работают,\n"
         "сказав, с какой связью.\n"
         "\n"
         "Команды:\n"
         "  scan           поиск приборов на линии\n"
         "  info           имя, версия, параметры интерфейса, шкалы, уставки, калибровка, показания\n"
         "  read           показания каналов и частота, строка на опрос\n"
         "  set ИМЯ=ЗНАЧЕНИЕ...  записать параметры прибора\n"
         "  save ФАЙЛ      конфигурация прибора в файл\n"
         "  load ФАЙЛ      конфигурация прибора из файла\n"
         "  commission ТАБЛИЦА.csv  настройка партии приборов по таблице\n"
         "\n"
         "varnok-cli КОМАНДА --help: о команде.\n"
         "Коды выхода: 0 выполнено, 1 ошибка прибора или проверки, 2 ошибка в командной строке,\n"
         "3 порт не открывается или брокер MQTT отказал в имени или пароле.\n"},
        {"scan",
         "varnok-cli [параметры связи] scan [--speed СКОРОСТЬ|all] [--from N] [--to N]\n"
         "\n"
         "Ищет приборы так же, как поиск консоли: номера от --from до --to (1..247) на\n"
         "скорости связи, на заданной или (all) на каждой из шести. Для найденных печатает\n"
         "номер, скорость, паритет, стоповые биты, имя и версию. Ход поиска в поток ошибок\n"
         "(если это терминал); Ctrl-C прерывает поиск, найденное печатается.\n"},
        {"info",
         "varnok-cli [параметры связи] info\n"
         "\n"
         "Имя, версия, скорость, паритет, стоповые биты, номер; для каждого канала шкала\n"
         "(значение, точка, единица), уставки, ноль и коэффициент калибровки, точки ШИМ,\n"
         "измеренное значение и процент шкалы; частота и яркость. С -a 3,17 по очереди\n"
         "для каждого номера.\n"},
        {"read",
         "varnok-cli [параметры связи] read [--every СЕКУНД] [--count N] [--out ФАЙЛ.csv]\n" +
         std::string(kMqttUsage) +
         "\n"
         "Опрашивает приборы (-a 3,17) так же, как консоль: первый опрос со шкалами и\n"
         "уставками, затем измеренные значения. Строка на прибор и опрос: время (ISO 8601),\n"
         "номер, значение и процент каждого канала, частота; несостоявшееся чтение оставляет\n"
         "поле пустым. --every: период (по умолчанию 1 с, можно 0.5), --count: число опросов\n"
         "(по умолчанию 1; 0 без конца). Ctrl-C завершает работу, файл остаётся целым.\n"
         "\n" +
         std::string(kMqttHelp)},
        {"set",
         "varnok-cli [параметры связи] set ИМЯ=ЗНАЧЕНИЕ...\n"
         "\n"
         "Имена: address (1..247), speed, parity (none, odd, even), stopbits (1, 2),\n"
         "scale1..3 (как на индикаторе: 12.34, точка из текста), unit1..3 (нет, В, кВ, мА,\n"
         "А, кА, Гц), max1..3, min1..3, brightness (1..3).\n"
         "Всё проверяется до первой записи. После записи скорости, паритета, стоповых бит\n"
         "или номера программа говорит с прибором на новых настройках и записывает их в\n"
         "файл настроек.\n"},
        {"save",
         "varnok-cli [параметры связи] save ФАЙЛ\n"
         "\n"
         "Записывает в файл конфигурацию прибора: параметры интерфейса, шкалы, уставки,\n"
         "калибровку (ноль, коэффициент, точки ШИМ). Файл текстовый: разделы [interface],\n"
         "[scales], [setpoints], [calibration], строки ИМЯ=ЗНАЧЕНИЕ с именами команды set;\n"
         "имя и версия прибора в комментариях. Файл пишется, только если всё прочитано.\n"},
        {"load",
         "varnok-cli [параметры связи] load ФАЙЛ [--dry-run] [--only РАЗДЕЛЫ] [--with-calibration]\n"
         "\n"
         "Показывает, чем прибор отличается от файла, записывает только это, читает всё\n"
         "снова и завершается с кодом 1, если значение не принято. Номер прибора из файла\n"
         "не записывается: так профиль одного прибора переносится на другой.\n"
         "Калибровка (ноль, коэффициент, точки ШИМ) у каждого прибора своя и загружается,\n"
         "только если её назвать: --with-calibration вместе с остальным, --only calibration\n"
         "одну её (например, в тот же прибор после ремонта).\n"
         "--dry-run: только показать отличия. --only interface,scales,setpoints,calibration:\n"
         "только эти разделы (без --only: interface, scales, setpoints).\n"},
        {"commission",
         "varnok-cli [параметры связи] commission ТАБЛИЦА.csv [--report ОТЧЁТ.csv] [--yes]\n"
         "\n"
         "Строка таблицы на прибор; первая строка называет столбцы: имена команды set и\n"
         "from_address, from_speed (где отвечает новый прибор; по умолчанию параметры\n"
         "связи). Пустая ячейка оставляет параметр как есть. Калибровку (ноль, коэффициент,\n"
         "точки ШИМ) таблица не записывает: она у каждого прибора своя. Для каждой строки\n"
         "программа ждёт прибор (\"подключите прибор и нажмите Enter\"; с --yes опрашивает,\n"
         "пока он не ответит), записывает строку, проверяет чтением и добавляет строку в\n"
         "отчёт (время, строка, имя, версия, результат, ошибка). Неудачная строка\n"
         "отмечается, работа идёт дальше; повторный запуск пропускает строки, которые отчёт\n"
         "называет готовыми. Отчёт по умолчанию: ТАБЛИЦА.report.csv.\n"},
    };
    return h;
}
// clang-format on

void print(const Options& o, const Value& v)
{
    const std::string out = o.json ? to_json(v) : to_text(v);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

std::vector<uint8_t> addresses_of(const Options& o, const Session& s)
{
    return o.addresses.empty() ? std::vector<uint8_t>{s.link.settings().sys_num} : o.addresses;
}

void no_arguments(const Options& o)
{
    if (!o.args.empty())
        throw UsageError(o.command + ": лишний аргумент " + o.args.front());
}

int info(const Options& o, Session& s)
{
    no_arguments(o);
    Value all = Value::array();
    bool any_failed = false;
    for (uint8_t a : addresses_of(o, s)) {
        s.address(a);
        bool failed = false;
        all.push(read_info(s, failed));
        any_failed |= failed;
    }
    print(o, o.addresses.size() > 1 ? all : all.members().front().second);
    return any_failed ? kExitDevice : kExitOk;
}

// Waits until `due` unless Ctrl-C comes first; false then.
bool wait_until(std::chrono::steady_clock::time_point due)
{
    while (!interrupted()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due)
            return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(due - now, std::chrono::milliseconds(20)));
    }
    return false;
}

// What `read` was asked, checked before the port is opened.
struct ReadArgs {
    std::chrono::milliseconds every{1000};
    long count = 1;
    std::optional<std::string> out;
    std::optional<MqttTarget> mqtt;
    uint64_t spool_size = 10ull << 20;
};

ReadArgs parse_read(const Options& o)
{
    const CommandArgs args(
        o.args, {"--every", "--count", "--out", "--mqtt", "--cafile", "--password-file", "--spool-size"}, {});
    if (!args.positional().empty())
        throw UsageError("read: лишний аргумент " + args.positional().front());
    ReadArgs r;
    if (const auto every = args.value("--every")) {
        // Seconds, with up to three decimals: 0.5 is half a second.
        const std::string bad = "--every \"" + *every + "\": нужно от 0.1 до 86400 секунд";
        const size_t dot = every->find('.');
        const std::string whole = every->substr(0, dot), frac = dot == std::string::npos ? "" : every->substr(dot + 1);
        if (whole.empty() || whole.size() > 5 || frac.size() > 3 || (dot != std::string::npos && frac.empty()) ||
            whole.find_first_not_of("0123456789") != std::string::npos ||
            frac.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError(bad);
        const long ms = std::stol(whole) * 1000 + (frac.empty() ? 0 : std::stol((frac + "00").substr(0, 3)));
        if (ms < 100 || ms > 86400L * 1000)
            throw UsageError(bad);
        r.every = std::chrono::milliseconds(ms);
    }
    r.count = args.value("--count") ? parse_number(*args.value("--count"), 0, 1L << 30, "--count") : 1;
    r.out = args.value("--out");
    const auto url = args.value("--mqtt");
    if (!url) {
        for (const char* only : {"--cafile", "--password-file", "--spool-size"})
            if (args.value(only))
                throw UsageError(std::string(only) + " только вместе с --mqtt");
        return r;
    }
    r.mqtt = parse_mqtt_url(*url);
    if (const auto ca = args.value("--cafile")) {
        if (!r.mqtt->tls)
            throw UsageError("--cafile только для mqtts://");
        r.mqtt->cafile = *ca;
    }
    if (const auto file = args.value("--password-file")) {
        std::string text, reason;
        file_io::Stamp stamp;
        if (!file_io::read_whole(*file, 4096, text, stamp, reason))
            throw UsageError("файл пароля " + *file + " не прочитан: " + reason);
        r.mqtt->password = text.substr(0, text.find_first_of("\r\n"));
    } else if (const char* env = std::getenv("VARNOK_MQTT_PASSWORD");
               env && !r.mqtt->password && !r.mqtt->user.empty()) {
        // Only for a named user: the variable left set does not spoil an anonymous broker.
        r.mqtt->password = env;
    }
    if (r.mqtt->password && r.mqtt->user.empty())
        throw UsageError("--mqtt: пароль без имени пользователя");
    if (const auto size = args.value("--spool-size"))
        r.spool_size = parse_size(*size, "--spool-size");
    return r;
}

// The JSON of a message, without the line end to_json gives a document.
std::string payload(const Value& v)
{
    std::string s = to_json(v);
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

int read(const Options& o, Session& s, const ReadArgs& r, MqttOut& mqtt)
{
    std::FILE* csv = nullptr;
    if (r.out) {
        std::string reason;
        csv = file_io::open_for_writing(*r.out, false, reason);
        if (!csv) {
            std::fprintf(stderr, "файл %s не создаётся: %s\n", r.out->c_str(), reason.c_str());
            return kExitUsage;
        }
        std::fputs("time,address,value1,percent1,value2,percent2,value3,percent3,frequency\n", csv);
        std::fflush(csv);
    }
    const std::vector<uint8_t> addresses = addresses_of(o, s);
    std::vector<bool> scaled(addresses.size(), false);
    // One Device record serves every number: each one's scales and setpoints are kept here and
    // put back before its poll, so that its percentages are of its own scales.
    std::vector<decltype(s.dev.parScl)> scales(addresses.size());
    std::vector<decltype(s.dev.parUst)> setpoints(addresses.size());
    std::vector<Value> names(addresses.size()), versions(addresses.size());
    if (!mqtt.devices.empty()) {
        for (size_t i = 0; i < addresses.size() && !interrupted(); ++i) {
            s.address(addresses[i]);
            Polling polling(s.dev, s.report);
            names[i] = polling.read_name() ? Value::string(s.dev.tmp_text()) : Value();
            versions[i] = polling.read_version() ? Value::string(s.dev.tmp_text()) : Value();
        }
    }
    Value rows = Value::array();
    bool any_failed = false;
    auto due = std::chrono::steady_clock::now();
    for (long n = 0; (r.count == 0 || n < r.count) && !interrupted(); ++n) {
        if (n > 0 && !wait_until(due))
            break;
        due += r.every;
        for (size_t i = 0; i < addresses.size() && !interrupted(); ++i) {
            s.address(addresses[i]);
            s.dev.parScl = scales[i];
            s.dev.parUst = setpoints[i];
            Polling polling(s.dev, s.report);
            const auto when = std::chrono::system_clock::now();
            const unsigned long errors_before = s.report.lines();
            // The first poll of a device reads its scales too, for the percentages.
            const bool full = !scaled[i];
            const PollResult poll = polling.zapros_par(full);
            scales[i] = s.dev.parScl;
            setpoints[i] = s.dev.parUst;
            scaled[i] = scaled[i] || (poll.ch[1].scale && poll.ch[2].scale && poll.ch[3].scale);
            Value row = Value::object();
            row.set("time", Value::string(iso_time(when)));
            row.set("address", Value::number(addresses[i]));
            for (int k = 1; k <= kChannels; ++k) {
                const PollResult::Channel& c = poll.ch[size_t(k)];
                const TParChannel& ch = s.dev.Ch[size_t(k)];
                row.set("value" + std::to_string(k), c.measured ? Value::number(float_text(ch.Urms_te)) : Value());
                row.set("percent" + std::to_string(k), c.percent ? Value::number(float_text(ch.Urms_proc)) : Value());
                any_failed |= !c.measured;
            }
            row.set("frequency", poll.freq ? Value::number(float_text(s.dev.freq.as_float())) : Value());
            any_failed |= !poll.freq;
            if (csv) {
                std::string line;
                for (const auto& [key, v] : row.members())
                    line += (line.empty() ? "" : ",") + v.text();
                std::fprintf(csv, "%s\n", line.c_str());
                std::fflush(csv);
            }
            if (!o.json && !csv && mqtt.devices.empty()) {
                std::string line;
                for (const auto& [key, v] : row.members())
                    line += (line.empty() ? "" : "  ") + (v.kind() == Value::kNull ? std::string("-") : v.text());
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            }
            if (!mqtt.devices.empty()) {
                Publisher& p = *mqtt.devices[i];
                if (full) {
                    Value info = Value::object();
                    info.set("address", Value::number(addresses[i]));
                    info.set("name", names[i]);
                    info.set("version", versions[i]);
                    info.set("channels", channel_settings(s.dev, poll));
                    p.info(payload(info));
                }
                Value m = Value::object();
                m.set("time", Value::string(iso_time(when)));
                m.set("address", Value::number(addresses[i]));
                m.set("poll", Value::number(n + 1));
                Value& channels = m.set("channels", Value::array());
                for (int k = 1; k <= kChannels; ++k) {
                    const PollResult::Channel& c = poll.ch[size_t(k)];
                    const TParChannel& ch = s.dev.Ch[size_t(k)];
                    Value& v = channels.push(Value::object());
                    v.set("channel", Value::number(k));
                    v.set("value", c.measured ? Value::number(float_text(ch.Urms_te)) : Value());
                    v.set("unit", scaled[i] ? Value::string(unit_name(s.dev.parScl[size_t(k)].Measure)) : Value());
                    v.set("percent", c.percent ? Value::number(float_text(ch.Urms_proc)) : Value());
                }
                m.set("frequency", poll.freq ? Value::number(float_text(s.dev.freq.as_float())) : Value());
                m.set("error", s.report.lines() != errors_before ? Value::string(s.report.last_line()) : Value());
                p.reading(payload(m));
            }
            rows.push(std::move(row));
        }
    }
    // What the broker has not taken yet gets a few seconds; the rest stays in the spool.
    for (auto& p : mqtt.devices)
        p->finish(std::chrono::seconds(5));
    if (csv && std::fclose(csv) != 0) {
        std::fprintf(stderr, "файл не записан: %s\n", std::strerror(errno));
        return kExitDevice;
    }
    if (o.json)
        print(o, rows);
    return any_failed ? kExitDevice : kExitOk;
}

int set(const Options& o, Session& s)
{
    if (o.args.empty())
        throw UsageError("set: нужен хотя бы один ИМЯ=ЗНАЧЕНИЕ");
    const std::vector<Setting> settings = parse_settings(o.args);
    bool changed_line = false;
    const bool all = Configuration(s.dev, s.report, s.sleeper).write(settings, changed_line);
    if (changed_line)
        s.store_line();
    const LinkSettings& line = s.link.settings();
    Value now = Value::object();
    now.set("address", Value::number(line.sys_num));
    now.set("speed", Value::number(line.scor_obmena));
    now.set("parity", Value::string(parity_name(line.parity)));
    now.set("stopbits", Value::number(line.stopbit));
    now.set("written", Value::string(all ? "да" : "нет"));
    print(o, now);
    return all ? kExitOk : kExitDevice;
}

int save(const Options& o, Session& s)
{
    const CommandArgs args(o.args, {}, {});
    if (args.positional().size() != 1)
        throw UsageError("save: нужен один файл");
    const std::string path = args.positional().front();
    const DeviceProfile profile = read_device_profile(s.dev, s.report, s.sleeper);
    if (!profile.complete) {
        std::fprintf(stderr, "конфигурация прочитана не целиком, файл %s не записан\n", path.c_str());
        return kExitDevice;
    }
    file_io::Stamp stamp;
    std::string reason;
    if (!file_io::replace(path, profile.text, stamp, reason)) {
        std::fprintf(stderr, "файл %s не записан: %s\n", path.c_str(), reason.c_str());
        return kExitDevice;
    }
    Value v = Value::object();
    v.set("file", Value::string(path));
    v.set("values", Value::number(long(profile.values)));
    print(o, v);
    return kExitOk;
}

// What `load` was asked, checked before the port is opened: nothing is sent for a bad file.
struct LoadArgs {
    std::vector<Setting> profile;
    unsigned sections = kLoadedSections;
    bool dry_run = false;
    bool chosen = false;  // --only or --with-calibration named the sections
};

int load(const Options& o, Session& s, const LoadArgs& l)
{
    // Once, unless the sections were chosen: what is not loaded, and how to ask for it.
    if (!l.chosen && leaves_calibration(l.profile, l.sections))
        std::fprintf(stderr,
                     "калибровка из файла не загружается: ноль, коэффициент и точки ШИМ у каждого прибора "
                     "свои; загрузить её: --with-calibration или --only calibration\n");
    Configuration config(s.dev, s.report, s.sleeper);
    // The differences are shown before anything is written; a dry run ends there.
    const ProfileLoad r = load_profile(config, l.profile, l.sections, [&](const Changes& changes) {
        Value shown = Value::object();
        for (const auto& [w, from] : changes)
            shown.set(w.key(), Value::string(from + " -> " + w.text()));
        print(o, shown);
        return !l.dry_run;
    });
    switch (r.outcome) {
    case ProfileLoad::kReadFailed:
        std::fprintf(stderr, "конфигурация прибора прочитана не целиком, ничего не записано\n");
        return kExitDevice;
    case ProfileLoad::kAlreadyHeld:
        std::fprintf(stderr, "прибор уже соответствует файлу\n");
        print(o, Value::object());
        return kExitOk;
    case ProfileLoad::kDeclined: return kExitOk;
    case ProfileLoad::kApplied: break;
    }
    if (r.done.changed_line)
        s.store_line();
    if (!r.done.all)
        return kExitDevice;
    for (const auto& [w, now] : r.done.left)
        std::fprintf(stderr, "%s: не принято (в приборе %s, нужно %s)\n", w.key().c_str(), now.c_str(),
                     w.text().c_str());
    return r.complete() ? kExitOk : kExitDevice;
}

std::vector<Setting> read_profile(const std::string& path)
{
    std::string text, reason;
    file_io::Stamp stamp;
    if (!file_io::read_whole(path, 1 << 16, text, stamp, reason))
        throw UsageError("файл " + path + " не прочитан: " + reason);
    return parse_profile(text);
}

// The number being asked, on the progress line.
class ScanProgress : public SearchProgress {
public:
    explicit ScanProgress(StderrReport& report) : report_(report) {}
    void number_done(uint8_t n, uint8_t code, bool, const SearchTimes&) override
    {
        report_.status("поиск: номер " + std::to_string(n) + (code ? " ответил" : ""));
    }
    void scan_over(const SearchTimes&) override { report_.end_progress(); }

private:
    StderrReport& report_;
};

int scan(const Options& o, Session& s)
{
    const CommandArgs args(o.args, {"--speed", "--from", "--to"}, {});
    if (!args.positional().empty())
        throw UsageError("scan: лишний аргумент " + args.positional().front());
    const std::string speed = args.value("--speed").value_or("");
    const bool every_speed = speed == "all";
    const long from =
        args.value("--from") ? parse_number(*args.value("--from"), kMinSysNum, kMaxSysNum, "--from") : kMinSysNum;
    const long to = args.value("--to") ? parse_number(*args.value("--to"), from, kMaxSysNum, "--to") : kMaxSysNum;
    if (!speed.empty() && !every_speed) {
        s.link.set_speed(parse_speed(speed));
        s.link.set_up_port();
    }
    ScanProgress progress(s.report);
    Search search(s.dev, s.report, progress);
    const ScanResult r = search.poisk_pribor(!every_speed, uint8_t(from), uint8_t(to));
    if (r.port_failed_at)
        return kExitPort;
    Value found = Value::array();
    Polling polling(s.dev, s.report);
    for (uint8_t n : r.found) {
        const int32_t baud = scor[s.dev.scor_CN[n] <= 6 ? s.dev.scor_CN[n] : 0];
        s.link.set_speed(baud);
        s.link.set_up_port();
        s.address(n);
        Value& v = found.push(Value::object());
        v.set("address", Value::number(n));
        v.set("speed", Value::number(baud));
        v.set("parity", Value::string(parity_name(s.link.settings().parity)));
        v.set("stopbits", Value::number(s.link.settings().stopbit));
        v.set("name", polling.read_name() ? Value::string(s.dev.tmp_text()) : Value());
        v.set("version", polling.read_version() ? Value::string(s.dev.tmp_text()) : Value());
    }
    if (o.json) {
        print(o, found);
    } else {
        for (const auto& [key, v] : found.members()) {
            std::string line;
            for (const auto& [name, field] : v.members())
                line += (line.empty() ? "" : "  ") + (field.kind() == Value::kNull ? std::string("-") : field.text());
            std::printf("%s\n", line.c_str());
        }
    }
    return kExitOk;
}

}  // namespace

std::string help_text(const std::string& command)
{
    const auto it = helps().find(command);
    return it == helps().end() ? std::string() : it->second;
}

int run(const Options& o)
{
    LoadArgs load_args;
    if (o.command == "load") {
        const CommandArgs args(o.args, {"--only"}, {"--dry-run", "--with-calibration"});
        if (args.positional().size() != 1)
            throw UsageError("load: нужен один файл");
        load_args.profile = read_profile(args.positional().front());
        if (const auto only = args.value("--only"))
            load_args.sections = parse_sections(*only);
        if (args.flag("--with-calibration"))
            load_args.sections |= kCalibration;
        load_args.chosen = args.value("--only") || args.flag("--with-calibration");
        load_args.dry_run = args.flag("--dry-run");
    }
    ReadArgs read_args;
    if (o.command == "read")
        read_args = parse_read(o);
    MqttOut mqtt;
    const std::map<std::string, std::function<int(const Options&, Session&)>> commands = {
        {"scan", scan},
        {"info", info},
        {"read", [&](const Options& opt, Session& s) { return read(opt, s, read_args, mqtt); }},
        {"set", set},
        {"save", save},
        {"load", [&](const Options& opt, Session& s) { return load(opt, s, load_args); }},
        {"commission", commission},
    };
    const auto it = commands.find(o.command);
    if (it == commands.end())
        throw UsageError(o.command.empty() ? "нет команды (varnok-cli --help)" : "неизвестная команда " + o.command);
    if (it->first != "info" && it->first != "read" && o.addresses.size() > 1)
        throw UsageError(o.command + ": один номер прибора, не список");
    // Arguments are checked before the port is opened: nothing is sent for a refused line.
    if (o.command == "set")
        parse_settings(o.args);
    Session s(o);
    // An unreadable settings file leaves the defaults in force: a write would go to a device
    // no one chose, unless the command line names the port and the number itself.
    if (s.settings_unread()) {
        const bool writes =
            o.command == "set" || o.command == "commission" || (o.command == "load" && !load_args.dry_run);
        const bool given = s.port_is_path() && !o.addresses.empty();
        if (writes && !given)
            throw UsageError(s.settings_problem() + "; " + o.command +
                             " пишет в прибор и без файла настроек работает, только если связь задана "
                             "полностью: -p путь к устройству или tcp://УЗЕЛ:ПОРТ и -a номер");
        std::fprintf(stderr, "%s; работаем без него: %s\n", s.settings_problem().c_str(), s.connection().c_str());
    }
    // The broker is asked before the port is opened: a refused password sends nothing on the line.
    if (read_args.mqtt) {
        mqtt = connect_mqtt(*read_args.mqtt, read_args.spool_size, s.port_name(), addresses_of(o, s));
        if (mqtt.exit != kExitOk)
            return mqtt.exit;
    }
    if (const int e = s.open(); e != kExitOk)
        return e;
    return it->second(o, s);
}

}  // namespace varnok::cli
