// Averaged readings of the live zero and of the full-scale converter output.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "console/busy.h"
#include "console/calib/calib_page.h"
#include "console/calib/calib_text.h"
#include "console/console_context.h"
#include "console/exchange_log.h"
#include "console/value_text.h"
#include "ui_calib_page.h"

namespace varnok {

namespace {

// How a full-scale reading line and its result line are joined; channel 1 has its own.
struct OutputLine {
    const char* after_index;
    const char* before_coefficient;
    const char* result;
};
constexpr std::array<OutputLine, 4> kOutputLines = {{
    {"", "", ""},
    {":", " ", "= "},
    {": ", "  ", " = "},
    {": ", "  ", " = "},
}};

constexpr unsigned kOutputReadingPause = 500;

}  // namespace

void CalibPage::CBcal0_kolizmChange()
{
    const int i = ui_->CBcal0_kolizm->currentIndex();
    kol_izm_cal0 = static_cast<uint8_t>(ui_->CBcal0_kolizm->itemText(i).toUInt());
    st2_kol_izm_cal0 = static_cast<uint8_t>(i + 1);
}

void CalibPage::CBcal100_kolizmChange()
{
    const int i = ui_->CBcal100_kolizm->currentIndex();
    kol_izm_cal100 = static_cast<uint8_t>(ui_->CBcal100_kolizm->itemText(i).toUInt());
    st2_kol_izm_cal100 = static_cast<uint8_t>(i + 1);
}

void CalibPage::average_line(const QString& line)
{
    ui_->ListBox2->addItem(line);
    ctx_.pump.pump();
}

void CalibPage::Bcal0_averClick(int k)
{
    Busy busy(ctx_.busy);
    Device& d = ctx_.device;
    ui_->ListBox2->clear();
    ui_->ListBox2->repaint();
    const unsigned n = kol_izm_cal0;
    unsigned good = 0;
    uint32_t sum = 0;
    for (unsigned i = 1; i <= n; ++i) {
        const uint8_t e = d.read_input(channel_base(k) + kOffNewRef, 1);
        log_.vivod_buf(d.mb);
        if (e != kOk) {
            average_line(QString::fromStdString(d.mb.msg_buf_error(e)));
            continue;
        }
        const uint16_t r = d.Ch[k].new_Ref;
        ++good;
        sum += r;
        average_line(QStringLiteral("%1: %2 %3").arg(i).arg(hex4(r)).arg(r));
    }
    if (good != n)
        return;
    // The mean to the nearest integer, halves going up.
    const auto mean = static_cast<uint16_t>((sum + n / 2) >> st2_kol_izm_cal0);
    d.Ch[k].new_Ref = mean;
    average_line(QStringLiteral(" = %1 %2").arg(hex4(mean)).arg(mean));
    ch_[k].Ecal0_new->setText(QString::number(mean));
    new_cal0[k] = mean;
}

void CalibPage::Bcal100_averClick(int k)
{
    Busy busy(ctx_.busy);
    Device& d = ctx_.device;
    ui_->ListBox2->clear();
    ui_->ListBox2->repaint();
    const OutputLine& form = kOutputLines[size_t(k)];
    const float top = d.parScl[k].Ustavka.as_float();
    const unsigned n = kol_izm_cal100;
    unsigned good = 0;
    uint64_t sum = 0;  // sixteen 32-bit readings never overflow it
    for (unsigned i = 1; i <= n; ++i) {
        const uint8_t e = d.read_input(channel_base(k) + kOffADCout, 2);
        log_.vivod_buf(d.mb);
        if (e == kOk) {
            const uint32_t a = d.Ch[k].new_ADCout.Long;
            ++good;
            sum += a;
            // An output of 0 is taken as 1, as everywhere a coefficient is derived.
            const long double single = static_cast<long double>(top) / (a == 0 ? 1 : a);
            average_line(QString::number(i) + QLatin1String(form.after_index) + hex8(a) +
                         QLatin1String(form.before_coefficient) + c_format(" %13.10f", double(single)));
        } else {
            average_line(QString::fromStdString(d.mb.msg_buf_error(e)));
        }
        pause(kOutputReadingPause);
    }
    if (good != n)
        return;
    // The coefficient of the mean output; a mean of 0 is taken as 1.
    const long double ncal = sum == 0 ? top : static_cast<long double>(n) * top / static_cast<long double>(sum);
    d.Ch[k].new_Ncal.set_float(static_cast<float>(ncal));
    d.Ch[k].new_ADCout.Long = static_cast<uint32_t>((sum + n / 2) >> st2_kol_izm_cal100);
    const uint32_t mean = d.Ch[k].new_ADCout.Long;
    average_line(QLatin1String(form.result) + hex8(mean) + QLatin1String(form.before_coefficient) +
                 c_format(" %13.10f", d.Ch[k].new_Ncal.as_float()));
    ch_[k].E_ADCout->setText(hex8(mean));
}

}  // namespace varnok
