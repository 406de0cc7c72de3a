#pragma once
// The exchange log's record on disk: every request and answer of the link, time-stamped
// to the millisecond, one line per frame, in a file per day under the user's state folder.

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "link/platform.h"
#include "settings/log_file.h"

namespace varnok {

class FrameLog : public QObject, public FrameTap {
public:
    // `report` puts a line in the information window (a file that cannot be written).
    explicit FrameLog(std::function<void(const QString&)> report, QObject* parent = nullptr);
    ~FrameLog() override;

    // $XDG_STATE_HOME/varnok when that variable holds an absolute path, else
    // $HOME/.local/state/varnok; on Windows %LOCALAPPDATA%\varnok (with forward slashes).
    static QString folder();
    // The file of a day: folder()/frames-YYYY-MM-DD.log.
    static QString file_of(const QDate& day);

    void set_enabled(bool on);
    bool enabled() const { return enabled_; }
    // Days of files kept, today's included: older day files go when a day's file is opened.
    // 0 keeps them all.
    void set_keep_days(int days);
    // The port the frames cross, as "COM1 /dev/ttyUSB0": the line "ПОРТ ..." heads what
    // this console writes into a day's file, and again wherever the port changes.
    void set_port(std::function<QString()> port) { port_ = std::move(port); }

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
    bool open_day(QString& reason);
    void close_file();
    void remove_old_days();
    void fail(const QString& reason);

    std::function<void(const QString&)> report_;
    std::function<QString()> port_;
    bool enabled_ = false;
    log_file::Appender file_;
    QString path_;
    QDate day_;
    int keep_days_ = 30;
    QDate pruned_;           // the day whose opening last removed old files
    bool port_due_ = false;  // the port line goes before the next line written
    QString port_written_;
    bool failed_ = false;  // the failure was reported; told again only after a success
    bool answer_waits_ = false;
    QDateTime answer_at_;
    QString answer_;
};

}  // namespace varnok
