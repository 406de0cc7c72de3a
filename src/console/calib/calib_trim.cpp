// The trim of the full-scale converter output, and the calibration of the PWM outputs.
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

#include "console/busy.h"
#include "console/calib/calib_page.h"
#include "console/calib/calib_text.h"
#include "console/console_context.h"
#include "console/up_down.h"
#include "console/value_text.h"
#include "ui_calib_page.h"

namespace varnok {

void CalibPage::E_ADCoutChange(int k)
{
    calib_.derive_coefficient(k);
    show_pending(k, c_format("%12.10f", calib_.pending_coefficient(k).as_float()));
}

void CalibPage::E_ADCoutLChange(int k)
{
    new_cal100[k] = trim_output(tmp_cal100[k], inc_cal100[k]);
    calib_.set_output(k, new_cal100[k]);
    show_output(k);
}

void CalibPage::UpDown_new_cal100ChangingEx(int k, int NewValue)
{
    Busy busy(ctx_.busy);
    UpDown* trim = ch_[k].UpDown_new_cal100;
    const int top = trim->max();
    if (NewValue >= 0 && NewValue <= top) {
        inc_cal100[k] = static_cast<uint8_t>(NewValue);
    } else if (NewValue > top) {
        // A step up past the top carries a whole range into the base.
        trim->moveTo(0);
        new_cal100[k] = trim_carry(tmp_cal100[k], inc_cal100[k], top, cal100offset);
    } else {
        // A step down past 0 borrows a whole range from the base.
        trim->moveTo(top);
        new_cal100[k] = trim_borrow(tmp_cal100[k], inc_cal100[k], top, cal100offset);
    }
    if (ui_->RGcal100_var_write_0->isChecked()) {
        save_coefficient(k, true);
        show_measured(k, calib_.read_back_after_trim_step(k), true);
    }
}

void CalibPage::UpDown_new_cal100Exit(int k)
{
    ch_[k].UpDown_new_cal100->moveTo(0);
    inc_cal100[k] = 0;
}

void CalibPage::RGcal100offsetClick()
{
    for (QRadioButton* unit : {ui_->RGcal100offset_0, ui_->RGcal100offset_1, ui_->RGcal100offset_2})
        if (unit->isChecked())
            cal100offset = static_cast<uint8_t>(unit->text().toUInt());
    for (int k = 1; k <= kChannels; ++k) {
        UpDown* trim = ch_[k].UpDown_new_cal100;
        trim->setIncrement(cal100offset);
        trim->setRange(trim->min(), cal100offset);
    }
}

void CalibPage::E_ADCoutDblClick(int k)
{
    Busy busy(ctx_.busy);
    Channel& c = ch_[k];
    if (calib_.take_output(k) == kOk) {
        show_output(k);
        c.UpDown_new_cal100->setEnabled(true);
        c.SB_save_cal100->setEnabled(true);
        c.Bcal100_aver->setEnabled(true);
    }
    tmp_cal100[k] = calib_.pending_output(k);
    new_cal100[k] = tmp_cal100[k];
    c.UpDown_new_cal100->moveTo(0);
}

void CalibPage::B_old_PWMClick()
{
    Busy busy(ctx_.busy);
    const Device& d = ctx_.device;
    const PerChannel done = calib_.read_pwm();
    for (int k = 1; k <= kChannels; ++k) {
        if (!done[k])
            continue;
        calAH[k] = d.Ch(k).PWMH;
        calAL[k] = d.Ch(k).PWML;
        ch_[k].E_PWMH->setText(QString::number(calAH[k]));
        ch_[k].E_PWML->setText(QString::number(calAL[k]));
    }
}

void CalibPage::E_PWMLClick(int k)
{
    Busy busy(ctx_.busy);
    if (calib_.read_pwm_point(k, kPwmLow) != kOk)
        return;
    const Device& d = ctx_.device;
    Channel& c = ch_[k];
    calAL[k] = d.Ch(k).PWML;
    c.E_PWML->setText(k == 1 ? QStringLiteral(" %1").arg(calAL[k]) : QString::number(calAL[k]));
    c.UpDown_PWML->setEnabled(true);
    c.SB_save_PWML->setEnabled(true);
    c.UpDown_PWML->moveTo(calAL[k]);
}

void CalibPage::E_PWMHClick(int k)
{
    Busy busy(ctx_.busy);
    if (calib_.read_pwm_point(k, kPwmHigh) != kOk)
        return;
    const Device& d = ctx_.device;
    Channel& c = ch_[k];
    calAH[k] = d.Ch(k).PWMH;
    c.E_PWMH->setText(QString::number(calAH[k]));
    c.UpDown_PWMH->setEnabled(true);
    c.SB_save_PWMH->setEnabled(true);
    // The upper control's handler hears only of steps: the value read becomes pending, unwritten.
    c.UpDown_PWMH->setPosition(calAH[k]);
}

void CalibPage::UpDown_PWMLChangingEx(int k, int NewValue)
{
    const UpDown* lower = ch_[k].UpDown_PWML;
    if (NewValue < lower->min() || NewValue > lower->max())
        return;
    Busy busy(ctx_.busy);
    new_calAL[k] = static_cast<uint16_t>(NewValue);
    if (ui_->RGcalPWM_var_write_0->isChecked())
        recorded(WindowHistory::number_setting(Setting::kPwmLow, k, new_calAL[k]), true,
                 [&] { return calib_.step_pwm(k, kPwmLow, new_calAL[k]) == kOk; });
}

void CalibPage::UpDown_PWMHChanging(int k, bool& AllowChange)
{
    // The value shown before the step.
    const auto before = register_value(ch_[k].E_PWMH_new);
    if (!before) {
        AllowChange = false;
        return;
    }
    Busy busy(ctx_.busy);
    new_calAH[k] = *before;
    if (ui_->RGcalPWM_var_write_0->isChecked())
        recorded(WindowHistory::number_setting(Setting::kPwmHigh, k, new_calAH[k]), true,
                 [&] { return calib_.step_pwm(k, kPwmHigh, new_calAH[k]) == kOk; });
}

void CalibPage::E_PWML_newChange(int k)
{
    if (const auto v = register_value(ch_[k].E_PWML_new))
        new_calAL[k] = *v;
}

void CalibPage::E_PWMH_newChange(int k)
{
    if (const auto v = register_value(ch_[k].E_PWMH_new))
        new_calAH[k] = *v;
}

void CalibPage::SB_save_PWMLClick(int k)
{
    Busy busy(ctx_.busy);
    recorded(WindowHistory::number_setting(Setting::kPwmLow, k, new_calAL[k]), false,
             [&] { return calib_.write_pwm(k, kPwmLow, new_calAL[k]) == kOk; });
}

void CalibPage::SB_save_PWMHClick(int k)
{
    Busy busy(ctx_.busy);
    recorded(WindowHistory::number_setting(Setting::kPwmHigh, k, new_calAH[k]), false,
             [&] { return calib_.write_pwm(k, kPwmHigh, new_calAH[k]) == kOk; });
}

}  // namespace varnok
