#pragma once
// The notice shown while a device search runs: which search is running and how to
// interrupt it. A small always-on-top window without title-bar buttons.

#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;

namespace Ui {
class TFmsg;
}

namespace varnok {

class TFmsg : public QWidget {
    Q_OBJECT

public:
    explicit TFmsg(QWidget* parent = nullptr);
    ~TFmsg() override;

    QLabel* label1() const;  // the running search's waiting text
    QLabel* label2() const;  // how to interrupt
    QPushButton* cancelButton() const;

    // Sets the waiting text and paints it at once: the search holds the event loop.
    void setWaitText(const QString& text);

    static constexpr int kLeft = 297;
    static constexpr int kTop = 345;
    static constexpr int kClientWidth = 704;
    static constexpr int kClientHeight = 66;

private:
    std::unique_ptr<Ui::TFmsg> ui;
};

}  // namespace varnok
