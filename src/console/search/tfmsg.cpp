#include "console/search/tfmsg.h"

#include "ui_tfmsg.h"

namespace varnok {

TFmsg::TFmsg(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TFmsg>())
{
    ui->setupUi(this);
    // It stays on top without taking the focus: the main window keeps the keys.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(kClientWidth, kClientHeight);
    move(kLeft, kTop);

    // Designer keeps fonts in points; the notice's texts are 16 pixels high.
    for (QLabel* label : {ui->Label1, ui->Label2}) {
        QFont f = label->font();
        f.setPixelSize(16);
        label->setFont(f);
    }
}

TFmsg::~TFmsg() = default;

QLabel* TFmsg::label1() const { return ui->Label1; }
QLabel* TFmsg::label2() const { return ui->Label2; }
QPushButton* TFmsg::cancelButton() const { return ui->Bmsg_cancel; }

void TFmsg::setWaitText(const QString& text)
{
    ui->Label1->setText(text);
    ui->Label1->repaint();
}

}  // namespace varnok
