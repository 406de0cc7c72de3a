#include "console/readings_page.h"

#include <QFontMetrics>
#include <QRadioButton>
#include <cmath>
#include <QStyle>
#include <QToolButton>

#include "console/busy.h"
#include "console/clickable.h"
#include "console/console_context.h"
#include "console/exchange_log.h"
#include "console/trend/tftrend.h"
#include "console/value_text.h"
#include "ui_readings_page.h"

// The pictures live in the console's static library, which nothing else would pull in.
static void init_picture_resources() { Q_INIT_RESOURCE(varnok); }

namespace varnok {

namespace {

constexpr int kBrightest = 3;  // slider maximum; position = 3 - brightness + 1

// The pictures of the relays and switches, each pair at one place, with what they say.
struct Picture {
    const char* label;
    const char* image;
    const char* name;
};
constexpr Picture kPictures[] = {
    {"Image_K1_on", "relay_on", "K1 включено"},
    {"Image_K1_off", "relay_off", "K1 выключено"},
    {"Image_K2_on", "relay_on", "K2 включено"},
    {"Image_K2_off", "relay_off", "K2 выключено"},
    {"Image_K3_on", "relay_on", "K3 включено"},
    {"Image_K3_OFF", "relay_off", "K3 выключено"},
    {"Image_swXP1_on", "jumper_on", "XP1 включено"},
    {"Image_swXP1_off", "jumper_off", "XP1 выключено"},
    {"Image_swJmp78_on", "jumper_on", "JMP(7-8) включено"},
    {"Image_swJMP78_off", "jumper_off", "JMP(7-8) выключено"},
    {"Image_swXP3_on", "jumper_on", "XP3 включено"},
    {"Image_swXP3_off", "jumper_off", "XP3 выключено"},
};

}  // namespace

ReadingsPage::ReadingsPage(ConsoleContext& ctx, ExchangeLog& log, QToolButton* ToolButton1, StatusMessage status,
                           QWidget* parent)
    : QWidget(parent), ctx_(ctx), log_(log), ToolButton1_(ToolButton1), status_(std::move(status)),
      report_(log, status_, &ctx.written), polling_(ctx.device, report_), ui_(std::make_unique<Ui::ReadingsPage>())
{
    ui_->setupUi(this);
    Timer_opros.setObjectName(QStringLiteral("Timer_opros"));
    Timer_opros.setInterval(1000);
    ctx_.pump.hold_back(&Timer_opros);
    connect(&Timer_opros, &QTimer::timeout, this, &ReadingsPage::Timer_oprosTimer);

    for (int i = 1; i <= 3; ++i) {
        auto edit = [&](const char* name, const char* suffix = "") {
            return findChild<QLineEdit*>(QString::fromLatin1(name) + QString::number(i) + QLatin1String(suffix));
        };
        auto label = [&](const char* name) {
            return findChild<QLabel*>(QString::fromLatin1(name) + QString::number(i) + QLatin1String("_label"));
        };
        ChannelFields& c = ch_[i];
        c.LE_Scl = edit("LE_Scl");
        c.LE_Scla = edit("LE_Scl", "a");
        c.LE_Scl_label = label("LE_Scl");
        c.LE_max = edit("LE_max");
        c.LE_min = edit("LE_min");
        c.LEizm_te = edit("LEizm_te");
        c.LEizm_te_label = label("LEizm_te");
        c.Eizm_te = edit("Eizm_te");
        c.LEizm_proc = edit("LEizm_proc");
        Clickable::bind(c.LEizm_te, [this, i] { LEizm_teClick(i); });
        Clickable::bind(c.LE_Scl, [this, i] { LE_SclClick(i); });
        Clickable::bind(c.LE_Scla, [this, i] { LE_SclClick(i); });
        Clickable::bind(c.LE_max, [this, i] { emit setpointsClicked(i); });
        // The codes of the scale's decimal point and unit, kept in fields nobody sees.
        auto hidden = [&](const char* name, const char* caption) {
            auto* e = new QLineEdit(c.LE_Scl->parentWidget());
            e->setObjectName(QString::fromLatin1(name) + QString::number(i));
            e->setAccessibleName(QString::number(i) + QStringLiteral(" канал ") + QString::fromUtf8(caption));
            e->setVisible(false);
            return e;
        };
        c.LE_dt = hidden("LE_dt", "дт");
        c.LE_ed = hidden("LE_ed", "ЕдИзм");
    }
    Clickable::bind(ui_->LEfreq, [this] { LEfreqClick(); });
    Clickable::bind(ui_->Llight, [this] { LlightClick(); });

    // The mode changes when the selection does (a click, the keyboard or a screen reader's
    // toggle); choosing the mode already selected does nothing.
    for (QRadioButton* mode : {ui_->RGtyp_opros_0, ui_->RGtyp_opros_1})
        connect(mode, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                RGtyp_oprosClick();
        });
    connect(ui_->Bzapros, &QPushButton::clicked, this, &ReadingsPage::BzaprosClick);

