// Mean filter at half resolution, used to estimate the local background of
// the capture before the orientation field's contrast enhancement.
#ifndef QV_AVERAGE_SAMPLE_H
#define QV_AVERAGE_SAMPLE_H

#include <cstdint>

// Replaces the w x h image by a smooth version of itself: 2 x 2 means every
// step pixels, a 3 x 3 mean on that half image (edges and corners use the
// neighbours they have), then each half pixel repeated over its 2 x 2 block.
// The scratch must hold (w / 2) x (h / 2) bytes.
void avergeSample(uint8_t *image, int32_t w, int32_t h, uint8_t *scratch, int32_t step);

#endif
