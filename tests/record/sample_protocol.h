#pragma once
// A protocol of literal values for the documents' tests, on Linux and under Wine.

#include "record/protocol_files.h"

namespace varnok::test {

using namespace varnok::record;

// A measured point of a 250-unit scale, three readings.
inline CheckPoint point(double percent, double reference, double mean, double min, double max, double stdev,
                 double tolerance)
{
    CheckPoint p;
    p.percent = percent, p.nominal = reference, p.reference = reference, p.samples = 3;
    p.readings = {min, mean, max};
    p.mean = mean, p.min = min, p.max = max, p.stdev = stdev;
    p.error = mean - reference;
    p.reduced_error = p.error / 250 * 100;
    p.fit = (p.reduced_error < 0 ? -p.reduced_error : p.reduced_error) <= tolerance;
    return p;
}

inline ChannelCheck channel(int number, const std::string& unit, uint16_t zero, float coefficient)
{
    ChannelCheck c;
    c.channel = number, c.full_scale = 250, c.unit = unit;
    c.constants = {true, zero, coefficient};
    return c;
}

// Channel 1 reads 1.5 % high before the calibration; channel 2's read at 50 % fails. After the
// calibration both are within 0.5 %.
inline Protocol sample()
{
    Protocol p;
    p.issued = "2026-12-11 14:05:23";
    p.unit = {"Варнок-3", "2.0.3.6", "ЗН-0427", 7, "/dev/ttyUSB0 9600 8N1"};
    p.number = protocol_number(p.unit, p.issued);
    p.engineer = "Иванов И. И.";
    p.reference = {"Калибратор КЛ-1", "1234", "2027-03-01"};
    p.tolerance = 0.5;

    CheckRun found;
    found.kind = CheckKind::AsFound, found.started = "2026-12-11 13:50:00", found.tolerance = 0.5;
    ChannelCheck c1 = channel(1, "В", 512, 1.0234f);
    c1.points = {point(0, 0, 0.01, 0.0, 0.02, 0.01, 0.5), point(50, 125, 128.75, 128.7, 128.8, 0.05, 0.5),
                 point(100, 250, 253.75, 253.7, 253.8, 0.05, 0.5)};
    ChannelCheck c2 = channel(2, "мА", 498, 0.9981f);
    c2.points = {point(0, 0, -0.02, -0.03, -0.01, 0.01, 0.5), point(50, 125, 0, 0, 0, 0, 0.5)};
    c2.points[1].readings = {125.1};
    c2.points[1].failure = "нет ответа на чтение регистров 0x4C-0x4D";
    c2.points[1].fit = false;
    found.channels = {c1, c2};
    p.as_found = found;

    CheckRun left = found;
    left.kind = CheckKind::AsLeft, left.started = "2026-12-11 14:02:10";
    left.channels[0].constants = {true, 505, 0.9871f};
    left.channels[1].constants = {true, 498, 0.00005f};  // a small one prints without an exponent
    left.channels[0].points = {point(0, 0, 0.01, 0.0, 0.02, 0.01, 0.5),
                               point(50, 125, 125.25, 125.2, 125.3, 0.05, 0.5),
                               point(100, 250, 250.5, 250.4, 250.6, 0.1, 0.5)};
    left.channels[1].points[1] = point(50, 125, 124.9, 124.8, 125.0, 0.1, 0.5);
    for (ChannelCheck& c : left.channels)
        c.fit = true;
    p.as_left = left;
    return p;
}

}  // namespace varnok::test
