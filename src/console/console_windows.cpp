#include "console/console_windows.h"

namespace varnok {

ConsoleWindows::ConsoleWindows(ConsoleContext& ctx)
    : glav(std::make_unique<TFglav>(ctx)),
      about(std::make_unique<TFabout>(glav.get())),
      comdcb(std::make_unique<TFcomdcb>(ctx.link)),
      setup(std::make_unique<TFMsetup>(ctx, *glav)),
      msg(std::make_unique<TFmsg>())
{
    glav->set_windows(about.get(), comdcb.get(), msg.get());
}

}  // namespace varnok
