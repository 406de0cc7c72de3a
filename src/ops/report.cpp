#include "ops/report.h"

#include "modbus/master.h"

namespace varnok {

bool checked(Report& report, const ModbusMaster& mb, uint8_t code)
{
    report.exchange(mb);
    if (code != kOk)
        report.line(mb.msg_buf_error(code));
    return code == kOk;
}

}  // namespace varnok
