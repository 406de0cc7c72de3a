#include "console/message_box.h"

#include <QApplication>

namespace varnok {

namespace {
MessageBox::Recorder& recorder()
{
    static MessageBox::Recorder r;
    return r;
}
}  // namespace

void MessageBox::set_recorder(Recorder r) { recorder() = std::move(r); }

void MessageBox::show(QWidget* parent, const QString& text, const QString& informative)
{
    if (recorder()) {
        recorder()(text, informative);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    box.exec();
}

void QtNotices::message_box(const std::string& text, const std::string& informative)
{
    MessageBox::show(parent_, QString::fromStdString(text), QString::fromStdString(informative));
}

}  // namespace varnok
