#pragma once
// Numbers as the calibration page shows them.

#include <QString>
#include <cstdint>

namespace varnok {

// Upper-case hexadecimal with leading zeros: 4 or 8 digits.
inline QString hex4(uint32_t v) { return QStringLiteral("%1").arg(v & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper(); }
inline QString hex8(uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper(); }

}  // namespace varnok
