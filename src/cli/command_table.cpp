#include "cli/command_table.h"

#include <cstdio>

#include "cli/check.h"
#include "cli/commands.h"
#include "cli/host.h"
#include "cli/publisher.h"
#include "cli/session.h"
#include "link/link_settings.h"
#include "ops/configuration.h"

namespace varnok::cli {

// read's --help on MQTT, or that this build has none.
const char* const kMqttHelp =
    kMqttBuilt ? "--mqtt: каждый опрос прибора сообщением JSON в ПРЕФИКС/ЛИНИЯ/НОМЕР/readings (QoS 1),\n"
                 "имя, версия, шкалы и уставки в .../info (хранимое). .../status (хранимое): online,\n"
                 "когда прибор ответил, offline, когда он не ответил 3 опроса подряд (причина в\n"
                 "offline_reason сообщения info) и когда программа завершилась или пропала.\n"
                 "Имя и пароль в адресе идут до последнего @ и не печатаются; %XX в них и в префиксе\n"
                 "означает байт XX (@ в префиксе: %40). Префикс: UTF-8 без управляющих символов.\n"
                 "ЛИНИЯ: --line ИМЯ (одно звено темы: без /, +, # и управляющих символов) или имя порта\n"
                 "в файле настроек (COM1), также для порта, заданного путём; путь в тему не идёт.\n"
                 "Пока брокер недоступен, показания копятся в очереди на диске каждого прибора\n"
                 "($XDG_STATE_HOME/varnok или ~/.local/state/varnok; в Windows %LOCALAPPDATA%\\varnok)\n"
                 "и уходят по порядку, когда связь вернётся. --spool-size: место на диске под очередь\n"
                 "прибора (по умолчанию 10M; каждое показание занимает не меньше блока файловой системы,\n"
                 "обычно 4 КиБ); сверх него старейшие отбрасываются. Пароль: из --password-file (файл или канал) или\n"
                 "VARNOK_MQTT_PASSWORD вместо адреса. mqtts:// с --cafile или с системными сертификатами\n"
                 "(в Windows — с хранилищем сертификатов Windows).\n"
                 "Показания, которые не дошли до брокера (остались в очереди, отброшены, не записаны):\n"
                 "код выхода 1. Брокер, отказавший в пароле: код выхода 3, линия не опрашивается.\n"
                 "--ha-discovery: каждый канал и частота прибора — датчик Home Assistant (хранимые\n"
                 "сообщения homeassistant/sensor/.../config: тема и поле показаний, единица, имя и версия\n"
                 "прибора, status как доступность).\n"
               : "Публикации в MQTT (--mqtt) в сборке для Windows нет.\n";

namespace {

std::string joined(const std::vector<std::string>& words, const std::string& between)
{
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : between) + w;
    return out;
}

std::string speed_words()
{
    std::vector<std::string> w;
    for (size_t code = 1; code < scor.size(); ++code)
        w.push_back(std::to_string(scor[code]));
    return joined(w, " ");
}

Completion words(std::string list)
{
    Completion c;
    c.words = std::move(list);
    return c;
}

Completion files(std::string extension = "")
{
    Completion c;
    c.files = true;
    c.extension = std::move(extension);
    return c;
}

// "info и read", "a, b и c"
std::string listed(const std::vector<std::string>& names)
{
    std::string out;
    for (size_t i = 0; i < names.size(); ++i)
        out += (i == 0 ? "" : i + 1 == names.size() ? " и " : ", ") + names[i];
    return out;
}

// The rows name only the fields they set; the rest keep their defaults.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// The help texts keep their lines as they are printed.
// clang-format off
std::vector<CommandRow> make_rows()
{
    return {
        {.name = "scan",
         .summary = "поиск приборов на линии",
         .help =
             "Ищет приборы так же, как поиск консоли: номера от --from до --to (1..247) на\n"
             "скорости связи, на заданной или (all) на каждой из шести. Для найденных печатает\n"
             "таблицу: номер, скорость, паритет, стоповые биты, имя и версию. Ход поиска (скорость,\n"
             "номер из диапазона) в поток ошибок, если это терминал. Не нашёл ни одного прибора:\n"
             "код 1 и подсказка. Ctrl-C прерывает поиск: найденное печатается, код 1.\n",
         .options = {{"--speed", "СКОРОСТЬ|all", "", words(speed_words() + " all")},
                     {"--from", "N"},
                     {"--to", "N"}},
         .tells_interrupt = true,
         .prepare = scan_command},
        {.name = "info",
         .summary = "имя, версия, параметры интерфейса, шкалы, уставки, калибровка, показания",
         .help =
             "Имя, версия, скорость, паритет, стоповые биты, номер; для каждого канала шкала\n"
             "(значение, точка, единица), уставки, ноль и коэффициент калибровки, точки ШИМ,\n"
             "измеренное значение и процент шкалы; частота и яркость. С -a 3,17 по очереди\n"
             "для каждого номера.\n",
         .device_list = true,
         .prepare = info_command},
        {.name = "read",
         .summary = "показания каналов и частота, строка на опрос",
         .help =
             "Опрашивает приборы (-a 3,17) так же, как консоль: первый опрос со шкалами и\n"
             "уставками, затем измеренные значения. Строка на прибор и опрос: время (ISO 8601),\n"
             "номер, значение и процент каждого канала, частота; несостоявшееся чтение оставляет\n"
             "поле пустым. --every: период (по умолчанию 1 с, можно 0.5), --count: число опросов\n"
             "(по умолчанию 1; 0 без конца). Ctrl-C завершает работу, файл остаётся целым.\n"
             "--out дописывает строки в конец файла; заголовок пишется, только если файл новый\n"
             "или пустой. Файл с другим заголовком не трогается: код 2, прибор не опрашивается.\n"
             "--csv excel пишет файл для электронной таблицы: UTF-8 с BOM, разделители списка и\n"
             "дробной части из региональных настроек (; и , при русских), местное время\n"
             "ДД.ММ.ГГГГ ЧЧ:ММ:СС, строки CRLF, единицы каналов в заголовке. --csv standard:\n"
             "запятая, точка, время ISO 8601, строки LF, для программ. По умолчанию " +
             std::string(kSheetCsvByDefault ? "excel" : "standard") + ".\n\n" + kMqttHelp,
         .options = {{"--every", "СЕКУНД"},
                     {"--count", "N"},
                     {"--out", "ФАЙЛ.csv", "", files()},
                     {"--csv", "standard|excel", "", {"standard excel"}},
                     {"--mqtt", "mqtt://[ИМЯ[:ПАРОЛЬ]@]УЗЕЛ[:ПОРТ]/ПРЕФИКС", "", {}, kMqttBuilt},
                     {"--password-file", "ФАЙЛ", "", files(), kMqttBuilt},
                     {"--cafile", "ФАЙЛ", "", files(), kMqttBuilt},
                     {"--spool-size", "РАЗМЕР", "", {}, kMqttBuilt},
                     {"--ha-discovery", "", "", {}, kMqttBuilt},
                     {"--line", "ИМЯ", "", {}, kMqttBuilt}},
         .device_list = true,
         .tells_interrupt = true,
         .prepare = read_command},
        {.name = "set",
         .operands = "ИМЯ=ЗНАЧЕНИЕ...",
         .summary = "записать параметры прибора",
         .help =
             "Имена: address (1..247), speed, parity (none, odd, even), stopbits (1, 2),\n"
             "scale1..3 (как на индикаторе: 12.34, точка из текста; можно 12,34), unit1..3 (нет,\n"
             "В, кВ, мА, А, кА, Гц или V, kV, mA, A, kA, Hz), max1..3, min1..3, brightness (1..3).\n"
             "Всё проверяется до первой записи. После записи скорости, паритета, стоповых бит\n"
             "или номера программа говорит с прибором на новых настройках и записывает их в\n"
             "файл настроек.\n",
         .operand_values = {joined(setting_keys(false), "= ") + "=", false, "", true},
         .writes = true,
         .prepare = set_command},
        {.name = "save",
         .operands = "ФАЙЛ",
         .summary = "конфигурация прибора в файл",
         .help =
             "Записывает в файл конфигурацию прибора: параметры интерфейса, шкалы, уставки,\n"
             "калибровку (ноль, коэффициент, точки ШИМ). Файл текстовый: разделы [interface],\n"
             "[scales], [setpoints], [calibration], строки ИМЯ=ЗНАЧЕНИЕ с именами команды set;\n"
             "имя и версия прибора в комментариях. Файл пишется, только если всё прочитано.\n"
             "Значения как в приборе: уставка не с индикатора кратчайшим точным числом\n"
             "(max1=-5), и load записывает её такой же. Значение, которое не число (стёртые\n"
             "слова), прибор обратно не примет: оно названо в комментарии и не записано.\n"
             "Последняя строка файла \"# crc32=XXXXXXXX\" -- контрольная сумма CRC-32 всех\n"
             "байтов перед ней: load не примет файл, обрезанный или изменённый после записи.\n",
         .operand_values = files(),
         .prepare = save_command},
        {.name = "load",
         .operands = "ФАЙЛ",
         .summary = "конфигурация прибора из файла",
         .help =
             "Показывает, чем прибор отличается от файла, записывает только это, читает всё\n"
             "снова и завершается с кодом 1, если значение не принято. Номер прибора из файла\n"
             "не записывается: так профиль одного прибора переносится на другой.\n"
             "Файл, у которого не сходится контрольная сумма последней строки или последняя\n"
             "строка не кончается переводом строки, не принимается (с номером строки); файл\n"
             "прежних версий, без строки контрольной суммы, загружается с предупреждением, что\n"
             "его целость не проверить. Правленный вручную файл загружается без последней строки.\n"
             "Калибровка (ноль, коэффициент, точки ШИМ) у каждого прибора своя и загружается,\n"
             "только если её назвать: --with-calibration вместе с остальным, --only calibration\n"
             "одну её (например, в тот же прибор после ремонта).\n"
             "--dry-run: только показать отличия. --only interface,scales,setpoints,calibration:\n"
             "только эти разделы (без --only: interface, scales, setpoints).\n",
         .options = {{"--dry-run"},
                     {"--only", "РАЗДЕЛЫ", "",
                      words(joined({section_name(kInterface), section_name(kScales), section_name(kSetpoints),
                                    section_name(kCalibration)}, " "))},
                     {"--with-calibration"}},
         .operand_values = files(),
         .writes = true,
         .prepare = load_command},
        {.name = "commission",
         .operands = "ТАБЛИЦА.csv",
         .summary = "настройка партии приборов по таблице",
         .help =
             "Строка таблицы на прибор; первая строка называет столбцы: имена команды set и\n"
             "from_address, from_speed (где отвечает новый прибор; по умолчанию параметры\n"
             "связи), unit_number (заводской номер прибора, которым его называет история).\n"
             "Пустая ячейка оставляет параметр как есть. Калибровку (ноль, коэффициент, точки\n"
             "ШИМ) таблица не записывает: она у каждого прибора своя. Для каждой строки\n"
             "программа ждёт прибор (\"подключите прибор и нажмите Enter\"; с --yes опрашивает,\n"
             "пока он не ответит, но не дольше --wait секунд, по умолчанию 60), записывает\n"
             "строку, проверяет чтением и добавляет строку в отчёт (время, строка, номер и\n"
             "скорость прибора после записи, имя, версия, результат, ошибка). Неудачная строка\n"
             "отмечается, работа идёт дальше; повторный запуск пропускает строки, которые отчёт\n"
             "называет готовыми. В конце: сколько строк выполнено, с ошибкой, пропущено.\n"
             "Отчёт по умолчанию рядом с таблицей: партия.csv -> партия-отчёт.csv, с тем же\n"
             "разделителем и меткой BOM, что у таблицы; текст, начинающийся с =, +, - или @,\n"
             "пишется с апострофом, чтобы электронная таблица не приняла его за формулу.\n"
             "Таблица: CSV, как его сохраняет электронная таблица, с разделителем , или ; (по\n"
             "строке заголовка), UTF-8 (с меткой BOM или без) или Windows-1251, в таблице с ;\n"
             "десятичная запятая; ячейка в кавычках может содержать разделитель, перевод строки\n"
             "и кавычки (\"\"). Вся таблица проверяется до первого прибора: ошибки перечисляются\n"
             "по строкам и столбцам, код 2, в приборы ничего не записывается.\n",
         .options = {{"--report", "ОТЧЁТ.csv", "", files()}, {"--yes"}, {"--wait", "СЕКУНД"}},
         .operand_values = files("csv"),
         .writes = true,
         .tells_interrupt = true,
         .prepare = commission_command},
        {.name = "check",
         .summary = "проверка точности каналов до и после калибровки, протокол",
         .help =
             "Проверяет каналы (--channels, по умолчанию 1,2,3) в точках --points (проценты шкалы\n"
             "-10..110, по умолчанию 0,25,50,75,100): в каждой точке --samples отсчётов (1..100, по\n"
             "умолчанию 10, через 100 мс, цикл измерения прибора) измеренного значения, их\n"
             "среднее, минимум, максимум, СКО (по n-1), погрешность (среднее - опорное, в единицах\n"
             "канала) и приведённая погрешность (погрешность / верхнее значение шкалы x 100 %).\n"
             "Точка годна, если все отсчёты прочитаны и |приведённая| <= --tolerance (класс, % шкалы,\n"
             "по умолчанию 0.5); канал годен, если годны все его точки. В начале читаются шкала,\n"
             "ноль и коэффициент каждого канала. В прибор ничего не пишется.\n"
             "В каждой точке программа говорит, что подать (\"канал 1, 25 %: подайте 62,5 В\"), и\n"
             "ждёт показание образцового прибора (Enter: номинал). --apply КОМАНДА вместо этого\n"
             "выполняет команду (sh -c; в Windows cmd /c) с VARNOK_CHANNEL, VARNOK_PERCENT,\n"
             "VARNOK_NOMINAL, VARNOK_UNIT в окружении; число в последней строке её вывода --\n"
             "опорное значение, иначе номинал. Команда с ошибкой останавливает проверку: код 1,\n"
             "ничего не записано.\n"
             "--as found|left: до или после калибровки (по умолчанию found). --found ФАЙЛ: проверке\n"
             "после калибровки -- документ --json проверки до неё, чтобы протокол держал обе.\n"
             "--unit-number: заводской номер, --engineer: кто проверял, --reference-instrument\n"
             "\"НАЗВАНИЕ;НОМЕР;ГГГГ-ММ-ДД\": образцовый прибор и срок его поверки (истёкший\n"
             "срок сообщается до начала). --protocol ФАЙЛ.pdf или ФАЙЛ.csv: протокол проверки.\n"
             "С --json результат одним документом: каждая точка (channel, percent, reference,\n"
             "mean, min, max, stdev, error, reduced_error, tolerance, verdict), вердикты каналов,\n"
             "прибор, константы, вид проверки. Код 0, если все каналы годны, иначе 1; 2 --\n"
             "неверные параметры.\n",
         .options = {{"--channels", "1,2,3"},
                     {"--points", "0,25,50,75,100"},
                     {"--tolerance", "ПРОЦЕНТ"},
                     {"--samples", "N"},
                     {"--as", "found|left", "", words("found left")},
                     {"--apply", "КОМАНДА"},
                     {"--found", "ФАЙЛ.json", "", files("json")},
                     {"--unit-number", "НОМЕР"},
                     {"--engineer", "ИМЯ"},
                     {"--reference-instrument", "НАЗВАНИЕ;НОМЕР;ГГГГ-ММ-ДД"},
                     {"--protocol", "ФАЙЛ.pdf", "", files()}},
         .prepare = check_command},
        {.name = "history",
         .summary = "история приборов: записи в прибор и проверки",
         .help =
             "Записи истории, новые первыми: время, пользователь, вид (запись, профиль, ввод в\n"
             "работу, проверка), прибор (заводской номер, номер в сети, имя, версия), что было\n"
             "записано, значение до и после (? -- не прочитано), номер протокола проверки.\n"
             "Каждая запись в прибор командами set, load и commission и каждая проверка check\n"
             "записывается в историю (--history ФАЙЛ или [история] файл= в файле настроек, по\n"
             "умолчанию " + std::string(kHistoryPlace) + "). Запись, которую прибор не принял, тоже\n"
             "записывается, с пометкой \"не принято\". База, которая не открывается, называется\n"
             "один раз, работа с прибором продолжается; проверка без записи в историю: код 1.\n"
             "--unit-number: только прибор с этим заводским номером, -a N: с этим номером в сети,\n"
             "--since ГГГГ-ММ-ДД: начиная с даты. --json: каждая запись с документом проверки,\n"
             "--csv excel|standard: таблица CSV. --verify: проверяет цепочку контрольных сумм\n"
             "SHA-256: код 0, если записи целы, иначе 1 и первая изменённая или удалённая запись.\n",
         .options = {{"--unit-number", "НОМЕР"},
                     {"--since", "ГГГГ-ММ-ДД"},
                     {"--csv", "excel|standard", "", words("excel standard")},
                     {"--verify"}},
         .local = true,
         .prepare = history_command},
        {.name = "protocol",
         .operands = "НОМЕР",
         .summary = "протокол проверки из истории снова в PDF",
         .help =
             "Печатает протокол проверки с номером НОМЕР (как его назвала check) из истории в\n"
             "файл --out ФАЙЛ.pdf: те же точки, вердикты, прибор и проверяющий, что в первом.\n",
         .options = {{"--out", "ФАЙЛ.pdf", "", files("pdf")}},
         .local = true,
         .prepare = protocol_command},
    };
}

std::vector<OptionRow> make_connection_options()
{
    std::vector<std::string> lists;
    for (const CommandRow& c : command_rows())
        if (c.device_list)
            lists.push_back(c.name);
    return {
        {.name = "-p", .value = "ПОРТ", .help = "COM1..COM16, путь к устройству или tcp://УЗЕЛ:ПОРТ",
         .values = {"COM1 COM2 COM3 COM4 tcp://", true}, .long_name = "--port",
         .apply = [](Options& o, const std::string& v) { o.port = v; }},
        {.name = "-b", .value = "СКОРОСТЬ", .help = "4800, 9600, 19200, 38400, 57600, 115200",
         .values = words(speed_words()), .long_name = "--speed",
         .apply = [](Options& o, const std::string& v) { o.speed = parse_speed(v); }},
        {.name = "-P", .value = "ПАРИТЕТ", .help = "none, odd, even", .values = words("none odd even"),
         .long_name = "--parity", .apply = [](Options& o, const std::string& v) { o.parity = parse_parity(v); }},
        {.name = "-s", .value = "СТОПБИТ", .help = "1 или 2", .values = words("1 2"), .long_name = "--stopbits",
         .apply = [](Options& o, const std::string& v) { o.stopbit = parse_stopbit(v); }},
        {.name = "-a", .value = "НОМЕР", .help = "номер прибора 1..247; для " + listed(lists) + " список: -a 3,17",
         .long_name = "--address",
         .apply = [](Options& o, const std::string& v) { o.addresses = parse_addresses(v); }},
        {.name = "--fast", .help = "быстрый обмен", .apply = [](Options& o, const std::string&) { o.fast = true; }},
        {.name = "--settings", .value = "ФАЙЛ", .help = "файл настроек вместо " + std::string(kSettingsPlace),
         .values = files(), .apply = [](Options& o, const std::string& v) { o.settings = v; }},
        {.name = "--history", .value = "ФАЙЛ",
         .help = "база истории вместо " + std::string(kHistoryPlace),
         .values = files(), .apply = [](Options& o, const std::string& v) { o.history = v; }},
        {.name = "--json", .help = "результат одним документом JSON",
         .apply = [](Options& o, const std::string&) { o.json = true; }},
        {.name = "-v", .help = "каждый запрос и ответ в поток ошибок",
         .apply = [](Options& o, const std::string&) { o.verbose = true; }},
    };
}
// clang-format on
#pragma GCC diagnostic pop

}  // namespace

