#include "console/digit_filter.h"

#include <QLineEdit>

namespace varnok {

QValidator::State DigitFilter::validate(QString& input, int& /*pos*/) const
{
    for (const QChar c : input)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return Invalid;
    return Acceptable;
}

void DigitFilter::install(QLineEdit* edit) { edit->setValidator(new DigitFilter(edit)); }

}  // namespace varnok
