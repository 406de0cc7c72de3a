#pragma once
// Serial port inspector: the port's device path, whether it is open, the line record as
// the driver reports it and the time-outs set on the port. Read-only; refresh() re-reads.

#include <QWidget>
#include <memory>

namespace Ui {
class TFcomdcb;
}

namespace varnok {

class Link;

class TFcomdcb : public QWidget {
    Q_OBJECT

public:
    explicit TFcomdcb(const Link& link, QWidget* parent = nullptr);
    ~TFcomdcb() override;

public slots:
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    const Link& link_;
    std::unique_ptr<Ui::TFcomdcb> ui;
};

}  // namespace varnok