const std::vector<CommandRow>& command_rows()
{
    static const std::vector<CommandRow> rows = make_rows();
    return rows;
}

const std::vector<OptionRow>& connection_options()
{
    static const std::vector<OptionRow> options = make_connection_options();
    return options;
}

const CommandRow* command_named(const std::string& name)
{
    for (const CommandRow& c : command_rows())
        if (c.name == name)
            return &c;
    return nullptr;
}

std::optional<std::string> OptionRow::attached_value(const std::string& arg) const
{
    if (value.empty())
        return std::nullopt;
    for (const std::string* n : {&name, &long_name}) {
        if (n->empty() || arg.size() <= n->size() || arg.compare(0, n->size(), *n) != 0)
            continue;
        if (n->rfind("--", 0) == 0) {
            if (arg[n->size()] == '=')
                return arg.substr(n->size() + 1);
        } else if (n->size() == 2) {
            return arg.substr(2);  // "-a5"
        }
    }
    return std::nullopt;
}

CommandArgs Invocation::args() const
{
    std::vector<std::string> valued, flags;
    for (const OptionRow& opt : row.options)
        (opt.value.empty() ? flags : valued).push_back(opt.name);
    return CommandArgs(options.args, valued, flags);
}

int run(const Options& o)
{
    const CommandRow* row = command_named(o.command);
    if (!row)
        throw UsageError("нет команды (varnok-cli --help)");
    if (!row->device_list && o.addresses.size() > 1)
        throw UsageError(o.command + ": один номер прибора, не список");
    // What needs no device is checked before the port is opened: nothing is sent for a refused line.
    const Invocation call{o, *row};
    const Job job = row->prepare(call);
    Session s(o);
    if (row->local)
        return job.run(s);
    // An unreadable settings file leaves the defaults in force: a write would go to a device
    // no one chose, unless the command line names the port and the number itself.
    if (s.settings_unread()) {
        const bool writes = row->writes && !job.dry_run;
        const bool given = s.port_is_path() && !o.addresses.empty();
        if (writes && !given)
            throw UsageError(s.settings_problem() + "; " + o.command +
                             " пишет в прибор и без файла настроек работает, только если связь задана "
                             "полностью: -p путь к устройству или tcp://УЗЕЛ:ПОРТ и -a номер");
        std::fprintf(stderr, "%s; работаем без него: %s\n", s.settings_problem().c_str(),
                     s.connection(o.addresses).c_str());
    } else if (o.verbose || !o.port || o.addresses.empty()) {
        // A port or a number no one typed: say once which, and where it comes from.
        std::fprintf(stderr, "%s (%s)\n", s.connection(o.addresses).c_str(), s.connection_source().c_str());
    }
    if (job.before_open)
        if (const int e = job.before_open(s); e != kExitOk)
            return e;
    if (const int e = s.open(); e != kExitOk)
        return e;
    const int e = job.run(s);
    // Ctrl-C cut the command short: what it did not do is no success.
    if (interrupted() && !row->tells_interrupt) {
        std::fprintf(stderr, "%s: прервано\n", o.command.c_str());
        return e == kExitOk ? kExitDevice : e;
    }
    return e;
}

}  // namespace varnok::cli
