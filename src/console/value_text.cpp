#include "console/value_text.h"

#include <QLocale>
#include <QTime>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <locale.h>

namespace varnok {

namespace {

// Formats in the "C" numeric locale on this thread, whatever locale the process runs
// under (the application sets the C library's locale from the environment, and a comma
// locale would already write a comma). The point is replaced afterwards, in one place.
class CNumeric {
public:
    CNumeric() : previous_(uselocale(c_locale())) {}
    ~CNumeric() { uselocale(previous_); }
    CNumeric(const CNumeric&) = delete;
    CNumeric& operator=(const CNumeric&) = delete;

private:
    static locale_t c_locale()
    {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        return c;
    }
    locale_t previous_;
};

QString localised(const char* text)
{
    QString s = QString::fromLatin1(text);
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
    const CNumeric c;
    char text[512];
    std::snprintf(text, sizeof text, format, value);
    return localised(text);
}

QString c_format(const char* format, int width, int precision, double value)
{
    const CNumeric c;
    char text[512];
    std::snprintf(text, sizeof text, format, width, precision, value);
    return localised(text);
}

QString general_float(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");
    const CNumeric c;
    const double magnitude = std::fabs(value);
    char text[64];
    if (magnitude < 1e-5 || magnitude >= 1e15) {
        std::snprintf(text, sizeof text, "%.14E", value);
        std::string s = text;
        const size_t e = s.find('E');
        std::string mantissa = trim_zeros(s.substr(0, e));
        const int exponent = std::atoi(s.c_str() + e + 1);
        return localised((mantissa + "E" + std::to_string(exponent)).c_str());
    }
    const int before_point = static_cast<int>(std::floor(std::log10(magnitude)));
    const int decimals = before_point >= 14 ? 0 : 14 - before_point;
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return localised(trim_zeros(text).c_str());
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
