#include <cstdio>
#include <cstdlib>

#include "targets.h"

namespace varnok::fuzz {

namespace {
FailureHandler& handler()
{
    static FailureHandler h;
    return h;
}
}  // namespace

void set_failure_handler(FailureHandler h) { handler() = std::move(h); }

void expect(bool holds, const char* what)
{
    if (holds)
        return;
    if (handler()) {
        handler()(what);
        return;
    }
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

}  // namespace varnok::fuzz
