// Bad lines and lost adapters against the whole console: the line-fault matrix of every
// console operation that reads or writes, and an adapter pulled while polling.
#include <QFileInfo>
#include <QSignalBlocker>

#include "console/calib/calib_page.h"
#include "console/clickable.h"
#include "console/params/params_page.h"
#include "console_fixture.h"
#include "support/device_records.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;

// ---------------------------------------------------------------- the fault classes

struct FaultClass {
    const char* name;
    const char* fault;  // the simulator's fault, aimed by each operation at its own request
    uint8_t code;       // what an ordinary exchange gives
    const char* text;   // that code's text
    uint8_t probe;      // what the search probe gives
};

// As decided for the request operations (tests/device/fault_matrix_test.cpp).
const FaultClass kClasses[] = {
    {"silence", "fault silence", 11, " не дождались ответа", 12},
    {"noise", "fault noise 3", 0, "", 12},
    {"crc", "fault crc", 6, " неверная контрольная сумма ", 6},
    {"address", "fault address", 11, " не дождались ответа", 12},
    {"function", "fault function", 9, " неверная функция в ответе", 9},
    {"exception1", "fault exception 1", 1, " \"недопустимая функция \" ", 1},
    {"exception2", "fault exception 2", 2, " \"недопустимый адрес \"", 2},
    {"exception3", "fault exception 3", 3, " \"недопустимое значение\"", 3},
    {"exception4", "fault exception 4", 4, " \"специфическая ошибка\"", 4},
    {"exception5", "fault exception 5", 5, " занят, отвечу позже", 5},
    {"busy", "fault busy", 5, " занят, отвечу позже", 5},
    {"truncate", "fault truncate 4", 6, " неверная контрольная сумма ", 6},
    {"long", "fault long 3", 6, " неверная контрольная сумма ", 0},
    {"slow", "fault slow 600", 11, " не дождались ответа", 12},
    {"count", "fault count 2", 8, " неверный формат ответа adr|kol", 8},
};

// ---------------------------------------------------------------- the operations

class ConsoleMatrix;

// How an operation tells a failure.
enum Style {
    kRead,     // the error line of the exchange
    kWrite,    // receive result, a prefix, the error line
    kRetry,    // a busy device is listened to once more; busy_logged: its line comes first
    kTick,     // the periodic tick's address check: "перестал отвечать" and back to on request
    kAsk,      // "?есть ответ": a line, and a message box when nobody answers
    kSpeed,    // "поиск скорости": the speed found, or a message box
    kBox,      // a calibration write: the error line in a message box
    kAverage,  // an averaged reading: the failed reading's error line among the readings
};

struct ConsoleOp {
    const char* name;
    int page;         // 0 readings, 1 parameters, 2 calibration
    const char* aim;  // the fault's aim at this operation's request
    Style style;
    const char* head;  // " function register " of the failing request's error line
    const char* prefix = "";
    bool busy_logged = false;
    int exchanges = 1;
    // Fields and what they show once the device's values are in; before each case they are
    // set to "?", which a failed operation must leave there.
    std::vector<std::pair<const char*, const char*>> fields = {};
    // Fields that must show the device's values whatever happened to this operation's request.
    std::vector<std::pair<const char*, const char*>> always = {};
    std::function<void(ConsoleMatrix&)> run = {};
    // For what is not a text field: set a sentinel, and tell fresh (true) from untouched.
    std::function<void(ConsoleMatrix&)> sentinel = {};
    std::function<int(ConsoleMatrix&)> state = {};  // 1 fresh, 0 untouched, -1 neither
    int slow_ms = 600;
    // What the fields show after a failure: their sentinel, or nothing where the page clears
    // a value it could not read back.
    const char* failed = "?";
};

// Values the simulator holds from the start, each shown somewhere by the operations below.
// The table keeps its own layout, a row an operation or a line of values.
// clang-format off
const char* const kSimState[] = {
    "set holding 0x40 0x0203", "setf holding 0x41 123.5", "setf holding 0x43 11.5", "setf holding 0x45 2.25",
    "setf input 0x4C 6.5",     "setf input 0x6C 8.5",     "setf input 2 49.5",      "set holding 1 2",
    "name Варнок",             "set holding 0x47 1234",   "set holding 0x67 4321",  "setf holding 0x48 0.5",
    "set input 0x4E 777",      "set input 0x6E 888",      "setl input 0x4F 100000", "setl input 0x6F 200000",
    "set holding 0x4A 1111 2222", "set holding 0x6A 3333 4444",
};
// clang-format on

