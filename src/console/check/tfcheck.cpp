#include "console/check/tfcheck.h"

#include <QCheckBox>
#include <QDate>
#include <QDateTime>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QGuiApplication>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <charconv>
#include <cmath>

#include "console/busy.h"
#include "console/check/tfhistory.h"
#include "console/console_context.h"
#include "console/file_chooser.h"
#include "console/message_box.h"
#include "console/readable_colours.h"
#include "console/value_text.h"
#include "ops/polling.h"
#include "record/check_document.h"
#include "record/history.h"
#include "record/protocol_files.h"
#include "settings/file_io.h"
#include "ui_tfcheck.h"

namespace varnok {

namespace {

enum Column { kColPoint, kColNominal, kColReference, kColMeasure, kColMean, kColMin, kColMax, kColStdev, kColError, kColReduced, kColVerdict, kColCount };

constexpr const char* kHeadings[kColCount] = {"точка, %", "номинал", "эталон", "", "среднее", "мин",
                                              "макс", "СКО", "погрешность", "приведённая, %", "вердикт"};

// The verdicts' colours as designed, made readable on the palette in force.
const QColor kFitColour(0x00, 0x80, 0x00);
const QColor kUnfitColour(0xc0, 0x00, 0x00);

// Values in the channel's unit, and errors in percent of the span, as the protocol prints them.
// The due date's edit at its minimum: no date given.
const QDate kNoDueDate(2000, 1, 1);

// A value that rounds to nothing is written 0, never -0.
QString value_text(double v) { return c_format("%.4f", std::fabs(v) < 0.00005 ? 0.0 : v); }
QString percent_text(double v) { return c_format("%.3f", std::fabs(v) < 0.0005 ? 0.0 : v); }
// A stored coefficient as short as it reads back the same float: 0,0025, not 0,0024999999.
QString coefficient_text(float v)
{
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed).ptr;
    return QString::fromLatin1(buf, int(end - buf)).replace(QLatin1Char('.'), QLocale().decimalPoint());
}

// A percentage of the scale as typed: no trailing zeros.
QString point_text(double percent) { return general_float(percent); }

// A number typed with the locale's comma or with a point.
std::optional<double> number_of(QString text)
{
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

QString channel_caption(int k, double percent)
{
    return QStringLiteral("%1 канал, %2 %").arg(k).arg(point_text(percent));
}

}  // namespace

TFcheck::TFcheck(ConsoleContext& ctx, ExchangeLog& log, StatusMessage status, QWidget* parent)
    : QWidget(parent, Qt::Window),
      ctx_(ctx),
      ui_(std::make_unique<Ui::TFcheck>()),
      report_(log, std::move(status)),
      waits_(ctx.pump),
      polling_(std::make_unique<Polling>(ctx.device, report_))
{
    ui_->setupUi(this);
    set_pauses(waits_);
    // Until the engineer gives it, the due date is "не задана" rather than a date nobody chose.
    ui_->DE_check_ref_due->setMinimumDate(kNoDueDate);
    ui_->DE_check_ref_due->setSpecialValueText(QStringLiteral("не задана"));
    ui_->DE_check_ref_due->setDate(kNoDueDate);
    connect(ui_->B_check_start, &QPushButton::clicked, this, &TFcheck::B_check_startClick);
    connect(ui_->B_check_protocol, &QPushButton::clicked, this, &TFcheck::B_check_protocolClick);
    connect(ui_->B_check_csv, &QPushButton::clicked, this, &TFcheck::B_check_csvClick);
    connect(ui_->B_check_history, &QPushButton::clicked, this, &TFcheck::B_check_historyClick);
    // Toggled, not clicked: a screen reader's toggle must switch the run shown as a click does.
    connect(ui_->RB_check_found, &QRadioButton::toggled, this, [this] { show_run(); });
    fill_summary();
}

TFcheck::~TFcheck() = default;

void TFcheck::set_pauses(Sleeper& sleeper)
{
    pauses_ = &sleeper;
    check_ = std::make_unique<AccuracyCheck>(ctx_.device, report_, *pauses_);
}

void TFcheck::open()
{
    // The settings file is read after the windows are made: what it remembers comes at the first opening.
    if (!defaults_loaded_) {
        defaults_loaded_ = true;
        load_defaults();
        // The designed size where the screen has room for it; the tables scroll on a smaller one.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            resize(size().boundedTo(screen->availableGeometry().size() - QSize(16, 48)));
    }
    show_unit();
    show();
    raise();
    activateWindow();
}

void TFcheck::load_defaults()
{
    const SettingsFile::CheckDefaults d = ctx_.settings.check_defaults();
    ui_->E_check_engineer->setText(QString::fromStdString(d.engineer));
    ui_->E_check_ref_name->setText(QString::fromStdString(d.reference_name));
    ui_->E_check_ref_number->setText(QString::fromStdString(d.reference_number));
    const QDate due = QDate::fromString(QString::fromStdString(d.reference_due), Qt::ISODate);
    if (due.isValid())
        ui_->DE_check_ref_due->setDate(due);
}

std::string TFcheck::due_date() const
{
    const QDate due = ui_->DE_check_ref_due->date();
    return due == kNoDueDate ? std::string() : due.toString(Qt::ISODate).toStdString();
}

void TFcheck::store_defaults()
{
    SettingsFile::CheckDefaults d;
    d.engineer = ui_->E_check_engineer->text().toStdString();
    d.reference_name = ui_->E_check_ref_name->text().toStdString();
    d.reference_number = ui_->E_check_ref_number->text().toStdString();
    d.reference_due = due_date();
    if (d == ctx_.settings.check_defaults())
        return;
    if (!ctx_.settings.set_check_defaults(d))
        report_.line(ctx_.settings.problem());
}

// The network number and the line from the link's settings, as the unit is reached now.
void TFcheck::show_unit()
{
    const LinkSettings& line = ctx_.link.settings();
    unit_.network_number = line.sys_num;
    unit_.line = unit_line(line, ctx_.link.last_path());
    ui_->E_check_sysnum->setText(QString::number(unit_.network_number));
    ui_->E_check_line->setText(QString::fromStdString(unit_.line));
}

// The unit's name and version as the device gives them; a failed read keeps what was read before.
bool TFcheck::read_unit()
{
    show_unit();
    bool ok = true;
    if (polling_->read_name())
        unit_.name = ctx_.device.tmp_text();
    else
        ok = false;
    if (polling_->read_version())
        unit_.version = ctx_.device.tmp_text();
    else
        ok = false;
    ui_->E_check_name->setText(QString::fromStdString(unit_.name));
    ui_->E_check_version->setText(QString::fromStdString(unit_.version));
    return ok;
}

std::optional<CheckPlan> TFcheck::plan_from_controls()
{
    CheckPlan plan;
    const std::optional<double> tolerance = number_of(ui_->E_check_tolerance->text());
    if (!tolerance) {
        MessageBox::show(this, QStringLiteral("допуск не число: ") + ui_->E_check_tolerance->text());
        return std::nullopt;
    }
    plan.tolerance = *tolerance;
    plan.points.clear();
    static const QRegularExpression separators(QStringLiteral("[;\\s]+"));
    for (const QString& part : ui_->E_check_points->text().split(separators, Qt::SkipEmptyParts)) {
        const std::optional<double> p = number_of(part);
        if (!p) {
            MessageBox::show(this, QStringLiteral("точка проверки не число: ") + part);
            return std::nullopt;
        }
        plan.points.push_back(*p);
    }
    plan.samples = unsigned(ui_->SE_check_samples->value());
    plan.channels.clear();
    const std::array<QCheckBox*, 3> chosen = {ui_->ChB_check_ch1, ui_->ChB_check_ch2, ui_->ChB_check_ch3};
    for (int k = 1; k <= 3; ++k)
        if (chosen[size_t(k - 1)]->isChecked())
            plan.channels.push_back(k);
    if (const std::string fault = plan_fault(plan); !fault.empty()) {
        MessageBox::show(this, QString::fromStdString(fault));
        return std::nullopt;
    }
    return plan;
}

record::CheckKind TFcheck::kind() const
{
    return ui_->RB_check_found->isChecked() ? record::CheckKind::AsFound : record::CheckKind::AsLeft;
}

void TFcheck::B_check_startClick()
{
    if (measuring_)
        return;
    const std::optional<CheckPlan> plan = plan_from_controls();
    if (!plan)
        return;
    // A check is kept for its record: without a store it is not started.
    if (!open_history())
        return;
    const QDate due = ui_->DE_check_ref_due->date();
    if (due != kNoDueDate && due < QDate::currentDate() &&
        !MessageBox::confirm(this,
                             QStringLiteral("срок поверки эталона истёк ") +
                                 QLocale().toString(due, QLocale::ShortFormat) +
                                 QStringLiteral("; всё равно начать проверку?"),
                             QStringLiteral("результаты по эталону с истёкшей поверкой недостоверны")))
        return;
    const bool found = kind() == record::CheckKind::AsFound;
    const std::optional<record::CheckRun>& kept = run_of(kind());
    const auto any_measured = [](const record::CheckRun& run) {
        for (const record::ChannelCheck& c : run.channels)
            for (const record::CheckPoint& p : c.points)
                if (!p.readings.empty() || !p.failure.empty())
                    return true;
        return false;
    };
    if (kept && any_measured(*kept) &&
        !MessageBox::confirm(this, found ? QStringLiteral("проверка до калибровки уже проведена; начать её заново?")
                                         : QStringLiteral("проверка после калибровки уже проведена; начать её заново?")))
        return;
    store_defaults();

    Busy busy(ctx_.busy);
    measuring_ = true;
    read_unit();
    // The writes of the calibration that follows name the unit by the number typed here.
    ctx_.written.name_unit(unit().factory_number);
    std::string failure;
    record::CheckRun run = check_->begin(*plan, kind(), failure);
    measuring_ = false;
    if (!failure.empty()) {
        MessageBox::show(this, QString::fromStdString(failure));
        return;
    }
    run_of(kind()) = std::move(run);
    stored_.reset();
    show_run();
}

record::History* TFcheck::open_history()
{
    const int told = ctx_.history_told;
    record::RecordKeeper& keeper = ctx_.history();
    if (record::History* h = keeper.history())
        return h;
    if (ctx_.history_told == told)  // the notice has not just said it
        MessageBox::show(this, QString::fromStdString(keeper.last_error()));
    return nullptr;
}

void TFcheck::store_if_complete(const record::CheckRun& run)
{
    for (const record::ChannelCheck& c : run.channels)
        for (const record::CheckPoint& p : c.points)
            if (!p.measured())
                return;
    const record::Protocol p = protocol();
    const record::CheckHeader header{p.unit, p.engineer, p.reference};
    // An as-left run carries the as-found run it continues, as one protocol holds both.
    const record::CheckRun* found = run.kind == record::CheckKind::AsLeft && found_ ? &*found_ : nullptr;
    record::HistoryRecord r;
    r.time = p.issued;
    r.unit = p.unit;
    r.kind = record::kKindCheck;
    r.what = std::string(run.kind == record::CheckKind::AsFound ? "проверка до калибровки" : "проверка после калибровки") +
             ": " + (run.fit() ? record::kFit : record::kUnfit);
    r.protocol_number = p.number;
    r.document = record::check_document(header, run, found);
    record::RecordKeeper& keeper = ctx_.history();
    // Kept in memory when the store cannot take it now, and written with the next record.
    stored_.emplace(p.number, p.issued);
    if (keeper.append(r))
        report_.line("протокол " + p.number + " записан в историю");
    else
        report_.line("протокол " + p.number + " пока не записан в историю: " + keeper.last_error());
    if (history_window_ && history_window_->isVisible())
        history_window_->refresh();
}

record::Unit TFcheck::unit() const
{
    record::Unit u = unit_;
    u.factory_number = ui_->E_check_factory->text().trimmed().toStdString();
    return u;
}

void TFcheck::B_check_historyClick()
{
    show_unit();
    if (!history_window_)
        history_window_ = new TFhistory(ctx_, this);
    history_window_->open(unit());
}

record::CheckRun* TFcheck::shown_run()
{
    std::optional<record::CheckRun>& run = run_of(kind());
    return run ? &*run : nullptr;
}

record::ChannelCheck* TFcheck::shown_channel(int k)
{
    record::CheckRun* run = shown_run();
    if (!run)
        return nullptr;
    for (record::ChannelCheck& c : run->channels)
        if (c.channel == k)
            return &c;
    return nullptr;
}

void TFcheck::clear_tables()
{
    for (Table& t : tables_) {
        delete t.box;
        t = Table{};
    }
    // And the stretch beneath them.
    QLayout* layout = ui_->W_check_tables->layout();
    while (QLayoutItem* item = layout->takeAt(0))
        delete item;
}

void TFcheck::show_run()
{
    clear_tables();
    if (const record::CheckRun* run = shown_run()) {
        auto* layout = static_cast<QVBoxLayout*>(ui_->W_check_tables->layout());
        for (const record::ChannelCheck& c : run->channels) {
            layout->addWidget(channel_box(c));
            fill_verdict(c.channel);
        }
        // The tables stay together at the top, however tall the window.
        layout->addStretch(1);
    }
    fill_summary();
}

// A channel's group: its scale and constants in the title, its table, its verdict beneath.
QGroupBox* TFcheck::channel_box(const record::ChannelCheck& c)
{
    const int k = c.channel;
    Table& t = tables_[size_t(k)];
    t.box = new QGroupBox(ui_->W_check_tables);
    t.box->setObjectName(QStringLiteral("GB_check_ch%1").arg(k));
    const QString unit = QString::fromStdString(c.unit);
    QString title = QStringLiteral("%1 канал: шкала %2 %3").arg(k).arg(general_float(c.full_scale), unit);
    if (c.constants.read)
        title += QStringLiteral(", ноль %1, коэффициент %2")
                     .arg(c.constants.zero)
                     .arg(coefficient_text(c.constants.coefficient));
    t.box->setTitle(title);
    auto* box_layout = new QVBoxLayout(t.box);
    box_layout->addWidget(channel_table(c));
    t.verdict = new QLabel(t.box);
    t.verdict->setObjectName(QStringLiteral("L_check_verdict%1").arg(k));
    t.verdict->setAccessibleName(QStringLiteral("%1 канал: вердикт").arg(k));
    QFont bold = t.verdict->font();
    bold.setBold(true);
    t.verdict->setFont(bold);
    t.verdict->setWordWrap(true);
    box_layout->addWidget(t.verdict);
    return t.box;
}

// A channel's table: a row per point with its reference field and its button.
QTableWidget* TFcheck::channel_table(const record::ChannelCheck& c)
{
    const int k = c.channel;
    Table& t = tables_[size_t(k)];
    const QString unit = QString::fromStdString(c.unit);
    t.table = new QTableWidget(int(c.points.size()), kColCount, t.box);
    t.table->setObjectName(QStringLiteral("TW_check_ch%1").arg(k));
    t.table->setAccessibleName(QStringLiteral("%1 канал: таблица проверки").arg(k));
    t.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t.table->verticalHeader()->hide();
    QStringList headings;
    for (const char* h : kHeadings)
        headings << QString::fromUtf8(h);
    headings[kColNominal] += QStringLiteral(", ") + unit;
    headings[kColReference] += QStringLiteral(", ") + unit;
    t.table->setHorizontalHeaderLabels(headings);
    for (int row = 0; row < int(c.points.size()); ++row) {
        const QString caption = channel_caption(k, c.points[size_t(row)].percent);
        auto* ref = new QLineEdit(t.table);
        ref->setObjectName(QStringLiteral("E_check_ref%1_%2").arg(k).arg(row + 1));
        ref->setAccessibleName(caption + QStringLiteral(": эталон"));
        ref->setToolTip(QStringLiteral("что показывает эталон; по умолчанию номинал"));
        ref->setFrame(false);
        ref->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* measure = new QPushButton(QStringLiteral("измерить"), t.table);
        measure->setObjectName(QStringLiteral("B_check_measure%1_%2").arg(k).arg(row + 1));
        measure->setAccessibleName(caption + QStringLiteral(": измерить"));
        measure->setToolTip(QStringLiteral("подайте сигнал точки и измерьте"));
        connect(measure, &QPushButton::clicked, this, [this, k, row] { B_check_measureClick(k, row); });
        t.table->setCellWidget(row, kColReference, ref);
        t.table->setCellWidget(row, kColMeasure, measure);
        t.reference.push_back(ref);
        t.measure.push_back(measure);
        fill_row(k, row);
    }
    size_table(t.table, c.full_scale);
    return t.table;
}

// Columns wide enough for the results that come later, and the table as tall as its rows.
void TFcheck::size_table(QTableWidget* table, double full_scale)
{
    table->setWordWrap(false);
    table->resizeColumnsToContents();
    // Room for a value of the scale with its decimals.
    const int room = table->fontMetrics().horizontalAdvance(value_text(-std::fabs(full_scale) * 1.1)) + 16;
    for (int column : {kColMean, kColMin, kColMax, kColStdev, kColError})
        table->setColumnWidth(column, std::max(table->columnWidth(column), room));
    table->setColumnWidth(kColReference, std::max(table->columnWidth(kColReference), 90));
    table->setColumnWidth(kColVerdict, std::max(table->columnWidth(kColVerdict), 110));
    table->horizontalHeader()->setStretchLastSection(true);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    int height = table->horizontalHeader()->height() + 2 * table->frameWidth();
    for (int row = 0; row < table->rowCount(); ++row)
        height += table->rowHeight(row);
    table->setFixedHeight(height);
}

// One point's row: the reference as it will be measured against, the results once measured.
void TFcheck::fill_row(int k, int row, bool with_reference)
{
    const record::ChannelCheck* c = shown_channel(k);
    Table& t = tables_[size_t(k)];
    if (!c || !t.table || row >= int(c->points.size()))
        return;
    const record::CheckPoint& p = c->points[size_t(row)];
    auto set = [&](int column, const QString& text, const QColor& colour = {}) {
        auto* item = new QTableWidgetItem(text);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (colour.isValid())
            // The window's palette: the tables take a new one only after the window.
            item->setForeground(readable_on(colour, palette().color(QPalette::Base)));
        t.table->setItem(row, column, item);
    };
    set(kColPoint, point_text(p.percent));
    set(kColNominal, value_text(p.nominal));
    if (with_reference)
        t.reference[size_t(row)]->setText(value_text(p.reference));
    const bool done = p.measured();
    for (int column : {kColMean, kColMin, kColMax, kColStdev, kColError, kColReduced, kColVerdict})
        set(column, QString());
    if (done) {
        set(kColMean, value_text(p.mean));
        set(kColMin, value_text(p.min));
        set(kColMax, value_text(p.max));
        set(kColStdev, value_text(p.stdev));
        set(kColError, value_text(p.error));
        set(kColReduced, percent_text(p.reduced_error));
    }
    if (done || !p.failure.empty()) {
        set(kColVerdict, QString::fromUtf8(p.fit ? record::kFit : record::kUnfit), p.fit ? kFitColour : kUnfitColour);
        t.table->item(row, kColVerdict)->setTextAlignment(Qt::AlignCenter);
        if (!p.failure.empty())
            t.table->item(row, kColVerdict)->setToolTip(QString::fromStdString(p.failure));
    }
}

// The channel's verdict in words and colour once every point is measured; a failed point is
// named with its reason at once.
void TFcheck::fill_verdict(int k)
{
    const record::ChannelCheck* c = shown_channel(k);
    QLabel* label = tables_[size_t(k)].verdict;
    if (!c || !label)
        return;
    QStringList failures;
    bool all_done = true, any_done = false, any_unfit = false;
    for (const record::CheckPoint& p : c->points) {
        if (!p.failure.empty())
            failures << QStringLiteral("%1 %: %2").arg(point_text(p.percent), QString::fromStdString(p.failure));
        const bool done = p.measured() || !p.failure.empty();
        all_done = all_done && done;
        any_done = any_done || done;
        any_unfit = any_unfit || (done && !p.fit);
    }
    // A verdict once every point is in, or as soon as one point is out of tolerance or failed.
    QString text;
    QColor colour;
    if (!any_done) {
        text = QStringLiteral("%1 канал: не измерен").arg(k);
    } else if (all_done || any_unfit) {
        text = QStringLiteral("%1 канал: %2").arg(k).arg(QString::fromUtf8(c->verdict()));
        colour = c->fit ? kFitColour : kUnfitColour;
        if (!all_done)
            text += QStringLiteral(" (измерены не все точки)");
    } else {
        text = QStringLiteral("%1 канал: измерены не все точки").arg(k);
    }
    if (!failures.isEmpty())
        text += QStringLiteral("; ") + failures.join(QStringLiteral("; "));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour.isValid() ? colour : palette().color(QPalette::WindowText));
    label->setPalette(p);
    label->setText(text);
}

