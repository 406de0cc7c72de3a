#include "console/digit_filter.h"

#include <QKeyEvent>

namespace varnok {

bool DigitFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // Keys that type no character (arrows, Tab, Delete, shortcuts) are not typing.
        const bool types = !text.isEmpty() && text.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier);
        if (types && !text.at(0).isDigit())
            return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace varnok