    // The trend window collects every poll from the start; "тренд" under "запрос" opens it.
    trend_ = new TFtrend(this);
    auto* Btrend = new QPushButton(QStringLiteral("тренд"), this);
    Btrend->setObjectName(QStringLiteral("Btrend"));
    Btrend->setAccessibleName(QStringLiteral("тренд"));
    Btrend->setToolTip(QStringLiteral("график измеренных значений трёх каналов"));
    ui_->readingsLeftLayout->insertWidget(ui_->readingsLeftLayout->indexOf(ui_->Bzapros) + 1, Btrend);
    connect(Btrend, &QPushButton::clicked, trend_, &TFtrend::open);
    connect(ui_->TrackBar_light, &QSlider::valueChanged, this, &ReadingsPage::TrackBar_lightChange);
    load_pictures();
}

void ReadingsPage::load_pictures()
{
    init_picture_resources();
    for (const Picture& p : kPictures) {
        auto* label = findChild<QLabel*>(QLatin1String(p.label));
        label->setPixmap(QPixmap(QStringLiteral(":/varnok/%1.png").arg(QLatin1String(p.image))));
        label->setAccessibleName(QString::fromUtf8(p.name));
    }
    // The jumper's pictures stand under its name in the line of switch names.
    const int indent = QFontMetrics(ui_->ST_allsw->font()).horizontalAdvance(QStringLiteral("XP1    "));
    ui_->Image_swJmp78_on->setIndent(indent);
    ui_->Image_swJMP78_off->setIndent(indent);
}

ReadingsPage::~ReadingsPage() = default;

void ReadingsPage::show_scale(int i)
{
    const TParSCL& s = ctx_.device.parScl(i);
    ch_[i].LE_Scl->setText(c_format("%*.*f", 6, decimals_of(s.DecPosition), s.Ustavka.as_float()));
    ch_[i].LE_Scla->setText(QString::fromUtf8(decpos_text(s.DecPosition)));
    ch_[i].LE_Scl_label->setText(QString::fromUtf8(unit_text(s.Measure)));
}

void ReadingsPage::scale_written(int i)
{
    show_scale(i);
    ch_[i].LEizm_te_label->setText(QString::fromUtf8(unit_text(ctx_.device.parScl(i).Measure)));
}

void ReadingsPage::show_setpoints(int i)
{
    ch_[i].LE_max->setText(general_float(ctx_.device.parUst(i).Max.as_float()));
    ch_[i].LE_min->setText(general_float(ctx_.device.parUst(i).Min.as_float()));
}

void ReadingsPage::show_measured(int i, const PollResult::Channel& read)
{
    const Device& d = ctx_.device;
    const float v = d.Ch(i).Urms_te;
    const TParSCL& s = d.parScl(i);
    ch_[i].LEizm_te->setText(c_format("%8.4f", v));
    ch_[i].Eizm_te->setText(c_format("%*.*f", 5, decimals_of(s.DecPosition), v));
    ch_[i].LEizm_te_label->setText(QString::fromUtf8(unit_text(s.Measure)));
    // A zero scale has no percentage; the field stays empty instead of showing a division by zero.
    if (read.percent)
        ch_[i].LEizm_proc->setText(c_format("%8.4f", read.Urms_proc));
    else
        ch_[i].LEizm_proc->clear();
}

void ReadingsPage::show_freq() { ui_->LEfreq->setText(c_format("%8.3f", ctx_.device.freq().as_float())); }

void ReadingsPage::show_poll(const PollResult& poll)
{
    const Device& d = ctx_.device;
    // A channel whose read failed keeps its fields.
    for (int i = 1; i <= 3; ++i)
        if (poll.ch[size_t(i)].scale)
            show_scale(i);
    for (int i = 1; i <= 3; ++i)
        if (poll.ch[size_t(i)].setpoints)
            show_setpoints(i);
    std::array<double, 3> measured{NAN, NAN, NAN}, percent{NAN, NAN, NAN};
    std::array<QString, 3> unit;
    for (int i = 1; i <= 3; ++i) {
        const PollResult::Channel& c = poll.ch[size_t(i)];
        if (c.measured) {
            show_measured(i, c);
            measured[size_t(i - 1)] = d.Ch(i).Urms_te;
            if (c.percent)
                percent[size_t(i - 1)] = c.Urms_proc;
        }
        unit[size_t(i - 1)] = QString::fromUtf8(unit_text(d.parScl(i).Measure));
    }
    trend_->set_units(unit);
    trend_->add(measured, percent);
    if (poll.freq)
        show_freq();
}

void ReadingsPage::zapros_par(uint8_t full)
{
    Busy busy(ctx_.busy);
    show_poll(polling_.zapros_par(full == 1));
}

void ReadingsPage::LEfreqClick()
{
    Busy busy(ctx_.busy);
    if (polling_.read_freq())
        show_freq();
}

