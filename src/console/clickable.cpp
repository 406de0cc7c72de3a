#include "console/clickable.h"

#include <algorithm>

#include <QAccessible>
#include <QFontMetrics>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

namespace varnok {

namespace {

Clickable* binding(const QObject* field) { return field->findChild<Clickable*>(QString(), Qt::FindDirectChildrenOnly); }

// The field as a screen reader knows it (a line edit's text, caret and selection, or a
// label's text as its name), plus the Press action.
class ClickableAccessible : public QAccessibleWidget,
                            public QAccessibleTextInterface,
                            public QAccessibleEditableTextInterface {
public:
    explicit ClickableAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (edit() && t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (edit() && !edit()->isReadOnly() && t == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value) {
            if (edit())
                return edit()->text();
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
        if (edit()) {
            s.readOnly = edit()->isReadOnly();
            s.editable = !edit()->isReadOnly();
            s.selectableText = true;
        }
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

    // Text, caret and selection of the line edit.
    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index == 0 && edit()->hasSelectedText()) {
            *start = edit()->selectionStart();
            *end = edit()->selectionEnd();
        }
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            edit()->deselect();
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            edit()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(position); }
    QString text(int start, int end) const override
    {
        const QString all = edit()->text();
        start = std::clamp(start, 0, int(all.size()));
        end = end < 0 ? int(all.size()) : std::clamp(end, start, int(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(edit()->text().size()); }
    QRect characterRect(int offset) const override
    {
        const QString all = edit()->text();
        if (offset < 0 || offset >= all.size())
            return {};
        const QRect box = edit()->contentsRect().adjusted(2, 0, -2, 0);
        const QFontMetrics fm(edit()->font());
        const int width = fm.horizontalAdvance(all);
        int left = box.left();
        if (edit()->alignment() & Qt::AlignRight)
            left = box.right() - width;
        else if (edit()->alignment() & Qt::AlignHCenter)
            left = box.left() + (box.width() - width) / 2;
        const QRect local(left + fm.horizontalAdvance(all.left(offset)), box.top() + (box.height() - fm.height()) / 2,
                          fm.horizontalAdvance(all.at(offset)), fm.height());
        return QRect(edit()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = edit()->mapFromGlobal(point);
        return edit()->rect().contains(local) ? edit()->cursorPositionAt(local) : -1;
    }
    void scrollToSubstring(int /*start*/, int end) override { edit()->setCursorPosition(end); }
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = *end = offset;
        return {};
    }

    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override
    {
        edit()->setSelection(start, end - start);
        edit()->insert(text);
    }

private:
    QLineEdit* edit() const { return qobject_cast<QLineEdit*>(widget()); }
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
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace varnok
