#include "console/params/params_page.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "console/busy.h"
#include "console/clickable.h"
#include "console/console_context.h"
#include "console/digit_filter.h"
#include "console/exchange_log.h"
#include "console/message_box.h"
#include "console/up_down.h"
#include "console/value_text.h"

namespace varnok {

namespace {

struct RowDesc {
    const char* caption;
    const char* cur;
    const char* read;
    const char* value;
    const char* write;
};

constexpr std::array<RowDesc, ParamsPage::kRows> kRowDesc = {{
    {"Скорость:", "Eint_cur_scor", "Bread_scor", "CBint_scor", "SBint_write_scor"},
    {"Паритет:", "Eint_cur_parity", "Bread_parity", "CBint_parity", "SBint_write_parity"},
    {"Стопбит:", "Eint_cur_stopbit", "Bread_stopbit", "CBint_stopbit", "SBint_write_stopbit"},
    {"Адрес:", "Eint_cur_sysnum", "Bread_sysnum", "Eint_sysnum", "SBint_write_sysnum"},
}};

// The lists' items, and what is added to a list position to make the code written.
const std::array<QStringList, 3> kRowItems = {
    QStringList{"4800", "9600", "19200", "38400", "57600", "115200"},
    QStringList{"нет", "нечет", "чет"},
    QStringList{"1", "2"},
};
constexpr std::array<int, 3> kCodeOffset = {1, 0, 1};

// Names that differ between the channels by more than the number.
struct ChannelNames {
    const char* GB_scl;
    const char* LE_scl_r;
    const char* GB_ust;
};
constexpr std::array<ChannelNames, 4> kChannelNames = {{
    {},
    {"GB_Scl_w1", "LE_Scl1_r", "GB_Ust_w1"},
    {"GB_scl_w2", "LE_scl2_r", "GB_ust_w2"},
    {"GB_scl_w3", "LE_scl3_r", "GB_ust_w3"},
}};

const std::array<QString, 5> kDigitNames = {QString(), QStringLiteral("единицы"), QStringLiteral("десятки"),
                                            QStringLiteral("сотни"), QStringLiteral("тысячи")};
const QStringList kUnits = {"нет", "В", "кВ", "мА", "А", "кА", "Гц"};
constexpr std::array<const char*, 2> kLimitNames = {"max", "min"};
constexpr std::array<const char*, 2> kLimitCaptions = {"Max", "Min"};

constexpr int kDigitWidth = 32;
constexpr int kDigitSpacing = 3;
constexpr int kEntryWidth = 4 * kDigitWidth + 3 * kDigitSpacing;
const QString kCurrentStyle =
    QStringLiteral("QLineEdit { background-color: #C0C0C0; color: blue; font-weight: bold; }");
const QString kScaleStyle = QStringLiteral("QLineEdit { background-color: #C0C0C0; }");
const QString kSetpointStyle = QStringLiteral("QLineEdit { background-color: #C8F0C8; }");

QPushButton* button(QWidget* parent, const QString& name, const QString& caption, const QString& spoken)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(spoken);
    // As wide as the caption needs, not the style's usual minimum.
    b->setFixedWidth(b->fontMetrics().horizontalAdvance(caption) + 20);
    return b;
}

QLineEdit* value_field(QWidget* parent, const QString& name, const QString& spoken, const QString& style, int width)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setAccessibleName(spoken);
    e->setReadOnly(true);
    e->setStyleSheet(style);
    e->setFixedWidth(width);
    return e;
}

QRadioButton* radio(QWidget* parent, const QString& name, const QString& caption, const QString& spoken)
{
    auto* r = new QRadioButton(caption, parent);
    r->setObjectName(name);
    r->setAccessibleName(spoken);
    return r;
}

// Checks the button of `id` in an exclusive group, or none when there is no such button.
void select(QButtonGroup* group, int id)
{
    if (QAbstractButton* b = group->button(id)) {
        b->setChecked(true);
        return;
    }
    if (QAbstractButton* checked = group->checkedButton()) {
        group->setExclusive(false);
        checked->setChecked(false);
        group->setExclusive(true);
    }
}

// The number of four digit boxes, thousands first; false (and `number` kept) when a box
// holds no digit.
bool entry_number(const std::array<QComboBox*, 5>& CI, uint16_t& number)
{
    int n = 0;
    for (int i = 4; i >= 1; --i) {
        bool ok = false;
        const int digit = CI[size_t(i)]->currentText().toInt(&ok);
        if (!ok)
            return false;
        n = n * 10 + digit;
    }
    number = static_cast<uint16_t>(n);
    return true;
}

}  // namespace

