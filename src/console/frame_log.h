#pragma once
// The exchange log's record on disk: every request and answer of the link, time-stamped
// to the millisecond, one line per frame, in a file per day under the user's state folder.

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "link/platform.h"

namespace varnok {

class FrameLog : public QObject, public FrameTap {
public:
    // `report` puts a line in the information window (a file that cannot be written).
    explicit FrameLog(std::function<void(const QString&)> report, QObject* parent = nullptr);
    ~FrameLog() override;

    // $XDG_STATE_HOME/varnok when that variable holds an absolute path, else
    // $HOME/.local/state/varnok.
    static QString folder();
    // The file of a day: folder()/frames-YYYY-MM-DD.log.
    static QString file_of(const QDate& day);

    void set_enabled(bool on);
    bool enabled() const { return enabled_; }

    void sent(const uint8_t* bytes, size_t n) override;
    void received(const uint8_t* bytes, size_t n) override;
    // The error line that the console shows for the answer just received, if one is waiting.
    void error_line(const QString& line);
    // Writes the answer that waits for its error line: the exchange is over.
    void settle();

    // Fires once control is back in the event loop after an answer; pumps that run inside a
    // handler hold it back, so that an error line found after them still joins its answer.
    QTimer settle_timer;

private:
    void write(const QDateTime& at, const QString& text);
    void fail(const QString& reason);

    std::function<void(const QString&)> report_;
    bool enabled_ = false;
    QFile file_;
    QDate day_;
    bool failed_ = false;  // the failure was reported; told again only after a success
    bool answer_waits_ = false;
    QDateTime answer_at_;
    QString answer_;
};

}  // namespace varnok