// The calibration page's pauses, taken at once.
class NoPauses : public Sleeper {
public:
    void sleep_ms(unsigned) override {}
};

class ConsoleMatrix : public ConsoleOnSim, public ::testing::WithParamInterface<ConsoleOp> {
public:
    using ConsoleOnSim::click;
    using ConsoleOnSim::ctx;
    using ConsoleOnSim::find;
    ReadingsPage& readings() { return glav->readings(); }
    ParamsPage& params() { return glav->params(); }
    void press(const char* name) { click(find<QPushButton>(name)); }
    void press_field(const char* name) { Clickable::press(find<QWidget>(name)); }
    void trigger(const char* action) { glav->findChild<QAction*>(QLatin1String(action))->trigger(); }
    // A button the calibration steps have not enabled yet, pressed all the same.
    void press_anyway(const char* name)
    {
        auto* b = find<QAbstractButton>(name);
        b->setEnabled(true);
        click(b);
    }
    CalibPage& calib() { return glav->calib(); }
    NoPauses no_pauses;
    QSlider* slider() { return find<QSlider>("TrackBar_light"); }
    void set_slider(int position)
    {
        const QSignalBlocker quiet(slider());
        slider()->setValue(position);
    }
    QString shown(const char* name)
    {
        if (auto* label = glav->findChild<QLabel*>(QLatin1String(name)))
            return label->text();
        return text(name);
    }
    // A sentinel in a field, without the handlers that react to an edit's change.
    void put(const char* name, const QString& value)
    {
        if (auto* label = glav->findChild<QLabel*>(QLatin1String(name))) {
            label->setText(value);
            return;
        }
        auto* edit = find<QLineEdit>(name);
        const QSignalBlocker quiet(edit);
        edit->setText(value);
    }
};

