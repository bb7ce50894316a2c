// Signal strength of a capture: the mean gradient magnitude per hundred inner
// pixels, for 8-bit and raw images.
#ifndef QV_SIGNAL_STRENGTH_H
#define QV_SIGNAL_STRENGTH_H

#include <cstdint>

// Both return at least 1. The raw variant divides each row's sum by 4.
int32_t SignalStrength(const uint8_t *image, int32_t w, int32_t h);
int32_t SignalStrength16(const uint16_t *image, int32_t w, int32_t h);

#endif
