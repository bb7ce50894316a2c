// Entry points whose stages are not built yet. Each returns kNotBuilt so a host
// can tell "not available" from a real result. An entry point leaves this file
// when its stage lands.
#include "QVAlgDll.h"

namespace {
constexpr int16_t kNotBuilt = -100;
}

extern "C" {

int16_t Quorvane_MatchScore(const uint8_t *, const uint8_t *) { return kNotBuilt; }
int16_t Quorvane_MergeFeature(const uint8_t *, const uint8_t *, uint8_t *, uint16_t *, uint16_t *, uint16_t *) {
    return kNotBuilt;
}
int16_t Quorvane_RenewFeature(uint8_t *, void *, uint16_t *, uint16_t *) { return kNotBuilt; }

}  // extern "C"