// The table keeps its own layout, a row an operation or a line of values.
// clang-format off
const ConsoleOp kOps[] = {
    // The readings page.
    {"zapros", 0, "at 0x4C function 4", kRead, " 04 004C ", "", false, 13,
     {{"LEizm_te2", "  6.5000"}, {"Eizm_te2", "  6.5"}, {"LEizm_proc2", "  5.2632"}},
     {{"LEizm_te3", "  8.5000"}, {"LEfreq", "  49.500"}},  // the requests after it get their own answers
     [](ConsoleMatrix& t) { t.press("Bzapros"); }},
    {"tick", 0, "at 0x800 function 3", kTick, " 03 0800 ", "", false, 8, {{"LEizm_te2", "  6.5000"}}, {},
     [](ConsoleMatrix& t) {
         t.click(t.find<QRadioButton>("RGtyp_opros_0"));
         t.readings().Timer_oprosTimer();
     }},
    {"LEfreq", 0, "at 2 function 4", kRead, " 04 0002 ", "", false, 1, {{"LEfreq", "  49.500"}}, {},
     [](ConsoleMatrix& t) { t.press_field("LEfreq"); }},
    {"LEizm_te", 0, "at 0x4C function 4", kRead, " 04 004C ", "", false, 1, {{"LEizm_te2", "6.5"}}, {},
     [](ConsoleMatrix& t) { t.press_field("LEizm_te2"); }},
    {"LE_Scl", 0, "at 0x40 function 3", kRead, " 03 0040 ", "", false, 1,
     {{"LE_Scl2", " 123.5"}, {"LE_Scl2a", "ddd.d"}, {"LE_Scl2_label", "мА"}, {"LE_dt2", "2"}, {"LE_ed2", "3"}}, {},
     [](ConsoleMatrix& t) { t.press_field("LE_Scl2"); }},
    {"Llight", 0, "at 1 function 3", kRead, " 03 0001 ", "", false, 1, {}, {},
     [](ConsoleMatrix& t) { t.press_field("Llight"); }, [](ConsoleMatrix& t) { t.set_slider(1); },
     [](ConsoleMatrix& t) { return t.slider()->value() == 2 ? 1 : t.slider()->value() == 1 ? 0 : -1; }},
    {"TrackBar_light", 0, "at 1 function 16", kRetry, " 10 0001 ", "", false, 2, {}, {},
     [](ConsoleMatrix& t) { t.slider()->setValue(2); },
     [](ConsoleMatrix& t) {
         t.set_slider(1);
         test::set_light(t.ctx->device, 3);
     },
     [](ConsoleMatrix& t) { return t.ctx->device.light() == 2 ? 1 : t.ctx->device.light() == 3 ? 0 : -1; }},
    {"Ed_name", 0, "at 4 function 4", kRead, " 04 0004 ", "", false, 1, {{"Ed_name", "Варнок"}}, {},
     [](ConsoleMatrix& t) { t.press_field("Ed_name"); }},

    // The parameters page.
    {"Bread_scor", 1, "at 0x801 function 3", kRead, " 03 0801 ", "", false, 1, {{"Eint_cur_scor", "9600"}}, {},
     [](ConsoleMatrix& t) { t.press("Bread_scor"); }},
    {"Bread_parity", 1, "at 0x802 function 3", kRead, " 03 0802 ", "", false, 1, {{"Eint_cur_parity", "0"}}, {},
     [](ConsoleMatrix& t) { t.press("Bread_parity"); }},
    {"Bread_stopbit", 1, "at 0x803 function 3", kRead, " 03 0803 ", "", false, 1, {{"Eint_cur_stopbit", "1"}}, {},
     [](ConsoleMatrix& t) { t.press("Bread_stopbit"); }},
    {"Bread_sysnum", 1, "at 0x800 function 3", kRead, " 03 0800 ", "", false, 1, {{"Eint_cur_sysnum", "5"}}, {},
     [](ConsoleMatrix& t) { t.press("Bread_sysnum"); }},
    {"SBint_write_scor", 1, "at 0x801 function 16", kRetry, " 10 0801 ", "", true, 2, {{"Eint_cur_scor", "9600"}},
     {},
     [](ConsoleMatrix& t) {
         t.find<QComboBox>("CBint_scor")->setCurrentIndex(1);
         t.press("SBint_write_scor");
     }},
    {"SBint_write_parity", 1, "at 0x802 function 16", kRetry, " 10 0802 ", "", true, 2,
     {{"Eint_cur_parity", "0"}}, {},
     [](ConsoleMatrix& t) {
         t.find<QComboBox>("CBint_parity")->setCurrentIndex(0);
         t.press("SBint_write_parity");
     }},
    {"SBint_write_stopbit", 1, "at 0x803 function 16", kRetry, " 10 0803 ", "", true, 2,
     {{"Eint_cur_stopbit", "1"}}, {},
     [](ConsoleMatrix& t) {
         t.find<QComboBox>("CBint_stopbit")->setCurrentIndex(0);
         t.press("SBint_write_stopbit");
     }},
    {"SBint_write_sysnum", 1, "at 0x800 function 16", kRetry, " 10 0800 ", "", false, 2,
     {{"Eint_cur_sysnum", "5"}}, {},
     [](ConsoleMatrix& t) {
         t.find<QLineEdit>("Eint_sysnum")->setText("5");
         t.press("SBint_write_sysnum");
     }},
    {"B_read_scl", 1, "at 0x40 function 3", kRead, " 03 0040 ", "", false, 1,
     {{"LE_scl2_r", " 123.5"}, {"LE_scl2_r_label", "мА"}}, {}, [](ConsoleMatrix& t) { t.press("B_read_scl2"); }},
    {"SB_write_scl", 1, "at 0x40 function 16", kWrite, " 10 0040 ", "2:", false, 2,
     {{"LE_scl2_r", "12.34"}, {"LE_scl2_r_label", "мА"}}, {},
     [](ConsoleMatrix& t) {
         t.params().new_ustavka[2] = 1234;
         t.click(t.find<QRadioButton>("RG_scl2dt_w_1"));
         t.press("SB_write_scl2");
     }},
    {"B_read_ust", 1, "at 0x43 function 3", kRead, " 03 0043 ", "", false, 1,
     {{"LE_ust2max_r", "11.5"}, {"LE_ust2min_r", "2.25"}}, {}, [](ConsoleMatrix& t) { t.press("B_read_ust2"); }},
    {"LE_max", 1, "at 0x43 function 3", kRead, " 03 0043 ", "", false, 1, {}, {},
     [](ConsoleMatrix& t) { t.press_field("LE_ust2max_r"); },
     [](ConsoleMatrix& t) { test::set_max(t.ctx->device, 2, -1); },
     [](ConsoleMatrix& t) {
         const float max = t.ctx->device.parUst(2).Max.as_float();
         return max == 11.5f ? 1 : max == -1 ? 0 : -1;
     }},
    {"SB_write_ustmax", 1, "at 0x43 function 16", kWrite, " 10 0043 ", " 2:", false, 1, {{"LE_ust2max_r", "075.0"}},
     {},
     [](ConsoleMatrix& t) {
         t.params().new_max[2] = 750;
         t.click(t.find<QRadioButton>("RG_ust2maxdt_w_2"));
         t.press("SB_write_ust2max");
     }},
    {"SB_write_ustmin", 1, "at 0x45 function 16", kWrite, " 10 0045 ", "2:", false, 1, {{"LE_ust2min_r", "1234."}},
     {},
     [](ConsoleMatrix& t) {
         t.params().new_min[2] = 1234;
         t.press("SB_write_ust2min");
     }},

    // The calibration page, channel 2; channel 3's request comes after it where a step reads all three.
    {"B_cal0_old", 2, "at 0x47 function 3", kRead, " 03 0047 ", "", false, 3, {{"Ecal0L_2", "1234"}, {"Ecal0_h2", "04D2"}},
     {{"Ecal0L_3", "4321"}}, [](ConsoleMatrix& t) { t.press("B_cal0_old"); }},
    {"B_cal100_old", 2, "at 0x47 function 3", kRead, " 03 0047 ", "", false, 3,
     {{"Ecal0L_2", "1234"}, {"Ecal100L_2", " 0.5000000000"}, {"Ecal100_2b_h2", "3F00"}, {"Ecal100_2b_l2", "0000"}},
     {{"Ecal0L_3", "4321"}}, [](ConsoleMatrix& t) { t.press("B_cal100_old"); }},
    {"B_cal0_new", 2, "at 0x4E function 4", kRead, " 04 004E ", "", false, 6, {{"Ecal0_new2", "777"}},
     {{"Ecal0_new3", "888"}, {"LEcal_te2", "   6.50000"}}, [](ConsoleMatrix& t) { t.press_anyway("B_cal0_new"); }},
    {"B_cal100_new", 2, "at 0x4F function 4", kRead, " 04 004F ", "", false, 6, {{"E_ADCout2", "000186A0"}},
     {{"E_ADCout3", "00030D40"}, {"LEcal_te2", "   6.50000"}}, [](ConsoleMatrix& t) { t.press_anyway("B_cal100_new"); }},
    {"Ecal0L", 2, "at 0x47 function 3", kRead, " 03 0047 ", "", false, 1, {{"Ecal0L_2", "1234"}, {"Ecal0_h2", "04D2"}},
     {}, [](ConsoleMatrix& t) { t.press_field("Ecal0L_2"); }},
    {"Ecal100L", 2, "at 0x48 function 3", kRead, " 03 0048 ", "", false, 1, {{"Ecal100L_2", " 0.5000000000"}}, {},
     [](ConsoleMatrix& t) { t.press_field("Ecal100L_2"); }},
    {"Ecal0_new", 2, "at 0x4E function 4", kRead, " 04 004E ", "", false, 1, {{"Ecal0_new2", "777"}}, {},
     [](ConsoleMatrix& t) { t.press_field("Ecal0_new2"); }},
    {"Ecal100_new", 2, "at 0x4F function 4", kRead, " 04 004F ", "", false, 1, {{"E_ADCout2", "000186A0"}}, {},
     [](ConsoleMatrix& t) { t.press_field("Ecal100_new2"); }},
    {"SB_save_cal0", 2, "at 0x47 function 16", kBox, " 10 0047 ", "", false, 2, {{"LEcal_te2", "   6.50000"}}, {},
     [](ConsoleMatrix& t) {
         t.calib().new_cal0[2] = 1234;
         t.press_anyway("SB_save_cal0_2");
     }},
    {"SB_save_cal100", 2, "at 0x48 function 16", kBox, " 10 0048 ", "", false, 2, {{"LEcal_te2", "   6.50000"}}, {},
     [](ConsoleMatrix& t) {
         // A pending coefficient of 0.5: a top of 0.5 over an output of 1.
         test::set_ustavka(t.ctx->device, 2, 0.5f);
         t.calib().calibration().set_output(2, 1);
         t.calib().calibration().derive_coefficient(2);
         t.press_anyway("SB_save_cal100_2");
     }},
    {"LEcal_te", 2, "at 0x4C function 4", kRead, " 04 004C ", "", false, 1, {{"LEcal_te2", "   6.50000"}}, {},
     [](ConsoleMatrix& t) { t.press_field("LEcal_te2"); }, {}, {}, 300, ""},
    {"Bcal0_aver", 2, "at 0x4E function 4", kAverage, " 04 004E ", "", false, 4, {{"Ecal0_new2", "777"}}, {},
     [](ConsoleMatrix& t) { t.press_anyway("Bcal0_aver_2"); }},
    {"Bcal100_aver", 2, "at 0x4F function 4", kAverage, " 04 004F ", "", false, 4, {{"E_ADCout2", "000186A0"}}, {},
     [](ConsoleMatrix& t) { t.press_anyway("Bcal100_aver_2"); }},
    {"B_old_PWM", 2, "at 0x4A function 3", kRead, " 03 004A ", "", false, 3, {{"E_PWML2", "1111"}, {"E_PWMH2", "2222"}},
     {{"E_PWML3", "3333"}}, [](ConsoleMatrix& t) { t.press("B_old_PWM"); }},
    {"E_PWML", 2, "at 0x4A function 3", kRead, " 03 004A ", "", false, 1, {{"E_PWML2", "1111"}}, {},
     [](ConsoleMatrix& t) { t.press_field("E_PWML2"); }},
    {"E_PWMH", 2, "at 0x4B function 3", kRead, " 03 004A ", "", false, 1, {{"E_PWMH2", "2222"}}, {},
     [](ConsoleMatrix& t) { t.press_field("E_PWMH2"); }},
    {"SB_save_PWML", 2, "at 0x4A function 16", kBox, " 10 004A ", "", false, 1, {}, {},
     [](ConsoleMatrix& t) {
         t.calib().new_calAL[2] = 1111;
         t.press_anyway("SB_save_PWML2");
     }},
    {"SB_save_PWMH", 2, "at 0x4B function 16", kBox, " 10 004B ", "", false, 1, {}, {},
     [](ConsoleMatrix& t) {
         t.calib().new_calAH[2] = 2222;
         t.press_anyway("SB_save_PWMH2");
     }},

    // The search.
    {"N_yes_otvet", 0, "at 0x800 function 3", kAsk, " 03 0800 ", "", false, 1, {}, {},
     [](ConsoleMatrix& t) { t.trigger("N_yes_otvet"); }},
    // Past the whole search: it does not wait out a late answer between speeds, and on a
    // pseudo-terminal (which does not garble another speed) one could be heard at the next.
    {"N_poisk_scor", 0, "at 0x800 function 3", kSpeed, " 03 0800 ", "", false, 12, {}, {},
     [](ConsoleMatrix& t) { t.trigger("N_poisk_scor"); }, {}, {}, 1500},
};
// clang-format on

