// The console's entry: the windows in their order of creation, then the message loop.
#include <QApplication>

#include "console/console_context.h"
#include "console/search/tfmsg.h"
#include "console/tfabout.h"
#include "console/tfcomdcb.h"
#include "console/tfglav.h"
#include "console/tfmsetup.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varnok"));

    varnok::ConsoleContext ctx(varnok::SettingsFile::default_path());
    varnok::TFglav Fglav(ctx);
    varnok::TFabout Fabout(&Fglav);
    varnok::TFcomdcb Fcomdcb(ctx.link);
    varnok::TFMsetup FMsetup(ctx, Fglav);
    varnok::TFmsg Fmsg;
    Fglav.set_windows(&Fabout, &Fcomdcb, &Fmsg);

    Fglav.show();
    // Without a window manager (a virtual X server) nothing would give the window the focus.
    Fglav.activateWindow();
    return QApplication::exec();
}
