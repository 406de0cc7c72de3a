#include "console/calib/calib_page.h"

#include <QButtonGroup>
#include <QKeyEvent>

#include "console/busy.h"
#include "console/calib/calib_text.h"
#include "console/clickable.h"
#include "console/console_context.h"
#include "console/digit_filter.h"
#include "console/message_box.h"
#include "console/up_down.h"
#include "console/value_text.h"
#include "ui_calib_page.h"

namespace varnok {

namespace {

constexpr int kZeroMin = 450, kZeroMax = 2100;
constexpr int kPwmLowMin = 180, kPwmLowMax = 780;
constexpr int kPwmHighMin = 1180, kPwmHighMax = 1780;
constexpr int kTrimTop = 10;  // the trim's range and step before a unit is chosen: 0..10 by 1

bool all_of(const std::array<bool, 4>& done) { return done[1] && done[2] && done[3]; }

}  // namespace

CalibPage::CalibPage(ConsoleContext& ctx, ExchangeLog& log, StatusMessage status, JumperPicture jumper, QWidget* parent)
    : QWidget(parent), ctx_(ctx), status_(std::move(status)), jumper_(std::move(jumper)),
      ui_(std::make_unique<Ui::CalibPage>()), waits_(ctx.pump), report_(log, status_, &ctx.written), refusals_(this, report_),
      calib_(ctx.device, report_, refusals_, waits_)
{
    ui_->setupUi(this);
    QPalette grey = ui_->ListBox2->palette();
    grey.setColor(QPalette::Text, Qt::darkGray);
    ui_->ListBox2->setPalette(grey);

    for (int k = 1; k <= kChannels; ++k)
        set_up_controls(k);
    for (int k = 1; k <= kChannels; ++k)
        connect_controls(k);

    connect(ui_->B_cal0_old, &QPushButton::clicked, this, &CalibPage::B_cal0_oldClick);
    connect(ui_->B_cal0_new, &QPushButton::clicked, this, &CalibPage::B_cal0_newClick);
    connect(ui_->B_cal100_old, &QPushButton::clicked, this, &CalibPage::B_cal100_oldClick);
    connect(ui_->B_cal100_new, &QPushButton::clicked, this, &CalibPage::B_cal100_newClick);
    connect(ui_->B_old_PWM, &QPushButton::clicked, this, &CalibPage::B_old_PWMClick);
    connect(ui_->B_check, &QPushButton::clicked, this, &CalibPage::checkRequested);
    connect(ui_->CBcal0_kolizm, &QComboBox::currentIndexChanged, this, &CalibPage::CBcal0_kolizmChange);
    connect(ui_->CBcal100_kolizm, &QComboBox::currentIndexChanged, this, &CalibPage::CBcal100_kolizmChange);
    // The counts are picked, never typed.
    ui_->CBcal0_kolizm->installEventFilter(this);
    ui_->CBcal100_kolizm->installEventFilter(this);
    connect(ui_->ListBox2, &QListWidget::itemClicked, ui_->ListBox2, &QListWidget::clear);

    auto* units = new QButtonGroup(this);
    units->addButton(ui_->RGcal100offset_0, 0);
    units->addButton(ui_->RGcal100offset_1, 1);
    units->addButton(ui_->RGcal100offset_2, 2);
    connect(units, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            RGcal100offsetClick();
    });
}

CalibPage::~CalibPage() = default;

