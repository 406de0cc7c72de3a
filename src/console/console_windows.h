#pragma once
// The console's windows over one context, created in the program's order and wired to each
// other: the program's entry, the tests, the soak and the bench all start the console so.

#include <memory>

#include "console/console_context.h"
#include "console/search/tfmsg.h"
#include "console/tfabout.h"
#include "console/tfcomdcb.h"
#include "console/tfglav.h"
#include "console/tfmsetup.h"

namespace varnok {

struct ConsoleWindows {
    explicit ConsoleWindows(ConsoleContext& ctx);

    // Each window on its own, so that a test can end them one by one in the reverse order;
    // the members are destroyed so too.
    std::unique_ptr<TFglav> glav;
    std::unique_ptr<TFabout> about;
    std::unique_ptr<TFcomdcb> comdcb;
    std::unique_ptr<TFMsetup> setup;
    std::unique_ptr<TFmsg> msg;
};

}  // namespace varnok
