// A build without the protocol's renderer: the check runs, its protocol is not written.
#include "record/protocol_files.h"

namespace varnok::record {

std::string protocol_number(const Unit& unit, const std::string& issued)
{
    return (unit.factory_number.empty() ? std::to_string(unit.network_number) : unit.factory_number) + "-" + issued;
}

std::string write_protocol_pdf(const Protocol&, const std::string& path)
{
    return "файл " + path + " не записан: в этой сборке протокол не пишется";
}

std::string protocol_csv(const Protocol&) { return {}; }

}  // namespace varnok::record
