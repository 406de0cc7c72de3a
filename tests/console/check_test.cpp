// The accuracy check window driven through its controls against the simulator: a unit out
// of tolerance checked before calibration, calibrated on the calibration page, checked after,
// and the protocol of both; the refusals, the remembered fields and the accessible names.
#include <QAccessible>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QLocale>
#include <QProcess>
#include <QSpinBox>
#include <QTableWidget>
#include <sys/stat.h>

#include "console/calib/calib_page.h"
#include "console/check/tfcheck.h"
#include "console/check/tfhistory.h"
#include "record/check_document.h"
#include "record/history.h"
#include "console/file_chooser.h"
#include "console/readable_colours.h"
#include "console_fixture.h"

namespace varnok::test {
namespace {

// Pauses taken at once: the readings of a point come one after another.
class NoPauses : public Sleeper {
public:
    void sleep_ms(unsigned) override {}
};

class Check : public ConsoleOnSim {
protected:
    ~Check() override
    {
        MessageBox::set_confirmer({});
        set_file_chooser({});
        QLocale::setDefault(saved_locale_);
        QApplication::setPalette(QApplication::style()->standardPalette());
    }

    // The console against a simulator whose channel 1 reads 1.2 % of its span high (the
    // converter's gain above what the stored coefficient was made for), the window open.
    // `more_ini` goes at the end of the settings file.
    void open(std::vector<std::string> sim_setup = {"gain 1 101200"}, const QString& more_ini = {})
    {
        std::vector<std::string> args;
        for (auto& line : sim_setup)
            args.insert(args.end(), {"--command", line});
        start_sim(args);
        write_ini(ini_for_sim() + more_ini);
        start_console();
        show_and_activate();
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        window().set_pauses(no_pauses);
        glav->calib().set_pauses(no_pauses);
        MessageBox::set_confirmer([this](const QString& text, const QString&) {
            questions << text;
            return answer;
        });
        glav->findChild<QAction*>("N_check")->trigger();
        ASSERT_TRUE(wait_for([&] { return window().isVisible(); }));
    }
    TFcheck& window() { return glav->check(); }
    void set(const char* name, const QString& value) { find<QLineEdit>(name)->setText(value); }
    // Only channel 1, three readings a point.
    void plan_channel_1()
    {
        find<QCheckBox>("ChB_check_ch2")->setChecked(false);
        find<QCheckBox>("ChB_check_ch3")->setChecked(false);
        find<QSpinBox>("SE_check_samples")->setValue(3);
    }
    QString cell(int row, int column) const
    {
        const QTableWidgetItem* item = find<QTableWidget>("TW_check_ch1")->item(row, column);
        return item ? item->text() : QString();
    }
    // Each point with its signal applied in the simulator, then "измерить".
    void measure_all(const std::vector<int>& percents)
    {
        for (size_t i = 0; i < percents.size(); ++i) {
            sim->command("signal 1 " + std::to_string(percents[i]));
            click(find<QPushButton>(QStringLiteral("B_check_measure1_%1").arg(i + 1).toLatin1().constData()));
        }
    }
    QString pdf_text(const QString& pdf) const
    {
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        EXPECT_TRUE(p.waitForFinished(30000));
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    NoPauses no_pauses;
    QStringList questions;
    bool answer = true;

private:
    QLocale saved_locale_;
};

TEST_F(Check, OutOfToleranceBeforeCalibrationFitAfterAndTheProtocolOfBoth)
{
    open();
    set("E_check_factory", "ЗН-0427");
    set("E_check_engineer", "Петров П. П.");
    set("E_check_ref_name", "Калибратор К-1");
    set("E_check_ref_number", "1187");
    find<QDateEdit>("DE_check_ref_due")->setDate(QDate::currentDate().addYears(1));
    plan_channel_1();
    const int reads_before = int(requests().filter(QStringLiteral("05 04 00 2C 00 02")).size());
    EXPECT_FALSE(find<QPushButton>("B_check_protocol")->isEnabled()) << "nothing to print yet";
    click(find<QPushButton>("B_check_start"));
    EXPECT_TRUE(questions.isEmpty()) << "a reference in date is not questioned";
    EXPECT_EQ(text("E_check_name"), "Варнок ПМ3");
    EXPECT_EQ(text("E_check_version"), "V2.07 2026");
    EXPECT_EQ(text("E_check_sysnum"), "5");
    EXPECT_EQ(text("E_check_line"), "COM1 9600 8N1");
    EXPECT_TRUE(find<QGroupBox>("GB_check_ch1")->title().startsWith("1 канал: шкала 250 В, ноль 1012"));
    EXPECT_EQ(glav->findChild<QTableWidget*>("TW_check_ch2"), nullptr);
    EXPECT_EQ(text("E_check_ref1_2"), "62,5000") << "the nominal until another value is typed";
    EXPECT_EQ(find<QLabel>("L_check_verdict1")->text(), "1 канал: не измерен");

    // As found: 1.2 % of the span high at full scale, within 0.5 % only at 0 and 25 %.
    set("E_check_ref1_2", "62,49");  // what the reference instrument showed instead
    measure_all({0, 25, 50, 75, 100});
    EXPECT_EQ(int(requests().filter(QStringLiteral("05 04 00 2C 00 02")).size()) - reads_before, 15)
        << "three readings at each of five points";
    EXPECT_EQ(find<QListWidget>("LBtuda")->item(0)->text(), "05 04 00 2C 00 02 B1 86 ") << "shown in the exchange log";
    const QStringList means = {"0,0000", "63,2500", "126,5000", "189,7500", "253,0000"};
    const QStringList errors = {"0,0000", "0,7600", "1,5000", "2,2500", "3,0000"};
    const QStringList reduced = {"0,000", "0,304", "0,600", "0,900", "1,200"};
    const QStringList verdicts = {"годен", "годен", "не годен", "не годен", "не годен"};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(cell(row, 4), means[row]) << row;
        EXPECT_EQ(cell(row, 8), errors[row]) << row;
        EXPECT_EQ(cell(row, 9), reduced[row]) << row;
        EXPECT_EQ(cell(row, 10), verdicts[row]) << row;
    }
    EXPECT_EQ(cell(2, 7), "0,0000") << "no noise, no spread";
    EXPECT_EQ(text("E_check_ref1_2"), "62,4900");
    EXPECT_EQ(find<QLabel>("L_check_verdict1")->text(), "1 канал: не годен");
    EXPECT_NE(find<QTableWidget>("TW_check_ch1")->item(4, 10)->foreground().color(),
              find<QTableWidget>("TW_check_ch1")->item(0, 10)->foreground().color());
    EXPECT_TRUE(info_lines().isEmpty() || !info_lines().last().contains("ошибка"));

