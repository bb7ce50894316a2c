// Histogram stretch of an 8-bit capture, measured in a window at the sensor
// centre: the first step of template creation and of finger detection.
#ifndef QV_HISTOGRAM_STRETCH_H
#define QV_HISTOGRAM_STRETCH_H

#include <cstdint>

// Stretches the grey levels of the whole image so that the centre window
// spans 0..250. Returns 1, or 0 (image unchanged) when the window has too
// little contrast to stretch.
int32_t ExpandHistogram(uint8_t *image, int32_t w, int32_t h);

#endif