void PrintTo(const ConsoleOp& op, std::ostream* os) { *os << op.name; }

// What a case should leave: the lines and boxes, and whether the device's values are shown.
struct Outcome {
    QStringList lines;  // regular expressions, one per new line of the information window
    QStringList boxes;
    bool fresh;
};

QString exactly(const QString& s) { return QStringLiteral("^") + QRegularExpression::escape(s) + QStringLiteral("$"); }

Outcome expected(const ConsoleOp& op, const FaultClass& c, bool fast)
{
    const QString error_tail = QStringLiteral("\\d+:([0-9A-F]{2} )*$");
    auto error_line = [&](const char* text) {
        return QStringLiteral("^") + (op.style == kWrite ? QStringLiteral("\\d") : QString()) +
               QRegularExpression::escape(QString::fromUtf8(op.prefix) + QString::fromUtf8(op.head) +
                                          QString::fromUtf8(text)) +
               error_tail;
    };
    // The other device's answer to a read of the address register holds our address as data.
    uint8_t code = c.code;
    const char* text = c.text;
    if (std::string(c.name) == "address" && std::string(op.head) == " 03 0800 ") {
        code = kBadCrc;
        text = " неверная контрольная сумма ";
    }
    // The fast exchange stops reading where the answer is complete by its length: the stray
    // bytes after it are left to the next request's purge, and the answer is taken.
    if (std::string(c.name) == "long" && fast)
        code = 0;
    switch (op.style) {
    case kRead:
    case kWrite:
    case kAverage: return {code ? QStringList{error_line(text)} : QStringList{}, {}, code == 0};
    case kBox: return {{}, code ? QStringList{error_line(text)} : QStringList{}, code == 0};
    case kRetry: {
        QStringList lines;
        uint8_t final = code;
        if (code == kBusy) {
            if (op.busy_logged)
                lines << error_line(text);
            // Listened to once more: the busy device's later answer, or nothing at all.
            final = std::string(c.name) == "busy" ? 0 : 11;
        }
        if (final)
            lines << error_line(final == 11 ? " не дождались ответа" : text);
        return {lines, {}, final == 0};
    }
    case kTick:
        return {
            code ? QStringList{exactly("sys_num=5 перестал отвечать на  scor=9600")} : QStringList{}, {}, code == 0};
    case kAsk: {
        const QString line = QStringLiteral(" #=5 V=9600 : Pb=0 Sb=1 : ") + (code ? " нет ответа" : "OK!");
        return {{exactly(line)}, code ? QStringList{line} : QStringList{}, code == 0};
    }
    case kSpeed:
        return {{},
                c.probe ? QStringList{"№5 не отвечает ни на одной из скоростей   при Pb=0 и Sb=1"} : QStringList{},
                c.probe == 0};
    }
    return {};
}

