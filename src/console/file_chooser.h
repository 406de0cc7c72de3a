#pragma once
// Where to save or what to open: a file dialog, or, while a test has set one, its answer.

#include <QString>
#include <functional>

class QWidget;

namespace varnok {

// (parent, caption, suggested name, filter, save); empty when the user cancels.
using FileChooser = std::function<QString(QWidget*, const QString&, const QString&, const QString&, bool)>;

QString choose_file(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter,
                    bool save);
// While set, choose_file asks this instead of showing a dialog.
void set_file_chooser(FileChooser chooser);

}  // namespace varnok