// Both runs in a line: what the protocol will hold.
void TFcheck::fill_summary()
{
    auto of = [](const std::optional<record::CheckRun>& run) {
        return run ? QString::fromUtf8(run->fit() ? record::kFit : record::kUnfit) + QStringLiteral(" (") +
                         QString::fromStdString(run->started) + QStringLiteral(")")
                   : QStringLiteral("не проведена");
    };
    ui_->L_check_summary->setText(QStringLiteral("до калибровки: ") + of(found_) +
                                  QStringLiteral("; после калибровки: ") + of(left_));
    ui_->B_check_protocol->setEnabled(found_ || left_);
    ui_->B_check_csv->setEnabled(found_ || left_);
}

void TFcheck::B_check_measureClick(int k, int row)
{
    if (measuring_)
        return;
    record::CheckRun* run = shown_run();
    record::ChannelCheck* c = shown_channel(k);
    if (!run || !c || row < 0 || row >= int(c->points.size()))
        return;
    record::CheckPoint& p = c->points[size_t(row)];
    QLineEdit* ref = tables_[size_t(k)].reference[size_t(row)];
    const std::optional<double> reference = number_of(ref->text());
    if (!reference) {
        MessageBox::show(this, channel_caption(k, p.percent) + QStringLiteral(": эталон не число: ") + ref->text());
        return;
    }
    p.reference = *reference;
    Busy busy(ctx_.busy);
    measuring_ = true;
    report_.status(QStringLiteral("%1: измерение").arg(channel_caption(k, p.percent)).toStdString());
    check_->measure(*c, p, run->tolerance);
    measuring_ = false;
    stored_.reset();
    report_.status(std::string());
    fill_row(k, row);
    fill_verdict(k);
    fill_summary();
    store_if_complete(*run);
}