ParamsPage::ParamsPage(ConsoleContext& ctx, ExchangeLog& log, Shell shell, QWidget* parent)
    : QWidget(parent), ctx_(ctx), shell_(std::move(shell)), report_(log, shell_.status, &ctx.written),
      interface_(ctx.device, report_), scales_(ctx.device, report_), log_(log)
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(1);

    auto* top = new QHBoxLayout;
    top->addWidget(build_interface_group());
    top->addWidget(build_timeouts(), 1);
    grid->addLayout(top, 0, 0, 1, 4);
    for (int k = 1; k <= kChannels; ++k) {
        grid->addWidget(build_scale_group(k), 1, k - 1);
        grid->addWidget(build_setpoint_group(k), 2, k - 1);
    }
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(3, 1);
    connect_controls();
}

ParamsPage::~ParamsPage() = default;

QWidget* ParamsPage::build_interface_group()
{
    auto* group = new QGroupBox(QStringLiteral("параметры интерфейса"), this);
    group->setObjectName(QStringLiteral("GB_int_pars"));
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setHorizontalSpacing(4);
    grid->setColumnMinimumWidth(5, 10);
    for (int r = 0; r < kRows; ++r) {
        const RowDesc& d = kRowDesc[size_t(r)];
        const QString caption = QString::fromUtf8(d.caption);
        const int row = r / 2;
        const int col = (r % 2) * 6;
        RowControls& c = rows_[size_t(r)];
        auto* label = new QLabel(caption, group);
        c.cur =
            value_field(group, QLatin1String(d.cur), caption + QStringLiteral(" текущее значение"), kCurrentStyle, 60);
        c.read = button(group, QLatin1String(d.read), QStringLiteral("читать"), caption + QStringLiteral(" читать"));
        c.write =
            button(group, QLatin1String(d.write), QStringLiteral("изменить"), caption + QStringLiteral(" изменить"));
        QWidget* value = nullptr;
        if (r == kRowSysnum) {
            auto* box = new QWidget(group);
            auto* h = new QHBoxLayout(box);
            h->setContentsMargins(0, 0, 0, 0);
            h->setSpacing(0);
            Eint_sysnum_ = new QLineEdit(QStringLiteral("1"), box);
            Eint_sysnum_->setObjectName(QLatin1String(d.value));
            Eint_sysnum_->setAccessibleName(caption + QStringLiteral(" новое значение"));
            DigitFilter::install(Eint_sysnum_);
            UpDown_int_adr_ = new UpDown(box);
            UpDown_int_adr_->setObjectName(QStringLiteral("UpDown_int_adr"));
            UpDown_int_adr_->setAccessibleName(caption + QStringLiteral(" больше/меньше"));
            UpDown_int_adr_->setAssociate(Eint_sysnum_);
            UpDown_int_adr_->setRange(1, 247);
            UpDown_int_adr_->setPosition(1);
            UpDown_int_adr_->setFixedSize(18, 26);
            h->addWidget(Eint_sysnum_);
            h->addWidget(UpDown_int_adr_);
            value = box;
        } else {
            c.list = new QComboBox(group);
            c.list->setObjectName(QLatin1String(d.value));
            c.list->setAccessibleName(caption + QStringLiteral(" новое значение"));
            c.list->addItems(kRowItems[size_t(r)]);
            value = c.list;
        }
        value->setFixedWidth(78);
        label->setBuddy(r == kRowSysnum ? static_cast<QWidget*>(Eint_sysnum_) : value);
        grid->addWidget(label, row, col);
        grid->addWidget(c.cur, row, col + 1);
        grid->addWidget(c.read, row, col + 2);
        grid->addWidget(value, row, col + 3);
        grid->addWidget(c.write, row, col + 4);
    }
    return group;
}

