#include "console/exchange_log.h"

#include <QEvent>
#include <QListWidget>

#include "console/frame_log.h"
#include "console/readable_colours.h"
#include "modbus/exchange.h"

namespace varnok {

ExchangeLog::ExchangeLog(QListWidget* tuda, QListWidget* suda, QListWidget* info, QObject* parent)
    : QObject(parent), LBtuda_(tuda), LBsuda_(suda), ListBox1_(info), info_viewport_(info->viewport()),
      answer_viewport_(suda->viewport())
{
    frames_ = new FrameLog([this](const QString& line) { ListBox1_->addItem(line); }, this);
    // A click on a line clears the window, a double click hides it, a click on the answer line shows it.
    connect(ListBox1_, &QListWidget::itemClicked, ListBox1_, &QListWidget::clear);
    info_viewport_->installEventFilter(this);
    answer_viewport_->installEventFilter(this);
}

bool ExchangeLog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == info_viewport_ && event->type() == QEvent::MouseButtonDblClick)
        hide_info();
    else if (watched == answer_viewport_ && event->type() == QEvent::MouseButtonRelease)
        show_info();
    return QObject::eventFilter(watched, event);
}

void ExchangeLog::vivod_buf(const Exchange& x)
{
    clear_lines();
    if (x.dl_note > 0) {
        LBtuda_->addItem(QString::fromLatin1(hex_bytes(x.sent())));
        LBtuda_->repaint();
    } else {
        LBtuda_->addItem(QStringLiteral("нет сообщений"));
    }
    if (x.dl_otvet > 0) {
        LBsuda_->addItem(QString::fromLatin1(hex_bytes(x.received())) + QStringLiteral(" dl=") +
                         QString::number(x.dl_otvet));
        LBsuda_->repaint();
    } else {
        LBsuda_->addItem(QStringLiteral("нет ответа"));
    }
}

void ExchangeLog::clear_lines()
{
    LBtuda_->clear();
    LBsuda_->clear();
}

void ExchangeLog::append(const QString& line)
{
    frames_->error_line(line);
    ListBox1_->addItem(line);
}

void ExchangeLog::show_info() { ListBox1_->setVisible(true); }

void ExchangeLog::hide_info() { ListBox1_->setVisible(false); }

void ExchangeLog::clear_info() { ListBox1_->clear(); }

void ExchangeLog::replace_last(const QString& line)
{
    const int last = ListBox1_->count() - 1;
    ListBox1_->addItem(line);
    if (last >= 0)
        delete ListBox1_->takeItem(last);
}

void ExchangeLog::select_last()
{
    ListBox1_->setCurrentRow(ListBox1_->count() - 1);
    ListBox1_->scrollToBottom();
}

void ExchangeLog::repaint_info() { ListBox1_->repaint(); }

QColor ExchangeLog::info_colour() const { return ListBox1_->palette().color(QPalette::Text); }

void ExchangeLog::set_info_colour(const QColor& colour)
{
    QPalette p = ListBox1_->palette();
    p.setColor(QPalette::Text, readable_on(colour, p.color(QPalette::Base)));  // red reads on a dark theme too
    ListBox1_->setPalette(p);
}

}  // namespace varnok
