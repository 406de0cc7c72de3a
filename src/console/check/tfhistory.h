#pragma once
// The unit's history window: its records, newest first (time, user, kind, what, old and new
// value, protocol number), and the drift of each channel per point between its last two
// checks. A store that cannot be opened is said in one line in the window.

#include <QWidget>

#include "record/drift.h"
#include "record/protocol.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace varnok {

struct ConsoleContext;

class TFhistory : public QWidget {
    Q_OBJECT
public:
    TFhistory(ConsoleContext& ctx, QWidget* parent = nullptr);

    // Shows the records of `unit` in front.
    void open(const record::Unit& unit);
    // Reads the store again.
    void refresh();

    const record::Unit& unit() const { return unit_; }

private:
    void fill_records(const std::vector<record::HistoryRecord>& records);
    void fill_drift(const std::optional<record::UnitDrift>& drift, const std::string& why);

    ConsoleContext& ctx_;
    record::Unit unit_;
    QLabel* unit_label_ = nullptr;
    QLabel* state_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QTableWidget* records_ = nullptr;
    QLabel* drift_label_ = nullptr;
    QTableWidget* drift_ = nullptr;
};

}  // namespace varnok