void CalibPage::set_up_controls(int k)
{
    auto named = [&](const char* pattern) { return QString::fromLatin1(pattern).arg(k); };
    auto edit = [&](const char* pattern) { return findChild<QLineEdit*>(named(pattern)); };
    auto updown = [&](const char* pattern) { return findChild<UpDown*>(named(pattern)); };
    auto tool = [&](const char* pattern) { return findChild<QToolButton*>(named(pattern)); };
    auto push = [&](const char* pattern) { return findChild<QPushButton*>(named(pattern)); };
    Channel& c = ch_[k];
    c.Ecal0L = edit("Ecal0L_%1");
    c.Ecal0_h = edit("Ecal0_h%1");
    c.Ecal0_new = edit("Ecal0_new%1");
    c.UpDown_cal0 = updown("UpDown_cal0_%1");
    c.SB_save_cal0 = tool("SB_save_cal0_%1");
    c.Bcal0_aver = push("Bcal0_aver_%1");
    c.LEcal_te = edit("LEcal_te%1");
    c.Ecal100L = edit("Ecal100L_%1");
    c.Ecal100_2b_h = edit("Ecal100_2b_h%1");
    c.Ecal100_2b_l = edit("Ecal100_2b_l%1");
    c.ST_HI = findChild<QLabel*>(named("ST_HI%1"));
    c.E_ADCout = edit("E_ADCout%1");
    c.UpDown_new_cal100 = updown("UpDown_new_cal100_%1");
    c.E_ADCoutL = edit("E_ADCoutL%1");
    c.Ecal100_new = edit("Ecal100_new%1");
    c.Ecal100new_2b_h = edit("Ecal100new%1_2b_h");
    c.Ecal100new_2b_l = edit("Ecal100new%1_2b_l");
    c.SB_save_cal100 = tool("SB_save_cal100_%1");
    c.Bcal100_aver = push("Bcal100_aver_%1");
    c.E_PWML = edit("E_PWML%1");
    c.E_PWML_new = edit("E_PWML%1_new");
    c.UpDown_PWML = updown("UpDown_PWML%1");
    c.SB_save_PWML = tool("SB_save_PWML%1");
    c.E_PWMH = edit("E_PWMH%1");
    c.E_PWMH_new = edit("E_PWMH%1_new");
    c.UpDown_PWMH = updown("UpDown_PWMH%1");
    c.SB_save_PWMH = tool("SB_save_PWMH%1");

    // The up-down controls with their edits, ranges and starting positions.
    const struct {
        UpDown* control;
        QLineEdit* edit;
        int min, max, position;
    } updowns[] = {
        {c.UpDown_cal0, c.Ecal0_new, kZeroMin, kZeroMax, kZeroMin},
        {c.UpDown_new_cal100, c.E_ADCoutL, 0, kTrimTop, 1},
        {c.UpDown_PWML, c.E_PWML_new, kPwmLowMin, kPwmLowMax, kPwmLowMin},
        {c.UpDown_PWMH, c.E_PWMH_new, kPwmHighMin, kPwmHighMax, kPwmHighMin},
    };
    for (const auto& u : updowns) {
        u.control->setAssociate(u.edit);
        u.control->setRange(u.min, u.max);
        u.control->setPosition(u.position);
    }
    for (QLineEdit* e : {c.Ecal0_new, c.E_PWML_new, c.E_PWMH_new})
        DigitFilter::install(e);
    // The trim takes the focus when its arrows are pressed, and hears when the focus leaves it.
    c.UpDown_new_cal100->setFocusPolicy(Qt::StrongFocus);
    c.UpDown_new_cal100->installEventFilter(this);
    adjusters_.insert(c.UpDown_new_cal100, k);
}

void CalibPage::connect_controls(int k)
{
    Channel& c = ch_[k];
    Clickable::bind(c.Ecal0L, [this, k] { Ecal0LClick(k); });
    Clickable::bind(c.Ecal100L, [this, k] { Ecal100LClick(k); });
    Clickable::bind(c.LEcal_te, [this, k] { LEcal_teClick(k); });
    Clickable::bind(c.E_PWML, [this, k] { E_PWMLClick(k); });
    Clickable::bind(c.E_PWMH, [this, k] { E_PWMHClick(k); });
    constexpr auto twice = Clickable::Gesture::DoubleClick;
    Clickable::bind(
        c.Ecal0_new, [this, k] { Ecal0_newDblClick(k); }, twice);
    Clickable::bind(
        c.Ecal100_new, [this, k] { Ecal100_newDblClick(k); }, twice);
    Clickable::bind(
        c.E_ADCout, [this, k] { E_ADCoutDblClick(k); }, twice);

    connect(c.Ecal0_new, &QLineEdit::textChanged, this, [this, k] { Ecal0_newChange(k); });
    connect(c.E_ADCout, &QLineEdit::textChanged, this, [this, k] { E_ADCoutChange(k); });
    connect(c.E_ADCoutL, &QLineEdit::textChanged, this, [this, k] { E_ADCoutLChange(k); });
    connect(c.E_PWML_new, &QLineEdit::textChanged, this, [this, k] { E_PWML_newChange(k); });
    connect(c.E_PWMH_new, &QLineEdit::textChanged, this, [this, k] { E_PWMH_newChange(k); });

    connect(c.UpDown_cal0, &UpDown::changingEx, this, [this, k](bool&, int v, int) { UpDown_cal0ChangingEx(k, v); });
    connect(c.UpDown_new_cal100, &UpDown::changingEx, this,
            [this, k](bool&, int v, int) { UpDown_new_cal100ChangingEx(k, v); });
    connect(c.UpDown_PWML, &UpDown::changingEx, this, [this, k](bool&, int v, int) { UpDown_PWMLChangingEx(k, v); });
    connect(c.UpDown_PWMH, &UpDown::changingEx, this,
            [this, k](bool& allow, int, int) { UpDown_PWMHChanging(k, allow); });

    connect(c.SB_save_cal0, &QToolButton::clicked, this, [this, k] { SB_save_cal0Click(k); });
    connect(c.SB_save_cal100, &QToolButton::clicked, this, [this, k] { SB_save_cal100Click(k); });
    connect(c.SB_save_PWML, &QToolButton::clicked, this, [this, k] { SB_save_PWMLClick(k); });
    connect(c.SB_save_PWMH, &QToolButton::clicked, this, [this, k] { SB_save_PWMHClick(k); });
    connect(c.Bcal0_aver, &QPushButton::clicked, this, [this, k] { Bcal0_averClick(k); });
    connect(c.Bcal100_aver, &QPushButton::clicked, this, [this, k] { Bcal100_averClick(k); });
}

