// Number texts under a Russian locale, as the console's users run it: the C library and Qt
// both take ru_RU.UTF-8 from the environment (ctest runs this suite so).
#include <clocale>

#include "console/value_text.h"
#include "console_fixture.h"

namespace varnok::test {
namespace {

class CommaLocale : public ConsoleOnSim {
protected:
    void SetUp() override
    {
        if (qgetenv("LC_ALL") != "ru_RU.UTF-8")
            GTEST_SKIP() << "runs with LC_ALL=ru_RU.UTF-8";
        ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "ru_RU.UTF-8 missing (scripts/deps.sh makes it)";
        QLocale::setDefault(QLocale::system());
        ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
};

TEST_F(CommaLocale, NumbersAreFormattedWithAPointThenGetTheComma)
{
    const std::pair<QString, const char*> cases[] = {
        {c_format("%8.3f", 50.0), "  50,000"}, {c_format("%*.*f", 6, 1, 250.0), " 250,0"},
        {general_float(225.0), "225"},         {general_float(106.25), "106,25"},
        {general_float(1.5e-6), "1,5E-6"},     {general_float(double(0.1f)), "0,100000001490116"},
    };
    for (const auto& [got, want] : cases)
        EXPECT_EQ(got.toStdString(), want);
}

TEST_F(CommaLocale, TheReadingsPageShowsTheSimulatorsValues)
{
    start_all();
    EXPECT_EQ(text("LE_max1"), "225");
    EXPECT_EQ(text("LE_min1"), "25");
    EXPECT_EQ(text("LE_Scl1"), " 250,0");
    click(find<QLineEdit>("LEizm_te1"));
    EXPECT_EQ(text("LEizm_te1"), "106,25");
}

}  // namespace
}  // namespace varnok::test
