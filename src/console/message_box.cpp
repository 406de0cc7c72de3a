#include "console/message_box.h"

#include <QAbstractButton>
#include <QApplication>

namespace varnok {

namespace {
MessageBox::Recorder& recorder()
{
    static MessageBox::Recorder r;
    return r;
}
MessageBox::Confirmer& confirmer()
{
    static MessageBox::Confirmer c;
    return c;
}
}  // namespace

void MessageBox::set_confirmer(Confirmer c) { confirmer() = std::move(c); }

bool MessageBox::confirm(QWidget* parent, const QString& text, const QString& informative)
{
    if (confirmer())
        return confirmer()(text, informative);
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("нет"));
    box.setDefaultButton(QMessageBox::No);
    if (!informative.isEmpty())
        box.setInformativeText(informative);
    return box.exec() == QMessageBox::Yes;
}

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
