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

// Decimals of a value shown with its scale's decimal point position (0 "d.ddd" .. 3
// "dddd"); a position outside the four shows no decimals rather than a negative precision.
int decimals_of(uint8_t dec_position);

// A four-digit number as the device's indicator shows it with a decimal point position:
// always five characters, e.g. "00.05", "0042."; a position outside 0..3 gives ".....".
// Of a number above 9999 the first four digits are shown.
QString prScl_to_dddd(uint8_t position, uint16_t number);

}  // namespace varnok
