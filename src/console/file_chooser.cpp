#include "console/file_chooser.h"

#include <QFileDialog>

namespace varnok {

namespace {

FileChooser& chooser()
{
    static FileChooser c;
    return c;
}

}  // namespace

void set_file_chooser(FileChooser c) { chooser() = std::move(c); }

QString choose_file(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter, bool save)
{
    if (chooser())
        return chooser()(parent, caption, suggested, filter, save);
    return save ? QFileDialog::getSaveFileName(parent, caption, suggested, filter)
                : QFileDialog::getOpenFileName(parent, caption, suggested, filter);
}

}  // namespace varnok