    // The calibration page's full-scale steps at 100 %, then the check after it.
    click(glav->tool_button("ToolButton11"));
    sim->command("signal 1 100");
    click(find<QPushButton>("B_cal100_old"));
    click(find<QPushButton>("B_cal100_new"));
    click(find<QToolButton>("SB_save_cal100_1"));
    glav->findChild<QAction*>("N_check")->trigger();
    QTest::mouseClick(find<QRadioButton>("RB_check_left"), Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_EQ(glav->findChild<QTableWidget*>("TW_check_ch1"), nullptr) << "no run after calibration yet";
    click(find<QPushButton>("B_check_start"));
    measure_all({0, 25, 50, 75, 100});
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(cell(row, 10), "годен") << row;
    EXPECT_EQ(cell(4, 4), "250,0000");
    EXPECT_EQ(find<QLabel>("L_check_verdict1")->text(), "1 канал: годен");
    ASSERT_TRUE(window().as_found() && window().as_left());
    EXPECT_EQ(window().as_found()->channels[0].constants.coefficient, 0.0025f);
    EXPECT_NE(window().as_left()->channels[0].constants.coefficient, 0.0025f);
    EXPECT_TRUE(find<QLabel>("L_check_summary")->text().startsWith("до калибровки: не годен"));
    // Back to the run before calibration: its table as it was.
    QTest::mouseClick(find<QRadioButton>("RB_check_found"), Qt::LeftButton, {}, QPoint(8, 8));
    EXPECT_EQ(cell(4, 10), "не годен");

    // One protocol holds both runs.
    const QString pdf = dir.filePath(QStringLiteral("протокол.pdf"));
    set_file_chooser([&](QWidget*, const QString&, const QString& suggested, const QString&, bool save) {
        EXPECT_TRUE(save);
        EXPECT_TRUE(suggested.startsWith(QStringLiteral("протокол-"))) << suggested.toStdString();
        return pdf;
    });
    click(find<QPushButton>("B_check_protocol"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    // Each line of the text with its blanks collapsed, so that the table's rows read as words.
    QStringList lines;
    for (const QString& line : pdf_text(pdf).split('\n'))
        lines << line.simplified();
    const QString got = lines.join('\n');
    for (const char* expected :
         {"Протокол проверки", "Заводской номер: ЗН-0427", "Поверитель: Петров П. П.", "Калибратор К-1, № 1187",
          "Варнок ПМ3, версия V2.07 2026", "Линия: COM1 9600 8N1",
          // as found, with the reference typed at 25 %, and as left
          "\n25 62,4900 63,2500 0,7600 0,304 годен\n", "\n100 250,0000 253,0000 3,0000 1,200 не годен\n",
          "\n100 250,0000 250,0000 0,0000 0,000 годен\n", "Заключение: годен",
          "\n1 1012 0,0025 1012 0,0024703557\n"})
        EXPECT_TRUE(got.contains(QString::fromUtf8(expected))) << expected << "\n" << got.toStdString();
    EXPECT_TRUE(info_lines().last().contains(QStringLiteral("записан в ") + pdf)) << info_lines().last().toStdString();

    const QString csv = dir.filePath(QStringLiteral("протокол.csv"));
    set_file_chooser([&](QWidget*, const QString&, const QString&, const QString&, bool) { return csv; });
    click(find<QPushButton>("B_check_csv"));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(f.readAll()).contains(QStringLiteral("ЗН-0427")));
}

TEST_F(Check, RefusalsTheReferenceOutOfDateAndWhatIsRemembered)
{
    open({});
    plan_channel_1();
    set("E_check_engineer", "Сидоров\nС. С.");
    set("E_check_ref_name", "Вольтметр В7");
    find<QDateEdit>("DE_check_ref_due")->setDate(QDate(2020, 3, 1));

    // What cannot be read is said, and nothing is laid out.
    set("E_check_points", "0; 5О; 100");  // a Cyrillic letter for a zero
    click(find<QPushButton>("B_check_start"));
    set("E_check_points", "0; 120");
    click(find<QPushButton>("B_check_start"));
    set("E_check_points", "0; 50,5; 100");
    set("E_check_tolerance", "пол");
    click(find<QPushButton>("B_check_start"));
    EXPECT_EQ(boxes, QStringList({"точка проверки не число: 5О", "точка 120 % вне пределов -10..110 %",
                                  "допуск не число: пол"}));
    EXPECT_TRUE(questions.isEmpty());
    boxes.clear();

    // A reference past its due date is told; the engineer may stop or go on.
    set("E_check_tolerance", "0.25");
    answer = false;
    click(find<QPushButton>("B_check_start"));
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].startsWith("срок поверки эталона истёк 01.03.2020")) << questions[0].toStdString();
    EXPECT_EQ(glav->findChild<QTableWidget*>("TW_check_ch1"), nullptr);
    answer = true;
    click(find<QPushButton>("B_check_start"));
    EXPECT_EQ(find<QTableWidget>("TW_check_ch1")->rowCount(), 3);
    EXPECT_EQ(text("E_check_ref1_2"), "126,2500");
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    // The engineer and the reference instrument are remembered, each on one line.
    const QString ini = read_ini();
    EXPECT_TRUE(ini.contains("[проверка]\nПОВЕРИТЕЛЬ=Сидоров С. С.\nЭТАЛОН=Вольтметр В7\nНОМЕР ЭТАЛОНА=\n"
                             "ЭТАЛОН ПОВЕРЕН ДО=2020-03-01\n"))
        << ini.toStdString();

