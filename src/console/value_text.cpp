#include "console/value_text.h"

#include <QLocale>
#include <QTime>
#include <clocale>
#include <cmath>
#include <cstdio>

namespace varnok {

namespace {

// The C library writes its locale's decimal separator (the application sets that locale from
// the environment, where a comma locale already writes a comma): it is read back as a point,
// then the point is written as the window's locale has it, in one place.
std::string with_point(std::string s)
{
    const std::string c_point = std::localeconv()->decimal_point;
    if (c_point != ".")
        for (size_t at = s.find(c_point); at != std::string::npos; at = s.find(c_point, at + 1))
            s.replace(at, c_point.size(), ".");
    return s;
}

QString localised(const std::string& text)
{
    QString s = QString::fromLatin1(text.c_str());
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String("."))
        s.replace(QLatin1Char('.'), point);
    return s;
}

std::string trim_zeros(std::string s)
{
    if (s.find('.') == std::string::npos)
        return s;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

}  // namespace

QString c_format(const char* format, double value)
{
    char text[512];
    std::snprintf(text, sizeof text, format, value);
    return localised(with_point(text));
}

QString c_format(const char* format, int width, int precision, double value)
{
    char text[512];
    std::snprintf(text, sizeof text, format, width, precision, value);
    return localised(with_point(text));
}

QString general_float(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");
    const double magnitude = std::fabs(value);
    char text[64];
    if (magnitude < 1e-5 || magnitude >= 1e15) {
        std::snprintf(text, sizeof text, "%.14E", value);
        std::string s = with_point(text);
        const size_t e = s.find('E');
        std::string mantissa = trim_zeros(s.substr(0, e));
        const int exponent = std::atoi(s.c_str() + e + 1);
        return localised(mantissa + "E" + std::to_string(exponent));
    }
    const int before_point = static_cast<int>(std::floor(std::log10(magnitude)));
    const int decimals = before_point >= 14 ? 0 : 14 - before_point;
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return localised(trim_zeros(with_point(text)));
}

QString long_time(const QTime& t)
{
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale().toString(t, format.trimmed());
}

int decimals_of(uint8_t dec_position) { return dec_position <= 3 ? 3 - dec_position : 0; }

QString prScl_to_dddd(uint8_t position, uint16_t number)
{
    QString s = QString::number(number);
    if (s.size() < 4)
        s = QString(4 - s.size(), QLatin1Char('0')) + s;
    if (position > 3)
        return QStringLiteral(".....");
    // The point goes after digit position + 1; for 3, after the fourth digit.
    return s.left(position + 1) + QLatin1Char('.') + s.mid(position + 1, 3 - position);
}

}  // namespace varnok
