// Runs the console's tests inside a Qt application, headless unless told otherwise.
//
// The application takes its locale from the environment. Qt's locale is pinned to "C" so that
// tests expecting a decimal point pass whatever the machine's locale is; the suite CommaLocale
// runs on its own under ru_RU.UTF-8 and goes back to the environment's locale.
//
// Tests run side by side: the folders the console and Qt write to without being told (the
// frame log's state folder, Qt's runtime folder, caches) are the test's own, in a folder
// under TMPDIR removed at its end, never the user's home.
#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir own;
    for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
        if (own.isValid() && qEnvironmentVariableIsEmpty(name)) {
            const QByteArray path = QFile::encodeName(own.filePath(QString::fromLatin1(name)));
            ::mkdir(path.constData(), 0700);
            qputenv(name, path);
        }
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
