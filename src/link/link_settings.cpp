#include "link/link_settings.h"

namespace varnok {

uint8_t number_scor(int32_t V)
{
    for (uint8_t code = 1; code < scor.size(); ++code)
        if (scor[code] == V)
            return code;
    return 0;
}

std::string parity_text(uint8_t parity)
{
    if (parity < txt_parity.size())
        return txt_parity[parity];
    return std::to_string(parity);
}

}  // namespace varnok
