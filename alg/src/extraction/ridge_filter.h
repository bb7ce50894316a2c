// Oriented ridge filter: a smoothing pass along the local ridge direction and
// a ridge-enhancing pass across it, both steered by the orientation map.
#ifndef QV_RIDGE_FILTER_H
#define QV_RIDGE_FILTER_H

#include <cstdint>

// Filters the w x h image in place inside the 32-pixel frame; pixels without
// an orientation (255) and the frame become 250. The scratch keeps the
// along-ridge pass.
void orientFilter(uint8_t *image, const uint8_t *orient, uint8_t *scratch, int32_t w, int32_t h);

#endif
