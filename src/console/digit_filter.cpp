#include "console/digit_filter.h"

#include <QLineEdit>

namespace varnok {

QValidator::State DigitFilter::validate(QString& input, int& pos) const
{
    for (int i = input.size() - 1; i >= 0; --i) {
        if (input.at(i) >= QLatin1Char('0') && input.at(i) <= QLatin1Char('9'))
            continue;
        input.remove(i, 1);
        if (i < pos)
            --pos;
    }
    return Acceptable;
}

void DigitFilter::install(QLineEdit* edit) { edit->setValidator(new DigitFilter(edit)); }

}  // namespace varnok
