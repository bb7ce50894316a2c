// The raw white level estimated from a background frame (no finger on the
// sensor): the library's IMG_DATA_WHITE follows the sensor's actual level.
#ifndef QV_WHITE_LEVEL_H
#define QV_WHITE_LEVEL_H

#include <cstdint>

// Half side of the median window (7 x 7).
inline constexpr int32_t kMedianHalf = 3;

// Copies the frame into out, then replaces every pixel at least kMedianHalf
// pixels from every edge with the median of its 7 x 7 window.
void MedianFilter16(const uint16_t *frame, uint16_t *out, int32_t w, int32_t h);

// White level of a background frame, using out (w x h values) for the
// filtered frame: the smallest inner value above the mean of the bright
// inner values (less 300), lowered by 120.
int32_t GetMaskThresholdByBack16(const uint16_t *frame, uint16_t *out, int32_t w, int32_t h);

#endif
