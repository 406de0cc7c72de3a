#include "link/link_settings.h"

namespace varnok {

uint8_t number_scor(int32_t V)
{
    for (uint8_t code = 1; code < scor.size(); ++code)
        if (scor[code] == V)
            return code;
    return 0;
}

std::string line_text(const LinkSettings& line)
{
    const char parity = line.parity == 1 ? 'O' : line.parity == 2 ? 'E' : 'N';
    return std::to_string(line.scor_obmena) + " " + std::to_string(line.bytesize) + parity +
           std::to_string(line.stopbit);
}

std::string unit_line(const LinkSettings& line, const std::string& path)
{
    if (path.rfind("tcp://", 0) == 0)
        return line.name_comport == path ? path : line.name_comport + " " + path;
    return line.name_comport + " " + line_text(line);
}

std::string parity_text(uint8_t parity)
{
    if (parity < txt_parity.size())
        return txt_parity[parity];
    return std::to_string(parity);
}

}  // namespace varnok
