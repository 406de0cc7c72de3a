#include "console/clickable.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

namespace varnok {

namespace {

Clickable* binding(const QObject* field) { return field->findChild<Clickable*>(QString(), Qt::FindDirectChildrenOnly); }

// The field's own accessible text, plus the Press action.
class ClickableAccessible : public QAccessibleWidget {
public:
    explicit ClickableAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::EditableText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value) {
            if (auto* edit = qobject_cast<QLineEdit*>(widget()))
                return edit->text();
            if (auto* label = qobject_cast<QLabel*>(widget()))
                return label->text();
        }
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            if (auto* label = qobject_cast<QLabel*>(widget()))
                return label->text();
        return QAccessibleWidget::text(t);
    }
    QAccessible::Role role() const override
    {
        return qobject_cast<QLabel*>(widget()) ? QAccessible::StaticText : QAccessible::EditableText;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (auto* edit = qobject_cast<QLineEdit*>(widget()))
            s.readOnly = edit->isReadOnly();
        return s;
    }
    QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }
    void doAction(const QString& name) override
    {
        if (name == pressAction())
            Clickable::press(widget());
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* clickable_factory(const QString&, QObject* object)
{
    if (object && object->isWidgetType() && binding(object))
        return new ClickableAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

Clickable::Clickable(QWidget* field, std::function<void()> handler, Gesture gesture)
    : QObject(field), handler_(std::move(handler)), gesture_(gesture)
{
    field->installEventFilter(this);
}

void Clickable::bind(QWidget* field, std::function<void()> handler, Gesture gesture)
{
    static const bool installed = [] {
        QAccessible::installFactory(clickable_factory);
        return true;
    }();
    (void)installed;
    new Clickable(field, std::move(handler), gesture);
    // An interface made for the field before it was bound (a screen reader may have asked
    // already) is dropped, so that the next query makes one with the Press action.
    QAccessibleInterface* earlier = QAccessible::queryAccessibleInterface(field);
    if (earlier && !dynamic_cast<ClickableAccessible*>(earlier))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(earlier));
    if (field->focusPolicy() == Qt::NoFocus)
        field->setFocusPolicy(Qt::TabFocus);
}

bool Clickable::press(QWidget* field)
{
    Clickable* c = field ? binding(field) : nullptr;
    if (!c || !field->isEnabled())
        return false;
    c->handler_();
    return true;
}

bool Clickable::eventFilter(QObject* watched, QEvent* event)
{
    auto* field = static_cast<QWidget*>(watched);
    // A greyed field takes no clicks, though Qt still shows them to its filters.
    if (!field->isEnabled())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (gesture_ == Gesture::Click && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
            field->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
            handler_();
        break;
    case QEvent::MouseButtonDblClick:
        if (gesture_ == Gesture::DoubleClick && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            handler_();
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            handler_();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace varnok
