#pragma once
// An up-down control bound to an edit: each step takes the number the edit shows, moves it
// by the increment within the range, asks whether the change is allowed, and shows the result.

#include <QWidget>

class QKeyEvent;
class QLineEdit;
class QToolButton;

namespace varnok {

class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    void setAssociate(QLineEdit* edit) { associate_ = edit; }
    void setRange(int min, int max);
    void setIncrement(int step) { increment_ = step; }
    int min() const { return min_; }
    int max() const { return max_; }
    int position() const { return position_; }
    // Sets the position (clamped) and shows it in the edit; no change signal.
    void setPosition(int position);
    // Moves to a position as the program does: the handlers hear of the move first, as of a
    // step; nothing at all happens when the control already stands there.
    void moveTo(int position);

    // The arrow buttons, as a user presses them.
    void stepUp() { step(+1); }
    void stepDown() { step(-1); }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

protected:
    // With the focus, the arrow keys step as the arrow buttons do.
    void keyPressEvent(QKeyEvent* event) override;

signals:
    // Before a step: the value the step would give (possibly outside the range) and its
    // direction (+1 up, -1 down). A slot may set `allow` to false to refuse the step.
    void changingEx(bool& allow, int newValue, int direction);

private:
    void step(int direction);

    QLineEdit* associate_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 100;
    int increment_ = 1;
    int position_ = 0;
};

}  // namespace varnok