QWidget* ParamsPage::build_timeouts()
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 4, 0, 0);
    grid->setVerticalSpacing(2);
    const std::array<std::pair<QLineEdit**, const char*>, 3> rows = {{
        {&Enastr_tout_bytes_, "Enastr_tout_bytes"},
        {&Enastr_tout_before_, "Enastr_tout_before"},
        {&Enastr_tout_after_, "Enastr_tout_after"},
    }};
    const std::array<QString, 3> captions = {QStringLiteral("допустимая пауза между байтами в пакете, мс "),
                                             QStringLiteral("пауза перед пакетом, мс"),
                                             QStringLiteral("пауза после пакета, мс")};
    for (int i = 0; i < 3; ++i) {
        QLineEdit* e =
            value_field(box, QLatin1String(rows[size_t(i)].second), captions[size_t(i)].trimmed(), QString(), 36);
        e->setText(QStringLiteral("0"));
        *rows[size_t(i)].first = e;
        auto* label = new QLabel(captions[size_t(i)], box);
        label->setStyleSheet(QStringLiteral("QLabel { color: gray; }"));
        label->setWordWrap(true);
        label->setMinimumWidth(140);
        label->setMaximumWidth(340);
        label->setBuddy(e);
        grid->addWidget(e, i, 0, Qt::AlignTop);
        grid->addWidget(label, i, 1);
    }
    grid->setRowStretch(3, 1);
    return box;
}

QWidget* ParamsPage::build_entry(DigitEntry& entry, const QString& digits_name, const QString& dt_name,
                                 const QString& write_name, const QString& spoken)
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(kDigitSpacing);
    grid->setVerticalSpacing(0);
    entry.dt = new QButtonGroup(box);
    entry.dt->setObjectName(dt_name);
    for (int i = 4; i >= 1; --i) {
        auto* cb = new QComboBox(box);
        cb->setObjectName(digits_name + QString::number(i));
        cb->setAccessibleName(spoken + QLatin1Char(' ') + kDigitNames[size_t(i)]);
        cb->setEditable(true);
        cb->setInsertPolicy(QComboBox::NoInsert);
        cb->setMaxVisibleItems(10);
        for (int digit = 0; digit <= 9; ++digit)
            cb->addItem(QString::number(digit));
        cb->lineEdit()->setMaxLength(1);
        DigitFilter::install(cb->lineEdit());
        cb->setFixedWidth(kDigitWidth);
        // One digit and the arrow: the style's padding would leave no room for the digit.
        cb->setStyleSheet(QStringLiteral("QComboBox { padding-left: 4px; } QComboBox::drop-down { width: 14px; }"));
        entry.CI[size_t(i)] = cb;
        grid->addWidget(cb, 0, 4 - i);
    }
    // Position p puts the point after digit p + 1, counted from the thousands.
    for (int p = 0; p < 4; ++p) {
        QRadioButton* r = radio(box, dt_name + QLatin1Char('_') + QString::number(p), QString(),
                                spoken + QStringLiteral(" точка ") + QString::fromUtf8(txt_decpos[size_t(p)]));
        r->setFixedHeight(16);
        entry.dt->addButton(r, p);
        grid->addWidget(r, 1, p, Qt::AlignHCenter);
    }
    entry.write = button(this, write_name, QStringLiteral("изменить"), spoken + QStringLiteral(" изменить"));
    return box;
}

QWidget* ParamsPage::build_scale_group(int k)
{
    const ChannelNames& names = kChannelNames[size_t(k)];
    const QString n = QString::number(k);
    auto* group = new QGroupBox(n + QStringLiteral(" канал:  ШКАЛА"), this);
    group->setObjectName(QLatin1String(names.GB_scl));
    const QString spoken = n + QStringLiteral(" канал ШКАЛА:");
    ScaleControls& c = scl_[size_t(k)];
    c.read =
        button(group, QStringLiteral("B_read_scl") + n, QStringLiteral("читать"), spoken + QStringLiteral(" читать"));
    c.value = value_field(group, QLatin1String(names.LE_scl_r), spoken + QStringLiteral(" значение"), kScaleStyle, 70);
    c.unit = new QLabel(group);
    c.unit->setObjectName(QLatin1String(names.LE_scl_r) + QStringLiteral("_label"));
    c.unit->setMinimumWidth(22);
    QWidget* digits = build_entry(c.entry, QStringLiteral("CB_scl%1CI").arg(k), QStringLiteral("RG_scl%1dt_w").arg(k),
                                  QStringLiteral("SB_write_scl") + n, spoken);

    auto* units = new QGroupBox(group);
    auto* column = new QVBoxLayout(units);
    column->setContentsMargins(6, 2, 6, 2);
    column->setSpacing(0);
    c.mes = new QButtonGroup(units);
    c.mes->setObjectName(QStringLiteral("RG_scl%1mes_w").arg(k));
    for (int u = 0; u < kUnits.size(); ++u) {
        QRadioButton* r = radio(units, QStringLiteral("RG_scl%1mes_w_%2").arg(k).arg(u), kUnits[u],
                                spoken + QStringLiteral(" единица ") + kUnits[u]);
        r->setFixedHeight(16);
        c.mes->addButton(r, u);
        column->addWidget(r);
    }

    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(3);
    grid->addWidget(c.read, 0, 0);
    grid->addWidget(c.value, 0, 1);
    grid->addWidget(c.unit, 0, 2);
    grid->addWidget(digits, 1, 0, 1, 3, Qt::AlignLeft);
    grid->addWidget(c.entry.write, 2, 0);
    grid->addWidget(units, 0, 3, 4, 1);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(2, 1);
    return group;
}