    // A failed read at a point fails the point, named; the accessibility action measures as a click.
    sim->command("fault silence at 0x2C function 4 always");
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(find<QPushButton>("B_check_measure1_1"));
    ASSERT_TRUE(a && a->actionInterface());
    EXPECT_EQ(a->text(QAccessible::Name), "1 канал, 0 %: измерить");
    a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());  // a click that comes a moment later
    ASSERT_TRUE(wait_for([&] { return !cell(0, 10).isEmpty(); }));
    EXPECT_EQ(cell(0, 10), "не годен");
    EXPECT_EQ(cell(0, 4), "");
    EXPECT_TRUE(find<QLabel>("L_check_verdict1")->text().startsWith("1 канал: не годен (измерены не все точки); 0 %: канал 1, 0 %: отсчёт 1 не прочитан"))
        << find<QLabel>("L_check_verdict1")->text().toStdString();
    sim->command("fault clear");
    boxes.clear();

    // Starting again over a run with results asks first.
    find<QDateEdit>("DE_check_ref_due")->setDate(QDate::currentDate());
    answer = false;
    questions.clear();
    click(find<QPushButton>("B_check_start"));
    EXPECT_EQ(questions, QStringList({"проверка до калибровки уже проведена; начать её заново?"}));
    EXPECT_EQ(cell(0, 10), "не годен") << "the run is kept";

