// The disc of the morphology operations (mask dilation and erosion, finger
// detection): a (2r + 1) x (2r + 1) byte table in nImageFilter, 1 where
// dy * dy + dx * dx <= r * r and 0 elsewhere, row-major from (-r, -r).
#ifndef QV_DISC_H
#define QV_DISC_H

#include <cstdint>

// Largest radius whose table fits the 300 bytes of nImageFilter.
inline constexpr int32_t kMaxDiscRadius = 8;

// Fills nImageFilter with the disc of radius r. Returns false (and leaves the
// table alone) for a radius outside 0..kMaxDiscRadius.
bool BuildDiscTable(int32_t r);

#endif
