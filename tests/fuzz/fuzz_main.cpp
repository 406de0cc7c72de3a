// The libFuzzer entry of one target, chosen when the executable is built.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return VARNOK_FUZZ_ENTRY(data, size); }