bool CalibPage::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusOut: {
        // Only a move of the focus inside the window counts, not the window losing it.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (adjusters_.contains(watched) && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            UpDown_new_cal100Exit(adjusters_.value(watched));
        break;
    }
    case QEvent::KeyPress:
        if (watched == ui_->CBcal0_kolizm || watched == ui_->CBcal100_kolizm) {
            const QString typed = static_cast<QKeyEvent*>(event)->text();
            if (!typed.isEmpty() && typed.at(0).isPrint())
                return true;
        }
        break;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void CalibPage::FormCreate()
{
    for (int k = 1; k <= kChannels; ++k) {
        new_cal100[k] = 1;
        tmp_cal100[k] = 1;
        inc_cal100[k] = 0;
        // The pending values start as their edits show them.
        new_cal0[k] = static_cast<uint16_t>(ch_[k].Ecal0_new->text().toUInt());
        new_calAL[k] = static_cast<uint16_t>(ch_[k].E_PWML_new->text().toUInt());
        new_calAH[k] = static_cast<uint16_t>(ch_[k].E_PWMH_new->text().toUInt());
    }
    kol_izm_cal0 = kol_izm_cal100 = 4;
    st2_kol_izm_cal0 = st2_kol_izm_cal100 = 2;
    cal100offset = static_cast<uint8_t>(ui_->RGcal100offset_0->text().toUInt());
}

void CalibPage::TabSheet3Show()
{
    CBcal0_kolizmChange();
    CBcal100_kolizmChange();
    QPalette green = ui_->L_cal_title->palette();
    green.setColor(QPalette::WindowText, Qt::darkGreen);
    ui_->L_cal_title->setPalette(green);
    for (QWidget* w : {ui_->L_cal0_1, ui_->L_cal0_2, ui_->L_cal100_1, ui_->L_cal100_2})
        w->setEnabled(false);
    Device& d = ctx_.device;
    for (int k = 1; k <= kChannels; ++k) {
        Channel& c = ch_[k];
        for (QWidget* w : {static_cast<QWidget*>(c.SB_save_cal0), static_cast<QWidget*>(c.UpDown_cal0),
                           static_cast<QWidget*>(c.SB_save_cal100)})
            w->setEnabled(false);
        for (QLineEdit* e : {c.Ecal0L, c.Ecal100L, c.Ecal100new_2b_h, c.Ecal100new_2b_l, c.LEcal_te})
            e->clear();
        c.ST_HI->setText(general_float(d.parScl(k).Ustavka.as_float()));
        calAL[k] = d.Ch(k).PWML;
        calAH[k] = d.Ch(k).PWMH;
        new_calAL[k] = calAL[k];
    }
    jumper_(true);
    setEnabled(true);
    enable_calibr = 1;
    ui_->B_cal0_old->setEnabled(true);
    ui_->B_cal100_old->setEnabled(true);
    ui_->B_cal0_new->setEnabled(false);
    ui_->B_cal100_new->setEnabled(false);
    QFont small = ui_->CBenable_calibr->font();
    small.setPointSize(8);
    ui_->CBenable_calibr->setFont(small);
    ui_->CBenable_calibr->setCurrentIndex(enable_calibr);
    status_(QStringLiteral(" Здесь можем откалибровать прибор заново "));
}

void CalibPage::TabSheet3Hide()
{
    jumper_(false);
}

