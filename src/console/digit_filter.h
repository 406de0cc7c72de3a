#pragma once
// Lets only digits and backspace be typed into the edits it is installed on.

#include <QObject>

namespace varnok {

class DigitFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace varnok
