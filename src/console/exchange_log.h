#pragma once
// The request and answer lines and the information window.

#include <QColor>
#include <QObject>
#include <QString>

class QListWidget;

namespace varnok {

class FrameLog;
struct Exchange;

class ExchangeLog : public QObject {
public:
    ExchangeLog(QListWidget* LBtuda, QListWidget* LBsuda, QListWidget* ListBox1, QObject* parent = nullptr);

    // Shows the last request and answer in hexadecimal, repainted at once.
    void vivod_buf(const Exchange& x);
    // Clears the request and answer lines.
    void clear_lines();

    // A line at the end of the information window; it also joins the answer that waits in
    // the frame log.
    void append(const QString& line);
    void show_info();
    void hide_info();

    // The record of every frame in a file, switched from the menu.
    FrameLog& frames() { return *frames_; }

    // What a long operation does to the information window while it holds the event loop:
    // clear it, rewrite its last line in place, scroll to the last line, paint it at once.
    void clear_info();
    void replace_last(const QString& line);
    void select_last();
    void repaint_info();
    QColor info_colour() const;
    void set_info_colour(const QColor& colour);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QListWidget* LBtuda_;
    QListWidget* LBsuda_;
    QListWidget* ListBox1_;
    FrameLog* frames_;
    // Kept at construction: the filter also sees events while the lists are being destroyed.
    QObject* info_viewport_;
    QObject* answer_viewport_;
};

}  // namespace varnok
