#pragma once
// Every modal message box of the console goes through here, so that tests can take the
// boxes instead of showing them (a modal box would stop a headless test).

#include <QMessageBox>
#include <QString>
#include <functional>

#include "device/notices.h"
#include "link/platform.h"
#include "ops/report.h"

namespace varnok {

class MessageBox {
public:
    using Recorder = std::function<void(const QString& text, const QString& informative)>;

    // A warning box with an OK button; `informative` (the details) goes beneath the text.
    static void show(QWidget* parent, const QString& text, const QString& informative = {});

    // While set, boxes are handed to the recorder and never shown.
    static void set_recorder(Recorder recorder);

    // A question with the buttons "да" and "нет"; true for "да".
    static bool confirm(QWidget* parent, const QString& text, const QString& informative = {});
    // While set, questions are put to this instead of the user.
    using Confirmer = std::function<bool(const QString& text, const QString& informative)>;
    static void set_confirmer(Confirmer confirmer);
};

// The message boxes of the link, the device and the operations, shown over the main window.
class QtNotices : public Notices, public DeviceNotices, public OperationNotices {
public:
    explicit QtNotices(QWidget* parent = nullptr) : parent_(parent) {}
    void set_parent(QWidget* parent) { parent_ = parent; }
    void message_box(const std::string& text, const std::string& informative) override;

private:
    QWidget* parent_;
};

}  // namespace varnok