void CalibPage::Boxes::line(const std::string& text) { MessageBox::show(parent_, QString::fromStdString(text)); }

void CalibPage::show_measured(int k, uint8_t code, bool all_digits)
{
    if (code != kOk) {
        ch_[k].LEcal_te->clear();
        return;
    }
    const float v = ctx_.device.Ch(k).Urms_te;
    ch_[k].LEcal_te->setText(all_digits ? general_float(v) : c_format("%10.5f", v));
}

std::optional<uint16_t> CalibPage::register_value(const QLineEdit* edit)
{
    bool ok = false;
    const uint v = edit->text().toUInt(&ok);
    // A number that does not fit a register is refused like a text that is no number.
    if (ok && v <= 0xFFFF)
        return static_cast<uint16_t>(v);
    MessageBox::show(this, QStringLiteral("ошибка преобразования значения"));
    return std::nullopt;
}

PerChannel CalibPage::read_stored_zeros()
{
    const Device& d = ctx_.device;
    const PerChannel done = calib_.read_stored();
    for (int k = 1; k <= kChannels; ++k) {
        if (!done[k])
            continue;
        cal0L[k] = d.Ch(k).Ref;
        ch_[k].Ecal0L->setText(QString::number(cal0L[k]));
        ch_[k].Ecal0_h->setText(hex4(cal0L[k]));
    }
    if (all_of(done)) {
        ui_->L_cal0_1->setEnabled(true);
        ch_[1].Ecal0L->repaint();
        pause(200);
        ui_->B_cal0_new->setEnabled(true);
    }
    return done;
}

void CalibPage::B_cal0_oldClick()
{
    Busy busy(ctx_.busy);
    read_stored_zeros();
}

void CalibPage::B_cal100_oldClick()
{
    Busy busy(ctx_.busy);
    const PerChannel done = read_stored_zeros();
    const Device& d = ctx_.device;
    for (int k = 1; k <= kChannels; ++k) {
        if (!done[k])
            continue;
        cal100L[k] = d.Ch(k).Ncal.Long;
        ch_[k].Ecal100L->setText(c_format("%13.10f", d.Ch(k).Ncal.as_float()));
        ch_[k].Ecal100_2b_h->setText(hex4(cal100L[k] >> 16));
        ch_[k].Ecal100_2b_l->setText(hex4(cal100L[k] & 0xFFFF));
    }
    // Step 7 reads fresh values whatever step 5 found: a channel that failed here has its line
    // and keeps its fields, and does not hold back the channels that worked.
    ui_->B_cal100_new->setEnabled(true);
    ui_->L_cal100_1->setEnabled(true);
}

void CalibPage::B_cal0_newClick()
{
    Busy busy(ctx_.busy);
    const Calibration::Live live = calib_.take_zeros();
    const PerChannel& done = live.read;
    for (int k = 1; k <= kChannels; ++k) {
        if (!done[k])
            continue;
        ch_[k].Ecal0_new->setText(QString::number(calib_.pending_zero(k)));
        new_cal0[k] = calib_.pending_zero(k);
    }
    if (all_of(done))
        for (int k = 1; k <= kChannels; ++k) {
            ch_[k].SB_save_cal0->setEnabled(true);
            ch_[k].Bcal0_aver->setEnabled(true);
        }
    for (int k = 1; k <= kChannels; ++k)
        show_measured(k, live.measured[k], false);
}

void CalibPage::B_cal100_newClick()
{
    Busy busy(ctx_.busy);
    const Calibration::Live live = calib_.take_outputs();
    const PerChannel& done = live.read;
    for (int k = 1; k <= kChannels; ++k) {
        if (!done[k])
            continue;
        tmp_cal100[k] = calib_.pending_output(k);
        inc_cal100[k] = 1;
    }
    if (all_of(done))
        for (int k = 1; k <= kChannels; ++k)
            for (QWidget* w :
                 {static_cast<QWidget*>(ch_[k].E_ADCout), static_cast<QWidget*>(ch_[k].UpDown_new_cal100),
                  static_cast<QWidget*>(ch_[k].SB_save_cal100), static_cast<QWidget*>(ch_[k].Bcal100_aver)})
                w->setEnabled(true);
    for (int k = 1; k <= kChannels; ++k) {
        if (!done[k])
            continue;
        show_output(k);
        calib_.derive_coefficient(k);
        show_pending(k, c_format("%13.10f", calib_.pending_coefficient(k).as_float()));
    }
    for (int k = 1; k <= kChannels; ++k)
        show_measured(k, live.measured[k], false);
}

