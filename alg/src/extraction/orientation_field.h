// Ridge orientation field and finger mask of the expanded image, estimated
// on a half-resolution grid from Sobel gradients summed over a square window.
#ifndef QV_ORIENTATION_FIELD_H
#define QV_ORIENTATION_FIELD_H

#include <cstdint>

// Byte planes of the half grid the estimation needs: image, mask, and two for
// the scratch of the mask morphology (w * h bytes in all).
inline constexpr int32_t kOrientBytePlanes = 4;
// 32-bit planes: gradient products, their column sums (w * h values in all).
inline constexpr int32_t kOrientWordPlanes = 4;

// Estimates the orientation map (0..179 degrees on the finger, 255 elsewhere)
// and the full-size mask (0 finger, 255 background) of the w x h expanded
// image `smoothed`. `input` is the source-size capture; for a variant with
// enhancedOrientation the gradients are re-estimated on a contrast-enhanced version of
// it, which then replaces both `input` and `smoothed`. `bytes` holds
// kOrientBytePlanes (w / 2) x (h / 2) planes, `words` w * h 32-bit values; r is the window
// radius. Returns 1, or 0 (outputs untouched) when the finger covers too
// little of the sensor or the mask clean-up fails.
int32_t vwn_getOrientMap22(uint8_t *input, uint8_t *smoothed, uint8_t *bytes, int32_t w, int32_t h, uint8_t *orient,
                           uint8_t *mask, int32_t *words, int32_t r);

#endif