void ReadingsPage::BzaprosClick()
{
    log_.show_info();
    zapros_par(1);
}

void ReadingsPage::select_mode(int index) { (index == 0 ? ui_->RGtyp_opros_0 : ui_->RGtyp_opros_1)->setChecked(true); }

void ReadingsPage::RGtyp_oprosClick()
{
    if (ui_->RGtyp_opros_1->isChecked()) {
        status_(QStringLiteral(" Для обновления информации нажмите кнопку \"запрос\" "));
        periodic_opros = false;
        periodic_opros_in_process = false;
        Timer_opros.stop();
        {
            const QSignalBlocker quiet(ToolButton1_);
            ToolButton1_->setChecked(false);
        }
        Pusk_or_Stop();
    } else {
        periodic_opros = true;
        status_(QStringLiteral(" Для запуска периодического опроса нажмите кнопку ПУСК"));
    }
    ui_->Bzapros->setVisible(!periodic_opros);
}

void ReadingsPage::ToolButton1Click()
{
    if (!periodic_opros) {
        const QSignalBlocker quiet(ToolButton1_);
        ToolButton1_->setChecked(false);
        return;
    }
    Pusk_or_Stop();
}

void ReadingsPage::Pusk_or_Stop()
{
    if (ToolButton1_->isChecked()) {
        ToolButton1_->setText(QStringLiteral("стоп"));
        ToolButton1_->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
        Timer_opros.start(1000);
        periodic_opros_in_process = true;
    } else {
        ToolButton1_->setText(QStringLiteral("пуск"));
        ToolButton1_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
        Timer_opros.stop();
        periodic_opros_in_process = false;
    }
    ToolButton1_->repaint();
}

void ReadingsPage::CBtime_oprosChange(int index)
{
    if (index < 0)
        return;
    ctx_.settings.set_poll_period(index);
    Timer_opros.setInterval(ctx_.settings.poll_period() * 1000);
}

void ReadingsPage::Timer_oprosTimer()
{
    if (ctx_.busy > 0)
        return;  // an exchange is under way; the next tick comes soon enough
    Busy busy(ctx_.busy);
    const TickResult tick = polling_.tick(ctx_.settings.poll_period());
    switch (tick.outcome) {
    case TickResult::kPolled:
        show_poll(tick.poll);
        log_.hide_info();
        break;
    case TickResult::kStoppedAnswering:
        // Back to polling on request, as if the operator had chosen it.
        select_mode(1);
        Timer_opros.stop();
        log_.hide_info();
        break;
    case TickResult::kSpeedLost:
        if (tick.give_up)
            Timer_opros.stop();
        break;
    }
    Timer_opros.setInterval(ctx_.settings.poll_period() * 1000);
}

void ReadingsPage::TabSheet1Show()
{
    status_(QStringLiteral(" Для обновления информации нажмите кнопку \"запрос\" "));
    if (periodic_opros_in_process) {
        Timer_opros.start();
        status_(QStringLiteral(" Идет периодический опрос каждые ") + QString::number(ctx_.settings.poll_period()) +
                QStringLiteral("c"));
    } else {
        Timer_opros.stop();
    }
    onoff_swJMP78_ = false;
}

void ReadingsPage::TabSheet1Hide() { Timer_opros.stop(); }

void ReadingsPage::show_jumper(bool set)
{
    onoff_swJMP78_ = set;
    ui_->Image_swJmp78_on->setVisible(set);
    ui_->Image_swJMP78_off->setVisible(false);
}

void ReadingsPage::LEizm_teClick(int i)
{
    Busy busy(ctx_.busy);
    if (polling_.read_measured(i))
        ch_[i].LEizm_te->setText(general_float(ctx_.device.Ch(i).Urms_te));
}

void ReadingsPage::LE_SclClick(int i)
{
    Busy busy(ctx_.busy);
    if (!polling_.read_scale(i))
        return;
    const Device& d = ctx_.device;
    show_scale(i);
    ch_[i].LE_dt->setText(QString::number(d.parScl(i).DecPosition));
    ch_[i].LE_ed->setText(QString::number(d.parScl(i).Measure));
}

void ReadingsPage::LlightClick()
{
    Busy busy(ctx_.busy);
    // A brightness outside 1..3 has no slider position; moving the slider to an end for it
    // would write that end back to the device.
    if (polling_.read_light() && ctx_.device.light() >= 1 && ctx_.device.light() <= kBrightest)
        ui_->TrackBar_light->setValue(kBrightest - ctx_.device.light() + 1);
}

void ReadingsPage::TrackBar_lightChange(int position)
{
    Busy busy(ctx_.busy);
    // The top of the slider is the brightest.
    const uint8_t brightness = static_cast<uint8_t>(kBrightest - position + 1);
    ctx_.written.write(WindowHistory::number_setting(Setting::kBrightness, 0, brightness),
                       [&] { return polling_.write_light(brightness) == kOk; });
}

}  // namespace varnok
