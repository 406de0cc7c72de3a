#include <gtest/gtest.h>

#include "console/value_text.h"

namespace varnok {
namespace {

// Qt's locale is pinned to "C" for these (see qt_main.cpp); CommaLocale covers a comma locale.
TEST(ValueText, CFormats)
{
    EXPECT_EQ(c_format("%8.4f", -1.23456), QStringLiteral(" -1.2346"));
    EXPECT_EQ(c_format("%*.*f", 5, 3, 2.0), QStringLiteral("2.000"));
}

TEST(ValueText, GeneralFloatShowsFifteenSignificantDigitsWithoutTrailingZeros)
{
    const std::pair<double, const char*> cases[] = {
        {double(0.1f), "0.100000001490116"},
        {250.0, "250"},
        {-12.25, "-12.25"},
        {0.0, "0"},
        {1.0 / 3.0, "0.333333333333333"},
        {123456789.125, "123456789.125"},
        {0.00001, "0.00001"},
        {0.000001, "1E-6"},
        {1.5e-7, "1.5E-7"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1E15"},
        {-2.5e20, "-2.5E20"},
    };
    for (auto [v, text] : cases)
        EXPECT_EQ(general_float(v).toStdString(), text) << v;
}

TEST(ValueText, IndicatorTextIsAlwaysFiveCharacters)
{
    const struct {
        uint8_t position;
        uint16_t number;
        const char* text;
    } cases[] = {
        {1, 5, "00.05"},    {0, 1234, "1.234"}, {3, 42, "0042."}, {2, 12345, "123.4"},
        {7, 1234, "....."}, {2, 750, "075.0"},  {0, 0, "0.000"},  {3, 65535, "6553."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(prScl_to_dddd(c.position, c.number).toStdString(), c.text) << int(c.position) << " " << c.number;
}

}  // namespace
}  // namespace varnok
