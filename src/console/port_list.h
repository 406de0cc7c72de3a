#pragma once
// The port list, which tells when it is about to open so that its tool tips (the device each
// port name stands for now) can be brought up to date.

#include <QComboBox>

namespace varnok {

class PortList : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override
    {
        emit opening();
        QComboBox::showPopup();
    }

signals:
    void opening();
};

}  // namespace varnok