// The longest one exchange at 9600 bit/s may take, with room for a busy machine.
constexpr qint64 kExchangeBudgetMs = 1500;

TEST_P(ConsoleMatrix, EveryFaultClass)
{
    const ConsoleOp& op = GetParam();
    std::vector<std::string> args;
    for (const char* c : kSimState)
        args.insert(args.end(), {"--command", c});
    start_all(args);
    calib().set_pauses(no_pauses);
    if (op.page == 1)
        click(glav->tool_button("ToolButton9"));
    if (op.page == 2)
        click(glav->tool_button("ToolButton11"));

    for (const FaultClass& c : kClasses) {
        SCOPED_TRACE(std::string(op.name) + " under " + c.name);
        ASSERT_EQ(sim->command("fault clear"), "ok");
        std::string fault = c.fault;
        if (fault == "fault slow 600")
            fault = "fault slow " + std::to_string(op.slow_ms);
        ASSERT_EQ(sim->command(fault + " " + op.aim), "ok");
        find<QListWidget>("ListBox1")->clear();
        boxes.clear();
        for (const auto& [name, value] : op.fields)
            put(name, "?");
        for (const auto& [name, value] : op.always)
            put(name, "?");
        if (op.sentinel)
            op.sentinel(*this);

        QElapsedTimer took;
        took.start();
        op.run(*this);
        EXPECT_LT(took.elapsed(), op.exchanges * kExchangeBudgetMs);

        const Outcome want = expected(op, c, fast_run());
        const bool late = std::string(c.name) == "slow";
        QStringList lines = info_lines();
        if (op.style == kAverage) {
            // The readings and the failed one's error line go to the page's own list.
            EXPECT_TRUE(lines.isEmpty()) << lines.join('|').toStdString();
            lines.clear();
            auto* readings = find<QListWidget>("ListBox2");
            for (int i = 0; i < readings->count(); ++i)
                if (readings->item(i)->text().startsWith(QString::fromUtf8(op.head)))
                    lines << readings->item(i)->text();
        }
        if (op.style == kSpeed) {
            // The search writes its own start and end lines; the one that matters is the last.
            if (want.fresh) {
                EXPECT_EQ(lines.value(lines.size() - 1), "№5 ответил на 9600  [ Pb=0, Sb=1 ]");
            }
        } else {
            // An answer later than the whole hunt is not waited for: it may still spoil the
            // request after it, whose own line then follows.
            if (late && lines.size() > want.lines.size())
                lines.resize(want.lines.size());
            EXPECT_EQ(lines.size(), want.lines.size()) << lines.join('|').toStdString();
            for (int i = 0; i < std::min(lines.size(), want.lines.size()); ++i)
                EXPECT_TRUE(QRegularExpression(want.lines[i]).match(lines[i]).hasMatch())
                    << lines[i].toStdString() << " is not " << want.lines[i].toStdString();
        }
        EXPECT_EQ(boxes.size(), want.boxes.size()) << boxes.join('|').toStdString();
        for (int i = 0; i < std::min(boxes.size(), want.boxes.size()); ++i) {
            const bool pattern = op.style == kBox;
            EXPECT_TRUE(pattern ? QRegularExpression(want.boxes[i]).match(boxes[i]).hasMatch()
                                : boxes[i] == want.boxes[i])
                << boxes[i].toStdString() << " is not " << want.boxes[i].toStdString();
        }
        for (const auto& [name, value] : op.fields)
            EXPECT_EQ(shown(name), QString::fromUtf8(want.fresh ? value : op.failed)) << name;
        for (const auto& [name, value] : op.always) {
            const QString now = shown(name);
            if (late && now == "?")
                continue;  // the request after it failed, and said so
            EXPECT_EQ(now, QString::fromUtf8(value)) << name << " (after the failed request)";
        }
        if (op.state) {
            EXPECT_EQ(op.state(*this), want.fresh ? 1 : 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Operations, ConsoleMatrix, ::testing::ValuesIn(kOps),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- an unplugged adapter

class Unplugged : public ConsoleOnSim {};

TEST_F(Unplugged, IsToldOnceStopsPollingAndTheInitialisationBringsItBack)
{
    const QString tty = dir.filePath(QStringLiteral("tty"));
    start_sim({"--link", tty.toStdString()});
    write_ini(QStringLiteral("[связь]\nПОРТ=1\nНОМЕР=5\nСКОРОСТЬ=9600\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=0\n\n"
                             "[порты]\nCOM1=%1\n")
                  .arg(tty));
    start_console();
    show_and_activate();
    ReadingsPage& page = glav->readings();
    QToolButton* pusk = glav->tool_button("ToolButton1");
    click(find<QRadioButton>("RGtyp_opros_0"));
    click(pusk);
    ASSERT_TRUE(wait_for([&] { return glav->status_panel(5).startsWith(" Запущен"); }, 5000));
    find<QListWidget>("ListBox1")->clear();
    ASSERT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();

    ASSERT_EQ(sim->command("unplug"), "ok");
    EXPECT_FALSE(QFileInfo::exists(tty)) << "the device path is gone";
    ASSERT_TRUE(wait_for([&] { return !page.Timer_opros.isActive(); }, 5000)) << "polling stops";
    EXPECT_EQ(boxes, QStringList{"ошибка настройки порта "});
    EXPECT_EQ(info_lines(), QStringList{"sys_num=5 перестал отвечать на  scor=9600"});
    EXPECT_TRUE(find<QRadioButton>("RGtyp_opros_1")->isChecked());
    EXPECT_EQ(pusk->text(), "пуск");

    // The console goes on: a poll on request ends without waiting on the line (its pauses take
    // about 0.25 s, its 13 exchanges with a silent line about 3 s), and says nothing more of
    // the port.
    QElapsedTimer took;
    took.start();
    click(find<QPushButton>("Bzapros"));
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(boxes.size(), 1);
    // Setting the port up while the device is away tells why it failed.
    click(find<QPushButton>("Binitport"));
    EXPECT_EQ(boxes.value(1), "ошибка настройки порта ");

    ASSERT_EQ(sim->command("plug").substr(0, 12), "ok terminal ");
    ASSERT_TRUE(QFileInfo::exists(tty));
    ASSERT_EQ(sim->command("setf input 0x2C 7.25"), "ok");
    boxes.clear();
    find<QListWidget>("ListBox1")->clear();
    click(find<QPushButton>("Binitport"));
    click(find<QPushButton>("Bzapros"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
    EXPECT_TRUE(info_lines().isEmpty()) << info_lines().join('|').toStdString();
    EXPECT_EQ(text("LEizm_te1"), "  7.2500");
}

}  // namespace
}  // namespace varnok::test
