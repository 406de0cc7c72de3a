#include "modbus/errors.h"

namespace varnok {

std::string buf_error(uint8_t err)
{
    if (err < err_text.size())
        return err_text[err];
    return " исключение прибора " + std::to_string(err) + " ";
}

}  // namespace varnok
