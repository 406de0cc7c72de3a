#pragma once
// The about box: program icon, name and version; OK closes it with the Accepted result.

#include <QDialog>
#include <QIcon>
#include <memory>

namespace Ui {
class TFabout;
}

namespace varnok {

// The program's icon, for the about box and the windows' title bars.
QIcon programIcon();

class TFabout : public QDialog {
    Q_OBJECT

public:
    explicit TFabout(QWidget* parent = nullptr);
    ~TFabout() override;

private:
    std::unique_ptr<Ui::TFabout> ui;
};

}  // namespace varnok
