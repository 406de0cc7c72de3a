#pragma once
// Fields that act when clicked (mostly a fresh read from the device): a left click (or a
// double click, where that is the gesture), the Enter key while the field has the focus, and
// the accessibility Press action all run the same handler, so a screen reader or a test tool
// operates the field as a mouse does.

#include <QObject>
#include <functional>

class QWidget;

namespace varnok {

class Clickable : public QObject {
    Q_OBJECT
public:
    enum class Gesture { Click, DoubleClick };

    // Binds `handler` to `field`; the binding lives as long as the field.
    static void bind(QWidget* field, std::function<void()> handler, Gesture gesture = Gesture::Click);
    // Runs the handler bound to `field`, as a click would; false when none is bound.
    static bool press(QWidget* field);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Clickable(QWidget* field, std::function<void()> handler, Gesture gesture);
    std::function<void()> handler_;
    Gesture gesture_;
};

}  // namespace varnok