    // A protocol in place of a FIFO is refused and the FIFO left as it is.
    const QString fifo = dir.filePath(QStringLiteral("fifo.pdf"));
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    set_file_chooser([&](QWidget*, const QString&, const QString&, const QString&, bool) { return fifo; });
    click(find<QPushButton>("B_check_protocol"));
    EXPECT_EQ(boxes, QStringList({"протокол не записан"}));
    struct stat st {};
    ASSERT_EQ(stat(fifo.toLocal8Bit().constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    msg.reset();
    setup.reset();
    comdcb.reset();
    about.reset();
    glav.reset();
    start_console();
    glav->findChild<QAction*>("N_check")->trigger();
    EXPECT_EQ(text("E_check_engineer"), "Сидоров С. С.");
    EXPECT_EQ(text("E_check_ref_name"), "Вольтметр В7");
    EXPECT_EQ(find<QDateEdit>("DE_check_ref_due")->date(), QDate::currentDate()) << "as the protocol's attempt left it";
}

TEST_F(Check, EveryControlIsNamedAndTheCalibrationPageOpensTheWindow)
{
    open({});
    window().close();
    click(glav->tool_button("ToolButton11"));
    click(find<QPushButton>("B_check"));
    ASSERT_TRUE(wait_for([&] { return window().isVisible(); }));
    EXPECT_EQ(find<QDateEdit>("DE_check_ref_due")->text(), "не задана");
    click(find<QPushButton>("B_check_start"));
    EXPECT_TRUE(questions.isEmpty()) << "no due date given is not a date passed";
    EXPECT_EQ(window().protocol().reference.due_date, "") << "nor a date nobody chose";
    int checked = 0;
    for (QWidget* w : window().findChildren<QWidget*>()) {
        const bool kind = qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) ||
                          qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QTableWidget*>(w);
        // Parts of compound controls (a table's corner, a spin box's edit) speak for their owner.
        if (!kind || w->objectName().startsWith("qt_") || qobject_cast<QAbstractSpinBox*>(w->parentWidget()) ||
            qobject_cast<QAbstractItemView*>(w->parentWidget()))
            continue;
        EXPECT_FALSE(w->objectName().isEmpty()) << w->metaObject()->className();
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 50) << "three channels of five points";

    // The verdicts' colours read on a dark palette too, also when it comes after they were drawn.
    sim->command("gain 2 103000");
    sim->command("signal 2 100");
    click(find<QPushButton>("B_check_measure2_5"));
    ASSERT_EQ(find<QTableWidget>("TW_check_ch2")->item(4, 10)->text(), "не годен");
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Text, Qt::white);
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    auto* table = find<QTableWidget>("TW_check_ch2");
    EXPECT_GE(contrast_ratio(table->item(4, 10)->foreground().color(), table->palette().color(QPalette::Base)),
              kLegible);
    auto* verdict = find<QLabel>("L_check_verdict2");
    EXPECT_EQ(verdict->text(), "2 канал: не годен (измерены не все точки)");
    EXPECT_GE(contrast_ratio(verdict->palette().color(QPalette::WindowText),
                             verdict->parentWidget()->palette().color(QPalette::Window)),
              kLegible);
    EXPECT_EQ(find<QLineEdit>("E_check_ref3_4")->accessibleName(), "3 канал, 75 %: эталон");
    EXPECT_EQ(find<QSpinBox>("SE_check_samples")->value(), 10);
    EXPECT_EQ(text("E_check_tolerance"), "0,5");
    EXPECT_EQ(text("E_check_points"), "0; 25; 50; 75; 100");
}

// The window's check in the unit's history: each run stored once all its points are measured,
// found again by its protocol number, and listed in the history window with the drift since
// the last check stored before it.
TEST_F(Check, RunsAreStoredFoundByTheirNumberAndListedWithTheDrift)
{
    open();
    // The last check of the unit, stored before: its as-left means at 0, 50 and 75 %.
    const std::string store = ctx->history().path();
    {
        std::string error;
        std::unique_ptr<record::History> h = record::History::open(store, error);
        ASSERT_TRUE(h) << error;
        record::CheckRun left;
        left.kind = record::CheckKind::AsLeft;
        left.started = "2025-12-01 09:00:00";
        record::ChannelCheck c;
        c.channel = 1, c.full_scale = 250, c.unit = "В", c.constants = {true, 1012, 0.0025f};
        for (const auto& [percent, mean] : {std::pair{0.0, 0.0}, {50.0, 125.5}, {75.0, 187.5}}) {
            record::CheckPoint p;
            p.percent = percent, p.nominal = p.reference = percent * 2.5, p.samples = 1, p.readings = {mean};
            record::judge_point(p, 250, 0.5);
            c.points.push_back(p);
        }
        record::judge_channel(c);
        left.channels = {c};
        record::HistoryRecord r;
        r.time = "2025-12-01 09:10:00";
        r.unit = {"Варнок ПМ3", "V2.07 2026", "ЗН-0427", 5, "COM1 9600 8N1"};
        r.kind = record::kKindCheck;
        r.what = "проверка после калибровки: годен";
        r.protocol_number = "ЗН-0427-20251201-091000";
        r.document = record::check_document({r.unit, "Иванов", {"К-1", "1", "2026-01-01"}}, left, nullptr);
        ASSERT_TRUE(h->append(r, error)) << error;
        record::HistoryRecord w;
        w.time = "2025-12-01 09:20:00";
        w.unit = r.unit;
        w.kind = record::kKindWrite;
        w.what = "канал 1: ноль";
        w.old_value = "1000";
        w.new_value = "1012";
        ASSERT_TRUE(h->append(w, error)) << error;
    }
    set("E_check_factory", "ЗН-0427");
    set("E_check_engineer", "Петров П. П.");
    set("E_check_points", "0; 50; 100");
    plan_channel_1();
    click(find<QPushButton>("B_check_start"));
    measure_all({0, 50});
    EXPECT_FALSE(info_lines().join('\n').contains("записан в историю")) << "not before every point is measured";
    measure_all({0, 50, 100});
    ASSERT_TRUE(info_lines().last().contains("записан в историю")) << info_lines().join('\n').toStdString();
    QTest::mouseClick(find<QRadioButton>("RB_check_left"), Qt::LeftButton, {}, QPoint(8, 8));
    click(find<QPushButton>("B_check_start"));
    measure_all({0, 50, 100});
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    const std::string number = window().protocol().number;
    EXPECT_TRUE(info_lines().last().contains(QStringLiteral("протокол %1 записан в историю").arg(QString::fromStdString(number))))
        << info_lines().last().toStdString();

    // The as-left record carries the as-found run, every point with its readings.
    {
        std::string error;
        std::unique_ptr<record::History> h = record::History::open(store, error);
        ASSERT_TRUE(h) << error;
        const std::optional<record::HistoryRecord> r = h->find_protocol(number, error);
        ASSERT_TRUE(r) << error;
        EXPECT_EQ(r->kind, "проверка");
        EXPECT_EQ(r->unit.factory_number, "ЗН-0427");
        EXPECT_EQ(r->unit.network_number, 5);
        EXPECT_EQ(r->unit.line, "COM1 9600 8N1");
        const record::StoredCheck c = record::read_check_document(r->document, "test");
        EXPECT_EQ(c.header.engineer, "Петров П. П.");
        EXPECT_EQ(c.run.kind, record::CheckKind::AsLeft);
        ASSERT_TRUE(c.found);
        ASSERT_EQ(c.found->channels.size(), 1u);
        ASSERT_EQ(c.found->channels[0].points.size(), 3u);
        EXPECT_EQ(c.found->channels[0].points[1].readings, std::vector<double>({126.5, 126.5, 126.5}));
        EXPECT_EQ(c.found->channels[0].points[2].mean, 253.0);
        EXPECT_EQ(c.run.channels[0].points[2].mean, 253.0) << "not calibrated in between";
        std::vector<record::HistoryRecord> all;
        ASSERT_TRUE(h->list({}, all, error)) << error;
        EXPECT_EQ(all.size(), 4u) << "the last check, a write and this check's two runs";
        EXPECT_EQ(h->verify(), "");
    }
    // The tool prints the window's check again from the history.
    const QString again = dir.filePath(QStringLiteral("снова.pdf"));
    QProcess tool;
    tool.start(QStringLiteral(VARNOK_CLI_PATH), {QStringLiteral("--settings"), ini_path(), QStringLiteral("--history"),
                                                 QString::fromStdString(store), QStringLiteral("protocol"),
                                                 QString::fromStdString(number), QStringLiteral("--out"), again});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QString printed = pdf_text(again).simplified();
    for (const char* expected : {"Заводской номер: ЗН-0427", "Поверитель: Петров П. П.", "50 125,0000 126,5000 1,5000 0,600 не годен",
                                 "Протокол № "})
        EXPECT_TRUE(printed.contains(QString::fromUtf8(expected))) << expected << "\n" << printed.toStdString();
    EXPECT_TRUE(printed.contains(QString::fromStdString(number))) << printed.toStdString();

    // The history window: newest first, and the drift at each point of either check.
    click(find<QPushButton>("B_check_history"));
    TFhistory* history = window().history_window();
    ASSERT_TRUE(history && history->isVisible());
    auto* records = history->findChild<QTableWidget*>("TW_history_records");
    ASSERT_EQ(records->rowCount(), 4);
    EXPECT_TRUE(records->item(0, 3)->text().startsWith("проверка после калибровки")) << records->item(0, 3)->text().toStdString();
    EXPECT_TRUE(records->item(1, 3)->text().startsWith("проверка до калибровки"));
    EXPECT_EQ(records->item(2, 3)->text(), "канал 1: ноль");
    EXPECT_EQ(records->item(2, 4)->text(), "1000");
    EXPECT_EQ(records->item(2, 5)->text(), "1012");
    EXPECT_EQ(records->item(3, 0)->text(), "2025-12-01 09:10:00");
    EXPECT_EQ(records->item(0, 6)->text().toStdString(), number);
    EXPECT_EQ(records->item(3, 6)->text(), "ЗН-0427-20251201-091000");
    EXPECT_GE(records->item(0, 0)->text(), records->item(1, 0)->text());
    EXPECT_EQ(records->item(3, 1)->data(Qt::AccessibleDescriptionRole).toString(), "запись 1: пользователь");
    auto* drift = history->findChild<QTableWidget*>("TW_history_drift");
    ASSERT_EQ(drift->rowCount(), 4) << "0, 50, 75 and 100 %";
    const QStringList rows[] = {
        {"1", "0", "0,0000 В", "0,0000 В", "0,0000 В", "0,000"},
        {"1", "50", "125,5000 В", "126,5000 В", "1,0000 В", "0,400"},
        {"1", "75", "187,5000 В", "нет точки", "нет пары", "нет пары"},
        {"1", "100", "нет точки", "253,0000 В", "нет пары", "нет пары"},
    };
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 6; ++column)
            EXPECT_EQ(drift->item(row, column)->text(), rows[row][column]) << row << "," << column;
    EXPECT_EQ(drift->item(1, 4)->data(Qt::AccessibleDescriptionRole).toString(), "1 канал, 50 %: дрейф");
    EXPECT_TRUE(history->findChild<QLabel*>("L_history_drift")->text().contains("ЗН-0427-20251201-091000"));
    for (QWidget* w : history->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QTableWidget*>(w) || qobject_cast<QLabel*>(w);
        if (!control || w->objectName().startsWith("qt_") || qobject_cast<QAbstractItemView*>(w->parentWidget()) ||
            qobject_cast<QAbstractItemView*>(w->parentWidget() ? w->parentWidget()->parentWidget() : nullptr))
            continue;
        EXPECT_FALSE(w->objectName().isEmpty()) << w->metaObject()->className();
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    }
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(drift);
    ASSERT_TRUE(a && a->tableInterface());
    QAccessibleInterface* cell = a->tableInterface()->cellAt(1, 4);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->text(QAccessible::Name), "1,0000 В") << "the table's text reaches a screen reader";
    if (const QString shot = qEnvironmentVariable("VARNOK_HISTORY_SHOT"); !shot.isEmpty()) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(history));  // shown at its own size before the picture
        history->grab().save(shot);
    }
}

