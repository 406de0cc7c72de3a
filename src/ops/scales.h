#pragma once
// The channels' scales (full-scale value, decimal point, unit) and setpoints (upper and
// lower), read and written. Values are entered as the indicator shows them: four digits and
// the position of the decimal point.

#include <cstdint>

namespace varnok {

class Device;
class Report;
struct Exchange;

// The two setpoints of a channel.
enum Limit : int { kMax, kMin };

// The value four digits stand for with a decimal point position: 0 d.ddd, 1 dd.dd, 2 ddd.d,
// 3 (or none) dddd; in single precision, as the device keeps it.
float entry_value(uint16_t number, uint8_t decpos);

class Scales {
public:
    Scales(Device& device, Report& report) : d_(device), report_(report) {}

    // Reads channel k's scale into the device record; the code.
    uint8_t read_scale(int k);

    struct Written {
        uint8_t value;   // the full-scale value's write
        uint8_t format;  // the decimal point and unit's write
    };
    // Writes the value first, then the point and unit, whatever the first write gave. The
    // record takes the value when it was written, and the point and unit with it once both
    // are in the device.
    Written write_scale(int k, uint16_t number, uint8_t decpos, uint8_t unit);

    // Reads channel k's two setpoints into the device record; the code.
    uint8_t read_setpoints(int k);
    // Writes one setpoint; the code.
    uint8_t write_setpoint(int k, Limit limit, uint16_t number, uint8_t decpos);
    // Writes one setpoint as the float it is to hold, any value the device may keep; the code.
    uint8_t write_setpoint(int k, Limit limit, float value);

private:
    // The line of a failed write: the receive's outcome, the write's prefix, the error line.
    void report_write(const char* prefix, const Exchange& x);

    Device& d_;
    Report& report_;
};

}  // namespace varnok
