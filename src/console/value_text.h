#pragma once
// Numbers as the console shows them: C formats with the locale's decimal separator.

#include <QString>

class QTime;

namespace varnok {

// A C format of one floating-point value (with optional width and precision arguments),
// with the point replaced by the locale's decimal separator.
QString c_format(const char* format, double value);
QString c_format(const char* format, int width, int precision, double value);

// Up to 15 significant digits, no trailing zeros; scientific notation only below 0.00001
// or from 10^15 up.
QString general_float(double value);

// The time of day in the locale's long format, without the time zone.
QString long_time(const QTime& t);

// Hexadecimal of a frame: two upper-case digits and a blank per byte.
QString hex_bytes(const uint8_t* bytes, size_t count);

}  // namespace varnok