void CalibPage::show_output(int k) { ch_[k].E_ADCout->setText(hex8(calib_.pending_output(k))); }

void CalibPage::show_pending(int k, const QString& text)
{
    const uint32_t bits = calib_.pending_coefficient(k).Long;
    ch_[k].Ecal100_new->setText(text);
    ch_[k].Ecal100new_2b_h->setText(hex4(bits >> 16));
    ch_[k].Ecal100new_2b_l->setText(hex4(bits & 0xFFFF));
}

void CalibPage::Ecal0LClick(int k)
{
    Busy busy(ctx_.busy);
    if (calib_.read_zero(k) != kOk)
        return;
    const Device& d = ctx_.device;
    Channel& c = ch_[k];
    c.Ecal0L->setText(QString::number(d.Ch(k).Ref));
    c.Ecal0_h->setText(hex4(d.Ch(k).Ref));
    c.UpDown_cal0->setEnabled(true);
    c.SB_save_cal0->setEnabled(true);
    c.Bcal0_aver->setEnabled(true);
}

void CalibPage::Ecal100LClick(int k)
{
    Busy busy(ctx_.busy);
    if (calib_.read_coefficient(k) != kOk)
        return;
    const Device& d = ctx_.device;
    Channel& c = ch_[k];
    cal100L[k] = d.Ch(k).Ncal.Long;
    c.Ecal100L->setText(c_format("%13.10f", d.Ch(k).Ncal.as_float()));
    c.E_ADCout->setEnabled(true);
    c.SB_save_cal100->setEnabled(true);
    c.Bcal100_aver->setEnabled(true);
}

void CalibPage::Ecal0_newChange(int k)
{
    if (const auto v = register_value(ch_[k].Ecal0_new))
        new_cal0[k] = *v;
}

void CalibPage::Ecal0_newDblClick(int k)
{
    Busy busy(ctx_.busy);
    if (calib_.take_zero(k) != kOk)
        return;
    ch_[k].Ecal0_new->setText(QString::number(calib_.pending_zero(k)));
    new_cal0[k] = calib_.pending_zero(k);
}

void CalibPage::UpDown_cal0ChangingEx(int k, int NewValue)
{
    const UpDown* zero = ch_[k].UpDown_cal0;
    if (NewValue < zero->min() || NewValue > zero->max())
        return;
    Busy busy(ctx_.busy);
    new_cal0[k] = static_cast<uint16_t>(NewValue);
    const bool at_once = ui_->RGcal0_var_write_0->isChecked();
    if (at_once)
        save_zero(k, true);
    show_measured(k, calib_.read_back_after_zero_step(k, at_once), true);
}

void CalibPage::Ecal100_newDblClick(int k)
{
    Busy busy(ctx_.busy);
    if (calib_.take_output(k) != kOk)
        return;
    show_output(k);
    calib_.derive_coefficient(k);
    show_pending(k, general_float(calib_.pending_coefficient(k).as_float()));
}

bool CalibPage::recorded(const Setting& s, bool step, const std::function<bool()>& write)
{
    return step ? ctx_.written.step(s, write) : ctx_.written.write(s, write);
}

void CalibPage::SB_save_cal0Click(int k) { save_zero(k, false); }

void CalibPage::save_zero(int k, bool step)
{
    Busy busy(ctx_.busy);
    Calibration::Written w{};
    recorded(WindowHistory::number_setting(Setting::kZero, k, new_cal0[k]), step, [&] {
        w = calib_.write_zero(k, new_cal0[k]);
        return w.code == kOk;
    });
    if (w.code == kOk)
        show_measured(k, w.measured, false);
    ui_->L_cal0_2->setEnabled(true);
}

void CalibPage::SB_save_cal100Click(int k) { save_coefficient(k, false); }

void CalibPage::save_coefficient(int k, bool step)
{
    Busy busy(ctx_.busy);
    const float coefficient = calib_.pending_coefficient(k).as_float();
    Calibration::Written w{};
    recorded(WindowHistory::real_setting(Setting::kCoefficient, k, coefficient), step, [&] {
        w = calib_.write_coefficient(k, coefficient);
        return w.code == kOk;
    });
    if (w.code == kOk)
        show_measured(k, w.measured, false);
    ui_->L_cal100_2->setEnabled(true);
}

void CalibPage::LEcal_teClick(int k)
{
    Busy busy(ctx_.busy);
    show_measured(k, calib_.read_back(k), false);
}

}  // namespace varnok