QWidget* ParamsPage::build_setpoint_group(int k)
{
    const QString n = QString::number(k);
    auto* group = new QGroupBox(n + QStringLiteral(" канал:  УСТАВКИ"), this);
    group->setObjectName(QLatin1String(kChannelNames[size_t(k)].GB_ust));
    const QString spoken = n + QStringLiteral(" канал УСТАВКИ");
    SetpointControls& c = ust_[size_t(k)];
    c.read =
        button(group, QStringLiteral("B_read_ust") + n, QStringLiteral("читать"), spoken + QStringLiteral(": читать"));

    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(2);
    grid->addWidget(new QLabel(QStringLiteral("Max"), group), 0, 0);
    grid->addWidget(c.read, 0, 1, Qt::AlignRight);
    for (int l = kMax; l <= kMin; ++l) {
        const QString limit = QLatin1String(kLimitNames[size_t(l)]);
        const QString lspoken = spoken + QLatin1Char(' ') + QLatin1String(kLimitCaptions[size_t(l)]) + QLatin1Char(':');
        c.value[size_t(l)] = value_field(group, QStringLiteral("LE_ust%1%2_r").arg(k).arg(limit),
                                         lspoken + QStringLiteral(" значение"), kSetpointStyle, kEntryWidth);
        QWidget* digits = build_entry(c.entry[size_t(l)], QStringLiteral("CB_ust%1%2CI").arg(k).arg(limit),
                                      QStringLiteral("RG_ust%1%2dt_w").arg(k).arg(limit),
                                      QStringLiteral("SB_write_ust%1%2").arg(k).arg(limit), lspoken);
        grid->addWidget(c.value[size_t(l)], 1, l);
        grid->addWidget(digits, 3, l);
        grid->addWidget(c.entry[size_t(l)].write, 4, l, Qt::AlignLeft);
    }
    grid->addWidget(new QLabel(QStringLiteral("Min"), group), 2, 1);
    Clickable::bind(c.value[kMax], [this, k] { LE_maxClick(k); });
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(2, 1);
    return group;
}

void ParamsPage::connect_controls()
{
    for (int r = 0; r < kRows; ++r) {
        const Row row = Row(r);
        connect(rows_[size_t(r)].read, &QPushButton::clicked, this, [this, row] { BreadClick(row); });
        connect(rows_[size_t(r)].write, &QPushButton::clicked, this, [this, row] { SBint_writeClick(row); });
    }
    connect(rows_[kRowScor].list, &QComboBox::currentIndexChanged, this, &ParamsPage::CBint_scorChange);
    connect(Eint_sysnum_, &QLineEdit::textChanged, this, &ParamsPage::Eint_sysnumChange);
    connect(UpDown_int_adr_, &UpDown::changingEx, this, &ParamsPage::UpDown_int_adrChangingEx);

    // A choice reacts to the change of selection, so a screen reader's toggle does what a click does.
    auto on_choice = [this](QButtonGroup* group, auto handler) {
        connect(group, &QButtonGroup::idToggled, this, [handler](int id, bool on) {
            if (on)
                handler(id);
        });
    };
    for (int k = 1; k <= kChannels; ++k) {
        ScaleControls& s = scl_[size_t(k)];
        connect(s.read, &QPushButton::clicked, this, [this, k] { B_read_sclClick(k); });
        connect(s.entry.write, &QPushButton::clicked, this, [this, k] { SB_write_sclClick(k); });
        for (int i = 1; i <= 4; ++i)
            connect(s.entry.CI[size_t(i)], &QComboBox::editTextChanged, this, [this, k] { CB_sclCI4Change(k); });
        on_choice(s.entry.dt, [this, k](int p) { RG_scldt_wClick(k, p); });
        on_choice(s.mes, [this, k](int u) { RG_sclmes_wClick(k, u); });

        SetpointControls& u = ust_[size_t(k)];
        connect(u.read, &QPushButton::clicked, this, [this, k] { B_read_ustClick(k); });
        for (int l = kMax; l <= kMin; ++l) {
            const Limit limit = Limit(l);
            DigitEntry& e = u.entry[size_t(l)];
            connect(e.write, &QPushButton::clicked, this, [this, k, limit] { SB_write_ustClick(k, limit); });
            for (int i = 1; i <= 4; ++i)
                connect(e.CI[size_t(i)], &QComboBox::editTextChanged, this,
                        [this, k, limit] { CB_ustCI4Change(k, limit); });
            on_choice(e.dt, [this, k, limit](int p) { RG_ustdt_wClick(k, limit, p); });
        }
    }
}

