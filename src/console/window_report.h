#pragma once
// The console's side of what a device operation reports: the exchange log, the information
// window and a page's message panel.

#include <QString>
#include <functional>

#include "ops/report.h"

namespace varnok {

class ExchangeLog;
class WindowHistory;

class WindowReport : public Report {
public:
    // `known`, when given, learns from each exchange what the window knows of the unit.
    WindowReport(ExchangeLog& log, std::function<void(const QString&)> status, WindowHistory* known = nullptr)
        : log_(log), status_(std::move(status)), known_(known)
    {
    }

    void exchange(const Exchange& x) override;
    void line(const std::string& text) override;
    void status(const std::string& text) override;

private:
    ExchangeLog& log_;
    std::function<void(const QString&)> status_;
    WindowHistory* known_;
};

}  // namespace varnok
