#include "console/tfmsetup.h"

#include "console/busy.h"
#include "console/console_context.h"
#include "console/exchange_log.h"
#include "console/frame_log.h"
#include "console/readings_page.h"
#include "console/tfglav.h"

namespace varnok {

TFMsetup::TFMsetup(ConsoleContext& ctx, TFglav& glav) : ctx_(ctx), glav_(glav)
{
    setObjectName(QStringLiteral("TFMsetup"));
    FormCreate();
}

void TFMsetup::FormCreate()
{
    Busy busy(ctx_.busy);
    SettingsFile& ini = ctx_.settings;
    if (ini.open_or_create()) {
        ini.read_port();
        ini.From_Ini();
    }
    if (!ini.problem().empty())
        glav_.log().append(QString::fromStdString(ini.problem()));
    ini.read_ports(ctx_.ports);
    glav_.show_connection();
    glav_.log().frames().set_keep_days(ini.frame_log_days());
    glav_.apply_frame_log(ini.frame_log());

    glav_.readings().polling().probe();
}

}  // namespace varnok
