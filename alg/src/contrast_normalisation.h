// Contrast of the 8-bit capture before feature extraction: the histogram
// stretch measured in a window at the sensor centre, the 10-bit
// normalisation the descriptors read, and the local-rank enhancement of the
// orientation field's re-estimation.
#ifndef QV_CONTRAST_NORMALISATION_H
#define QV_CONTRAST_NORMALISATION_H

#include <cstdint>

// Stretches the grey levels of the whole image so that the centre window
// spans 0..250. Returns 1, or 0 (image unchanged) when the window has too
// little contrast to stretch.
int32_t ExpandHistogram(uint8_t *image, int32_t w, int32_t h);

// Maps the image linearly onto 0..1023 with an integer gain. Returns 1, or 0
// (output cleared) for a flat image.
int32_t Normalize(const uint8_t *image, int16_t *out, int32_t w, int32_t h);

// Local-rank enhancement: b becomes the scaled difference of a and b, then a
// becomes the rank of each finger pixel of b within its 9 x 9 neighbourhood
// (0..255). A pixel (y, x) is finger when halfMask[(y / 2) * (w / 2) + x / 2]
// is below 255. Returns 1.
int32_t ContrastEnhance(uint8_t *a, uint8_t *b, const uint8_t *halfMask, int32_t w, int32_t h);

#endif
