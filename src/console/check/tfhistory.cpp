#include "console/check/tfhistory.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "console/console_context.h"
#include "console/value_text.h"

namespace varnok {

namespace {

constexpr const char* kRecordHeadings[] = {"время", "пользователь", "вид", "что", "было", "стало", "протокол"};
constexpr const char* kDriftHeadings[] = {"канал", "точка, %", "прошлая, после калибровки", "эта, до калибровки",
                                          "дрейф", "дрейф, % шкалы"};

QString text_of(const std::string& s) { return QString::fromStdString(s); }

// Values in the channel's unit and drifts in percent of the span, as the check window shows them.
QString value_text(double v) { return c_format("%.4f", std::fabs(v) < 0.00005 ? 0.0 : v); }
QString percent_text(double v) { return c_format("%.3f", std::fabs(v) < 0.0005 ? 0.0 : v); }

// A mean of a point, or why there is none.
QString mean_text(bool listed, const std::optional<double>& mean)
{
    if (!listed)
        return QStringLiteral("нет точки");
    return mean ? value_text(*mean) : QStringLiteral("не измерена");
}

// A cell whose text a screen reader gets with its row's caption and its column.
QTableWidgetItem* cell(const QString& text, const QString& caption, bool right = false)
{
    auto* item = new QTableWidgetItem(text);
    item->setData(Qt::AccessibleDescriptionRole, caption);
    if (right)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// A line of text the engineer and a screen reader can select and read.
QLabel* text_line(QWidget* parent, const char* name, const QString& accessible)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAccessibleName(accessible);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

QTableWidget* table_of(QWidget* parent, const char* name, const QString& accessible, const QStringList& headings)
{
    auto* t = new QTableWidget(0, int(headings.size()), parent);
    t->setObjectName(QLatin1String(name));
    t->setAccessibleName(accessible);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setWordWrap(false);
    t->verticalHeader()->hide();
    t->setHorizontalHeaderLabels(headings);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

// Columns as wide as their cells and their heading.
void fit_columns(QTableWidget* t)
{
    t->resizeColumnsToContents();
    const QFontMetrics metrics(t->horizontalHeader()->font());
    for (int column = 0; column < t->columnCount(); ++column)
        if (const QTableWidgetItem* h = t->horizontalHeaderItem(column))
            t->setColumnWidth(column, std::max(t->columnWidth(column), metrics.horizontalAdvance(h->text()) + 24));
}

QStringList headings_of(const char* const* begin, const char* const* end)
{
    QStringList out;
    for (auto it = begin; it != end; ++it)
        out << QString::fromUtf8(*it);
    return out;
}

QString unit_text(const record::Unit& u)
{
    QString text = u.factory_number.empty() ? QStringLiteral("прибор без заводского номера")
                                            : QStringLiteral("заводской номер ") + text_of(u.factory_number);
    text += QStringLiteral(", сетевой номер %1").arg(u.network_number);
    if (!u.line.empty())
        text += QStringLiteral(", линия ") + text_of(u.line);
    return text;
}

}  // namespace

TFhistory::TFhistory(ConsoleContext& ctx, QWidget* parent) : QWidget(parent, Qt::Window), ctx_(ctx)
{
    setObjectName(QStringLiteral("TFhistory"));
    setWindowTitle(QStringLiteral("история прибора"));
    setAccessibleName(QStringLiteral("история прибора"));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    unit_label_ = new QLabel(this);
    unit_label_->setObjectName(QStringLiteral("L_history_unit"));
    unit_label_->setAccessibleName(QStringLiteral("история: прибор"));
    unit_label_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    top->addWidget(unit_label_, 1);
    refresh_ = new QPushButton(QStringLiteral("обновить"), this);
    refresh_->setObjectName(QStringLiteral("B_history_refresh"));
    refresh_->setAccessibleName(QStringLiteral("история: обновить"));
    refresh_->setToolTip(QStringLiteral("прочитать историю заново"));
    connect(refresh_, &QPushButton::clicked, this, &TFhistory::refresh);
    top->addWidget(refresh_);
    layout->addLayout(top);

    state_ = text_line(this, "L_history_state", QStringLiteral("история: состояние"));
    layout->addWidget(state_);

    records_ = table_of(this, "TW_history_records", QStringLiteral("история: записи, новые первыми"),
                        headings_of(std::begin(kRecordHeadings), std::end(kRecordHeadings)));
    layout->addWidget(records_, 3);

    drift_label_ = text_line(this, "L_history_drift", QStringLiteral("история: дрейф"));
    layout->addWidget(drift_label_);
    drift_ = table_of(this, "TW_history_drift", QStringLiteral("история: дрейф каналов по точкам"),
                      headings_of(std::begin(kDriftHeadings), std::end(kDriftHeadings)));
    layout->addWidget(drift_, 2);
    resize(960, 600);
}

void TFhistory::open(const record::Unit& unit)
{
    unit_ = unit;
    refresh();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(size().boundedTo(screen->availableGeometry().size() - QSize(16, 48)));
    show();
    raise();
    activateWindow();
}

void TFhistory::refresh()
{
    unit_label_->setText(unit_text(unit_));
    std::vector<record::HistoryRecord> records;
    std::string error;
    record::RecordKeeper& keeper = ctx_.history();
    record::History* h = keeper.history();
    if (!h)
        error = keeper.last_error();
    else if (h->list(record::unit_query(unit_), records, error))
        error.clear();
    // The network number asked is not enough where there is no factory number: the line too.
    std::erase_if(records, [this](const record::HistoryRecord& r) { return !record::same_unit(unit_, r.unit); });
    if (!error.empty()) {
        records.clear();
        state_->setText(text_of(error));
    } else {
        state_->setText(records.empty() ? QStringLiteral("в истории %1 записей этого прибора нет").arg(text_of(h->path()))
                                        : QStringLiteral("записей: %1, история %2")
                                              .arg(records.size())
                                              .arg(text_of(h->path())));
    }
    fill_records(records);
    std::string why;
    const std::optional<record::UnitDrift> drift = error.empty() ? record::unit_drift(records, unit_, why) : std::nullopt;
    fill_drift(drift, error.empty() ? why : std::string());
}

void TFhistory::fill_records(const std::vector<record::HistoryRecord>& records)
{
    records_->setRowCount(int(records.size()));
    for (int row = 0; row < int(records.size()); ++row) {
        const record::HistoryRecord& r = records[size_t(row)];
        const std::string* fields[] = {&r.time, &r.user, &r.kind, &r.what, &r.old_value, &r.new_value, &r.protocol_number};
        for (int column = 0; column < int(std::size(fields)); ++column)
            records_->setItem(row, column,
                              cell(text_of(*fields[column]), QStringLiteral("запись %1: %2")
                                                                 .arg(r.id)
                                                                 .arg(QString::fromUtf8(kRecordHeadings[column]))));
    }
    fit_columns(records_);
    // What was done takes the room left.
    records_->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
}

void TFhistory::fill_drift(const std::optional<record::UnitDrift>& drift, const std::string& why)
{
    drift_->setRowCount(0);
    if (!drift) {
        drift_label_->setText(why.empty() ? QString() : QStringLiteral("дрейф: ") + text_of(why));
        return;
    }
    drift_label_->setText(QStringLiteral("дрейф: проверка до калибровки по протоколу %1 (%2) против проверки после "
                                         "калибровки по протоколу %3 (%4)")
                              .arg(text_of(drift->now.protocol_number), text_of(drift->now.time),
                                   text_of(drift->before.protocol_number), text_of(drift->before.time)));
    int row = 0;
    for (const record::ChannelDrift& c : drift->channels)
        for (const record::PointDrift& p : c.points) {
            drift_->setRowCount(row + 1);
            const QString caption = QStringLiteral("%1 канал, %2 %").arg(c.channel).arg(general_float(p.percent));
            const QString unit = c.unit.empty() ? QString() : QStringLiteral(" ") + text_of(c.unit);
            const QString values[] = {
                QString::number(c.channel),
                general_float(p.percent),
                mean_text(p.in_before, p.before) + (p.before ? unit : QString()),
                mean_text(p.in_now, p.now) + (p.now ? unit : QString()),
                p.difference ? value_text(*p.difference) + unit : QStringLiteral("нет пары"),
                p.of_span ? percent_text(*p.of_span) : p.difference ? QStringLiteral("нет шкалы") : QStringLiteral("нет пары"),
            };
            for (int column = 0; column < int(std::size(values)); ++column)
                drift_->setItem(row, column,
                                cell(values[column], caption + QStringLiteral(": ") + QString::fromUtf8(kDriftHeadings[column]),
                                     column > 0));
            ++row;
        }
    fit_columns(drift_);
    drift_->horizontalHeader()->setStretchLastSection(false);
}

}  // namespace varnok
