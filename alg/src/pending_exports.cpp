// Entry points whose stages are not built yet. Each returns kNotBuilt so a host
// can tell "not available" from a real result. An entry point leaves this file
// when its stage lands.
#include "QVAlgDll.h"

namespace {
constexpr int16_t kNotBuilt = -100;
}

extern "C" {}  // extern "C"
