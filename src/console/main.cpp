// The console's entry: the context and its windows, then the message loop.
#include <QApplication>

#include "console/console_windows.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varnok"));

    varnok::ConsoleContext ctx(varnok::SettingsFile::default_path());
    varnok::ConsoleWindows windows(ctx);
    varnok::TFglav& Fglav = *windows.glav;

    Fglav.show();
    // Without a window manager (a virtual X server) nothing would give the window the focus.
    Fglav.activateWindow();
    return QApplication::exec();
}