TEST_F(Check, ARunIsNotStartedWhereTheStoreCannotBeUsed)
{
    const QString folder = dir.filePath(QStringLiteral("история"));
    ASSERT_TRUE(QDir().mkpath(folder));
    open({}, QStringLiteral("\n[история]\nфайл=") + folder + QStringLiteral("\n"));
    plan_channel_1();
    const qsizetype asked = requests().size();
    const QString line = QStringLiteral("история ") + folder + QStringLiteral(" не открывается: это папка, а не обычный файл");
    click(find<QPushButton>("B_check_start"));
    EXPECT_EQ(boxes, QStringList({line}));
    EXPECT_EQ(glav->findChild<QTableWidget*>("TW_check_ch1"), nullptr);
    // Said again at each refusal, once each time.
    click(find<QPushButton>("B_check_start"));
    EXPECT_EQ(boxes, QStringList({line, line}));
    EXPECT_EQ(requests().size(), asked) << "nothing asked of the device";
    EXPECT_FALSE(window().as_found());

    // The history window says the same line in itself, with nothing listed.
    click(find<QPushButton>("B_check_history"));
    ASSERT_TRUE(window().history_window() && window().history_window()->isVisible());
    EXPECT_EQ(window().history_window()->findChild<QLabel*>("L_history_state")->text(), line);
    EXPECT_EQ(window().history_window()->findChild<QTableWidget*>("TW_history_records")->rowCount(), 0);
    EXPECT_EQ(window().history_window()->findChild<QTableWidget*>("TW_history_drift")->rowCount(), 0);
    EXPECT_EQ(boxes.size(), 2) << boxes.join('\n').toStdString();
}

}  // namespace
}  // namespace varnok::test
