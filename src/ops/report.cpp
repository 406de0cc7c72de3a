#include "ops/report.h"

#include "modbus/exchange.h"

namespace varnok {

bool checked(Report& report, const Exchange& x)
{
    report.exchange(x);
    if (!x.ok())
        report.failed(x, x.msg_buf_error());
    return x.ok();
}

}  // namespace varnok
