// Entry points whose stages are not built yet. Each returns kNotBuilt so a host
// can tell "not available" from a real result. An entry point leaves this file
// when its stage lands.
#include "QVAlgDll.h"

namespace {
constexpr int16_t kNotBuilt = -100;
}

extern "C" {

int16_t Quorvane_CreateTemplate(uint8_t *, int16_t, int16_t, uint8_t *, int32_t *) { return kNotBuilt; }
int16_t Quorvane_CreateTemplate16(uint16_t *, uint8_t *, int16_t, int16_t, uint8_t *, int32_t *) { return kNotBuilt; }
int16_t Quorvane_MatchScore(const uint8_t *, const uint8_t *) { return kNotBuilt; }
int16_t Quorvane_MergeFeature(const uint8_t *, const uint8_t *, uint8_t *, uint16_t *, uint16_t *, uint16_t *) {
    return kNotBuilt;
}
int16_t Quorvane_RenewFeature(uint8_t *, void *, uint16_t *, uint16_t *) { return kNotBuilt; }
int32_t Quorvane_Enhance16to8(uint16_t *, uint8_t *, int16_t, int16_t) { return kNotBuilt; }
int32_t Quorvane_Enhance16to8_EX(uint16_t *, uint8_t *, int16_t, int16_t, int32_t *) { return kNotBuilt; }
int32_t Quorvane_AutoGain(const uint8_t *, int32_t, int32_t, int32_t *, int32_t *) { return kNotBuilt; }
int32_t Quorvane_AutoGain16(const uint16_t *, int32_t, int32_t, int32_t *, int32_t *) { return kNotBuilt; }
int32_t Quorvane_CalCentroid(const uint8_t *, int32_t, int32_t, int32_t *, int32_t *) { return kNotBuilt; }
int16_t Quorvane_DetectFinger(const uint8_t *, int16_t, int16_t, uint8_t, uint8_t) { return kNotBuilt; }
int32_t Quorvane_SignalStrength(const uint8_t *, int16_t, int16_t) { return kNotBuilt; }
int32_t Quorvane_SignalStrength16(const uint16_t *, int16_t, int16_t) { return kNotBuilt; }
int32_t Quorvane_GetMaskThresholdByBack16(const uint16_t *, int32_t, int32_t) { return kNotBuilt; }

}  // extern "C"
