// Runs the console's tests inside a Qt application, headless unless told otherwise.
//
// The application takes its locale from the environment. Qt's locale is pinned to "C" so that
// tests expecting a decimal point pass whatever the machine's locale is; the suite CommaLocale
// runs on its own under ru_RU.UTF-8 and goes back to the environment's locale.
#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
