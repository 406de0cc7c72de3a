#include "console/window_report.h"

#include "console/exchange_log.h"
#include "console/window_history.h"

namespace varnok {

void WindowReport::exchange(const Exchange& x)
{
    log_.vivod_buf(x);
    if (known_)
        known_->seen(x);
}

void WindowReport::line(const std::string& text) { log_.append(QString::fromStdString(text)); }

void WindowReport::status(const std::string& text)
{
    if (status_)
        status_(QString::fromStdString(text));
}

}  // namespace varnok
