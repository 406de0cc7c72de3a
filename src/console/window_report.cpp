#include "console/window_report.h"

#include "console/exchange_log.h"

namespace varnok {

void WindowReport::exchange(const Exchange& x) { log_.vivod_buf(x); }

void WindowReport::line(const std::string& text) { log_.append(QString::fromStdString(text)); }

void WindowReport::status(const std::string& text)
{
    if (status_)
        status_(QString::fromStdString(text));
}

}  // namespace varnok
