// Averaged readings of the live zero and of the full-scale converter output, listed as they come.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "console/busy.h"
#include "console/calib/calib_page.h"
#include "console/calib/calib_text.h"
#include "console/console_context.h"
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

}  // namespace

// The lines of one average in ListBox2, the window drawn after each; its exchanges in the log.
class CalibPage::AverageList : public AverageLines {
public:
    AverageList(QListWidget& list, EventPump& pump, Report& report, int k)
        : list_(list), pump_(pump), report_(report), form_(kOutputLines[size_t(k)])
    {
        list_.clear();
        list_.repaint();
    }
    void exchange(const Exchange& x) override { report_.exchange(x); }
    void line(const std::string& text) override { add(QString::fromStdString(text)); }
    void status(const std::string& text) override { report_.status(text); }

    void zero_reading(unsigned i, uint16_t zero) override
    {
        add(QStringLiteral("%1: %2 %3").arg(i).arg(hex4(zero)).arg(zero));
    }
    void zero_mean(uint16_t mean) override { add(QStringLiteral(" = %1 %2").arg(hex4(mean)).arg(mean)); }
    void output_reading(unsigned i, uint32_t output, double coefficient) override
    {
        add(QString::number(i) + QLatin1String(form_.after_index) + hex8(output) +
            QLatin1String(form_.before_coefficient) + c_format(" %13.10f", coefficient));
    }
    void output_mean(uint32_t mean, float coefficient) override
    {
        add(QLatin1String(form_.result) + hex8(mean) + QLatin1String(form_.before_coefficient) +
            c_format(" %13.10f", coefficient));
    }

private:
    void add(const QString& line)
    {
        list_.addItem(line);
        pump_.pump();
    }

    QListWidget& list_;
    EventPump& pump_;
    Report& report_;
    const OutputLine& form_;
};

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

void CalibPage::Bcal0_averClick(int k)
{
    Busy busy(ctx_.busy);
    AverageList lines(*ui_->ListBox2, ctx_.pump, report_, k);
    if (const auto mean = calib_.average_zero(k, kol_izm_cal0, st2_kol_izm_cal0, lines)) {
        ch_[k].Ecal0_new->setText(QString::number(*mean));
        new_cal0[k] = *mean;
    }
}

void CalibPage::Bcal100_averClick(int k)
{
    Busy busy(ctx_.busy);
    AverageList lines(*ui_->ListBox2, ctx_.pump, report_, k);
    if (const auto mean = calib_.average_output(k, kol_izm_cal100, st2_kol_izm_cal100, lines))
        ch_[k].E_ADCout->setText(hex8(*mean));
}

}  // namespace varnok