void ParamsPage::TabSheet2Show()
{
    shell_.status(QStringLiteral(" Здесь можем менять параметры ШКАЛЫ, УСТАВКИ и ИНТЕРФЕЙСА"));
    for (int k = 1; k <= kChannels; ++k)
        B_read_sclClick(k);
    for (int k = 1; k <= kChannels; ++k)
        B_read_ustClick(k);
    {
        const QSignalBlocker quiet(rows_[kRowScor].list);
        rows_[kRowScor].list->setCurrentIndex(new_scor - 1);
    }
    rows_[kRowParity].list->setCurrentIndex(new_parity);
    rows_[kRowStopbit].list->setCurrentIndex(new_stopbit - 1);
    Eint_sysnum_->setText(QString::number(new_sys_num));

    const LinkSettings& line = ctx_.link.settings();
    rows_[kRowParity].cur->setText(QString::number(line.parity));
    rows_[kRowStopbit].cur->setText(QString::number(line.stopbit));
    rows_[kRowScor].cur->setText(QString::number(line.num_scor < scor.size() ? scor[line.num_scor] : 0));
    rows_[kRowSysnum].cur->setText(QString::number(line.sys_num));
    show_timeouts(line.num_scor);
    log_.show_info();
}

void ParamsPage::show_timeouts(uint8_t code)
{
    // A code outside the table has the row of the slowest speed, as the link itself takes it.
    const size_t c = code < t_allow.size() ? code : 0;
    Enastr_tout_bytes_->setText(QString::number(t_allow[c]));
    Enastr_tout_before_->setText(QString::number(t_end_packet[c]));
    Enastr_tout_after_->setText(QString::number(t_after_response[c]));
}

void ParamsPage::show_current(Row row) { rows_[size_t(row)].cur->setText(QString::number(interface_.current(row))); }

void ParamsPage::BreadClick(Row row)
{
    Busy busy(ctx_.busy);
    if (interface_.read(row) == kOk)
        show_current(row);
}

void ParamsPage::SBint_writeClick(Row row)
{
    // The value to write; a network number outside 1..247 would leave the device at an
    // address the console cannot poll, so it is refused like text that is no number.
    int value = -1;
    if (row == kRowSysnum) {
        bool ok = false;
        const int n = Eint_sysnum_->text().toInt(&ok);
        if (ok && n >= kMinSysNum && n <= kMaxSysNum)
            value = n;
    } else if (const int index = rows_[size_t(row)].list->currentIndex(); index >= 0) {
        value = index + kCodeOffset[size_t(row)];
    }
    if (value < 0) {
        MessageBox::show(this, QStringLiteral("ошибка преобразования значения"));
        return;
    }
    uint8_t* const pending[kRows] = {&new_scor, &new_parity, &new_stopbit, &new_sys_num};
    *pending[row] = static_cast<uint8_t>(value);

    Busy busy(ctx_.busy);
    const Setting::Name names[kRows] = {Setting::kSpeed, Setting::kParity, Setting::kStopbits, Setting::kAddress};
    const long shown = row == kRowScor ? (size_t(value) < scor.size() ? scor[size_t(value)] : 0) : value;
    if (!ctx_.written.write(WindowHistory::number_setting(names[row], 0, shown),
                            [&] { return interface_.write(row, uint8_t(value)) == kOk; }))
        return;
    if (row == kRowSysnum)
        shell_.show_sys_num();
    else
        shell_.show_line(row);
    show_current(row);
}

void ParamsPage::CBint_scorChange(int index)
{
    if (index < 0)
        return;
    new_scor = static_cast<uint8_t>(index + 1);
    show_timeouts(new_scor);
}

void ParamsPage::Eint_sysnumChange()
{
    bool ok = false;
    const int n = Eint_sysnum_->text().toInt(&ok);
    if (ok)
        new_sys_num = static_cast<uint8_t>(n);
}

