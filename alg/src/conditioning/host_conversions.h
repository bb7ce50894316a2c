// Raw-to-8-bit conversions and raw image statistics offered to hosts; the
// library's own pipeline does not call them.
#ifndef QV_HOST_CONVERSIONS_H
#define QV_HOST_CONVERSIONS_H

#include <cstdint>

// output = raw shifted right by (bits - 8), low 8 bits kept. Returns 1.
int32_t Data16to8(const uint16_t *raw, uint8_t *out, int32_t n, int32_t bits);

// Linear map of the levels between DATA16_NORMAL_TO8_MIN and
// DATA16_NORMAL_TO8_MAX (exclusive) onto 0..255. The fourth argument is not
// used. Returns 1.
int32_t Data16Normalto8(const uint16_t *raw, uint8_t *out, int32_t n, int32_t unused);

// Linear map of lo..hi onto 0..255 (below lo 0, from hi on 255). Returns 1.
int32_t Threshold16to8(const uint16_t *raw, uint8_t *out, int32_t n, int32_t lo, int32_t hi);

// Counts every raw value in bins 32-bit counters; values at or beyond bins
// are not counted. Returns 0 when the image or the histogram is missing, else 1.
int32_t Histogram16(const uint16_t *raw, int32_t n, int32_t *histogram, int32_t bins);

// Mean raw value as a double. Returns 0 when the image or the output is
// missing or n is not positive, else 1.
int32_t Avg16(const uint16_t *raw, int32_t n, double *mean);

#endif
