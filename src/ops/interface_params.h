#pragma once
// The device's interface parameters: its speed, parity, stop bits and network number, read
// and written. A write the device took is adopted: the port follows the new speed, parity or
// stop bits at once, and requests go to the new number.

#include <cstdint>

namespace varnok {

class Device;
class Report;

// The rows of the interface parameters, in the order the console shows them.
enum InterfaceRow : int { kRowScor, kRowParity, kRowStopbit, kRowSysnum, kInterfaceRows };

class InterfaceParams {
public:
    InterfaceParams(Device& device, Report& report) : d_(device), report_(report) {}

    // Reads one parameter; the value the device reports lands in the link's settings.
    uint8_t read(InterfaceRow row);
    // Writes one parameter (a speed code 1..6, a parity code, 1 or 2 stop bits, a network
    // number) and adopts it when the device took it. A busy device's later answer is taken
    // without asking again. The code of the write.
    uint8_t write(InterfaceRow row, uint8_t value);
    // What a row shows as the current value: the line's speed in bit/s, parity code, stop
    // bits, or the number requests go to.
    int current(InterfaceRow row) const;

private:
    void adopt(InterfaceRow row, uint8_t value);
    // What a read of the row's register told, taken into the line settings.
    void take_reported(InterfaceRow row);

    Device& d_;
    Report& report_;
};

}  // namespace varnok