void ParamsPage::UpDown_int_adrChangingEx(bool& AllowChange, int NewValue, int /*Direction*/)
{
    Eint_sysnumChange();
    if (NewValue >= UpDown_int_adr_->min() && NewValue <= UpDown_int_adr_->max())
        new_sys_num = static_cast<uint8_t>(NewValue);
    AllowChange = true;
}

void ParamsPage::B_read_sclClick(int k)
{
    Busy busy(ctx_.busy);
    if (scales_.read_scale(k) != kOk)
        return;
    const TParSCL& s = ctx_.device.parScl(size_t(k));
    ScaleControls& c = scl_[size_t(k)];
    c.value->setText(c_format("%*.*f", 6, decimals_of(s.DecPosition), s.Ustavka.as_float()));
    c.unit->setText(QString::fromUtf8(unit_text(s.Measure)));
    select(c.mes, s.Measure);
}

void ParamsPage::CB_sclCI4Change(int k) { entry_number(scl_[size_t(k)].entry.CI, new_ustavka[size_t(k)]); }

void ParamsPage::RG_scldt_wClick(int k, int position) { new_decpos[size_t(k)] = static_cast<uint8_t>(position); }

void ParamsPage::RG_sclmes_wClick(int k, int position) { new_mes[size_t(k)] = static_cast<uint8_t>(position); }

void ParamsPage::SB_write_sclClick(int k)
{
    Busy busy(ctx_.busy);
    ScaleControls& c = scl_[size_t(k)];
    uint8_t& decpos = new_decpos[size_t(k)];
    if (!c.entry.dt->checkedButton())
        decpos = 3;
    const uint8_t mes = new_mes[size_t(k)];
    // Value, point and unit go in two writes: the scale is in the device when both were taken.
    const WindowHistory::Change scale =
        ctx_.written.before(WindowHistory::entry_setting(Setting::kScale, k, new_ustavka[size_t(k)], decpos));
    const WindowHistory::Change unit = ctx_.written.before(WindowHistory::number_setting(Setting::kUnit, k, mes));
    const Scales::Written w = scales_.write_scale(k, new_ustavka[size_t(k)], decpos, mes);
    ctx_.written.after(scale, w.value == kOk && w.format == kOk);
    ctx_.written.after(unit, w.format == kOk);
    if (w.format != kOk)
        return;
    c.value->setText(prScl_to_dddd(decpos, new_ustavka[size_t(k)]));
    c.unit->setText(QString::fromUtf8(unit_text(mes)));
    if (w.value == kOk)
        emit scaleWritten(k);
}

void ParamsPage::B_read_ustClick(int k)
{
    Busy busy(ctx_.busy);
    if (scales_.read_setpoints(k) != kOk)
        return;
    const TParUST& u = ctx_.device.parUst(size_t(k));
    ust_[size_t(k)].value[kMax]->setText(general_float(u.Max.as_float()));
    ust_[size_t(k)].value[kMin]->setText(general_float(u.Min.as_float()));
}

void ParamsPage::LE_maxClick(int k)
{
    Busy busy(ctx_.busy);
    scales_.read_setpoints(k);
}

uint16_t& ParamsPage::pending_number(int k, Limit limit)
{
    return limit == kMax ? new_max[size_t(k)] : new_min[size_t(k)];
}

uint8_t& ParamsPage::pending_decpos(int k, Limit limit)
{
    return limit == kMax ? new_decposmax[size_t(k)] : new_decposmin[size_t(k)];
}

void ParamsPage::CB_ustCI4Change(int k, Limit limit)
{
    entry_number(ust_[size_t(k)].entry[limit].CI, pending_number(k, limit));
}

void ParamsPage::RG_ustdt_wClick(int k, Limit limit, int position)
{
    pending_decpos(k, limit) = static_cast<uint8_t>(position);
}

void ParamsPage::SB_write_ustClick(int k, Limit limit)
{
    Busy busy(ctx_.busy);
    uint8_t& decpos = pending_decpos(k, limit);
    if (!ust_[size_t(k)].entry[limit].dt->checkedButton())
        decpos = 3;
    const uint16_t number = pending_number(k, limit);
    const Setting setpoint =
        WindowHistory::entry_setting(limit == kMax ? Setting::kMax : Setting::kMin, k, number, decpos);
    if (ctx_.written.write(setpoint, [&] { return scales_.write_setpoint(k, limit, number, decpos) == kOk; }))
        ust_[size_t(k)].value[limit]->setText(prScl_to_dddd(decpos, number));
}

}  // namespace varnok
