#include "console/up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace varnok {

UpDown::UpDown(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (auto [button, arrow, name] : {std::tuple{up_, Qt::UpArrow, "up"}, std::tuple{down_, Qt::DownArrow, "down"}}) {
        button->setArrowType(arrow);
        button->setObjectName(QLatin1String(name));
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        button->setFixedWidth(18);
        layout->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
}

void UpDown::setRange(int min, int max)
{
    min_ = min;
    max_ = max;
    position_ = std::clamp(position_, min_, max_);
}

void UpDown::setPosition(int position)
{
    position_ = std::clamp(position, min_, max_);
    if (associate_)
        associate_->setText(QString::number(position_));
}

void UpDown::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up)
        stepUp();
    else if (event->key() == Qt::Key_Down)
        stepDown();
    else
        QWidget::keyPressEvent(event);
}

void UpDown::step(int direction)
{
    // The edit's text is the base of the step when it holds a number.
    if (associate_) {
        bool ok = false;
        const int shown = associate_->text().toInt(&ok);
        if (ok)
            position_ = std::clamp(shown, min_, max_);
    }
    bool allow = true;
    emit changingEx(allow, position_ + direction * increment_, direction);
    // A handler may have moved the control itself; the step goes on from where it now stands.
    if (allow)
        setPosition(position_ + direction * increment_);
}

void UpDown::moveTo(int position)
{
    if (position == position_)
        return;
    bool allow = true;
    emit changingEx(allow, position, position > position_ ? +1 : -1);
    if (allow)
        setPosition(position);
}

}  // namespace varnok
