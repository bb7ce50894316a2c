// Contrast of the 8-bit capture for feature extraction: the 10-bit
// normalisation the descriptors read, and the local-rank enhancement of the
// orientation field's re-estimation. (The histogram stretch that comes first
// is conditioning: histogram_stretch.h.)
#ifndef QV_CONTRAST_NORMALISATION_H
#define QV_CONTRAST_NORMALISATION_H

#include <cstdint>

// Maps the image linearly onto 0..1023 with an integer gain. Returns 1, or 0
// (output cleared) for a flat image.
int32_t Normalize(const uint8_t *image, int16_t *out, int32_t w, int32_t h);

// Local-rank enhancement: b becomes the scaled difference of a and b, then a
// becomes the rank of each finger pixel of b within its 9 x 9 neighbourhood
// (0..255). A pixel (y, x) is finger when halfMask[(y / 2) * (w / 2) + x / 2]
// is below 255. Returns 1.
int32_t ContrastEnhance(uint8_t *a, uint8_t *b, const uint8_t *halfMask, int32_t w, int32_t h);

#endif
