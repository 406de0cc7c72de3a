#include "console/event_pump.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QThread>

namespace varnok {

void EventPump::pump()
{
    QCoreApplication::instance()->installEventFilter(this);
    QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
    QCoreApplication::instance()->removeEventFilter(this);
}

bool EventPump::pressed_since_last_query(int virtual_key)
{
    pump();
    return pressed_.remove(virtual_key);
}

bool EventPump::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        // The same physical keys under the Russian layout (Й, Ч) count too.
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text().toLower();
        if (key->key() == Qt::Key_Q || text == QStringLiteral("й"))
            pressed_.insert(kKeyQ);
        else if (key->key() == Qt::Key_X || text == QStringLiteral("ч"))
            pressed_.insert(kKeyX);
        return true;
    }
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Close: return true;
    case QEvent::Timer: return held_.contains(watched);
    default: return QObject::eventFilter(watched, event);
    }
}

void PumpedSleeper::sleep_ms(unsigned ms)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        pump_.pump();
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return;
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, 10)));
    }
}

}  // namespace varnok