record::Protocol TFcheck::protocol() const
{
    record::Protocol p;
    p.unit = unit();
    // The stored check's number while it still names this unit (its factory number not retyped).
    if (stored_ && record::protocol_number(p.unit, stored_->second) == stored_->first) {
        p.number = stored_->first;
        p.issued = stored_->second;
    } else {
        p.issued = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
        p.number = record::protocol_number(p.unit, p.issued);
    }
    p.engineer = ui_->E_check_engineer->text().trimmed().toStdString();
    p.reference.name = ui_->E_check_ref_name->text().trimmed().toStdString();
    p.reference.number = ui_->E_check_ref_number->text().trimmed().toStdString();
    p.reference.due_date = due_date();
    p.as_found = found_;
    p.as_left = left_;
    p.tolerance = left_ ? left_->tolerance : found_ ? found_->tolerance : p.tolerance;
    return p;
}

void TFcheck::B_check_protocolClick() { save(true); }

void TFcheck::B_check_csvClick() { save(false); }

void TFcheck::save(bool pdf)
{
    if (!found_ && !left_)
        return;
    store_defaults();
    const record::Protocol p = protocol();
    const QString suggested = QStringLiteral("протокол-") + QString::fromStdString(p.number) +
                              (pdf ? QStringLiteral(".pdf") : QStringLiteral(".csv"));
    const QString path = choose_file(this, pdf ? QStringLiteral("протокол проверки в PDF")
                                               : QStringLiteral("протокол проверки в CSV"),
                                     suggested, pdf ? QStringLiteral("PDF (*.pdf)") : QStringLiteral("CSV (*.csv)"),
                                     true);
    if (path.isEmpty())
        return;
    const std::string target = path.toStdString();
    std::string reason;
    // Never a device, a FIFO, a folder or another user's file in the protocol's place.
    if (file_io::check_target(target, reason)) {
        if (pdf) {
            reason = record::write_protocol_pdf(p, target);
        } else {
            file_io::Stamp stamp;
            if (file_io::replace(target, record::protocol_csv(p), stamp, reason))
                reason.clear();
        }
    }
    if (!reason.empty()) {
        MessageBox::show(this, QStringLiteral("протокол не записан"), QString::fromStdString(reason));
        return;
    }
    report_.line((QStringLiteral("протокол ") + QString::fromStdString(p.number) + QStringLiteral(" записан в ") + path)
                     .toStdString());
}

void TFcheck::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The verdicts' colours follow the palette in force.
    if (event->type() == QEvent::PaletteChange && !measuring_)
        for (int k = 1; k <= 3; ++k)
            if (tables_[size_t(k)].table)
                for (int row = 0; row < tables_[size_t(k)].table->rowCount(); ++row)
                    fill_row(k, row, false);  // what is typed in the references stays
}

}  // namespace varnok
