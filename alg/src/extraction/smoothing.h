// Mask-aware smoothing of the capture and the half-resolution reduction the
// orientation field works on.
#ifndef QV_SMOOTHING_H
#define QV_SMOOTHING_H

#include <cstdint>

// Separable 13-tap smoothing of the 10-bit image over finger pixels (mask
// below 255) only; background pixels keep their values. Both buffers end
// with the result.
void GaussSmooth2(int16_t *in, const uint8_t *mask, int16_t *out, int32_t w, int32_t h);

// 3 x 3 smoothing (weights 4, 2, 1) that leaves out background pixels and
// white spots (value 255 in the mask or in the white-spot image). Border
// pixels and pixels that are themselves left out are copied.
void vwn_GaussSmooth2(const uint8_t *image, const uint8_t *whiteSpots, const uint8_t *mask, uint8_t *out, int32_t w,
                      int32_t h);

// Half-resolution copy of an expanded image: the source area is reduced with
// a 3 x 3 (4, 2, 1) kernel every step pixels, the frame of the half image is
// 240 and its outermost source row and column are copied from the image.
// The output is (w / 2) x (h / 2).
void zoomout2(const uint8_t *image, int32_t w, int32_t h, uint8_t *out, int32_t *outW, int32_t *outH, int32_t step);

#endif
