// Repair of the thinned skeleton where table thinning leaves more than one
// pixel of width: knots, one-pixel spurs on forks, staircase corners and
// L-shaped knots.
#ifndef QV_SKELETON_REPAIR_H
#define QV_SKELETON_REPAIR_H

#include <cstdint>

// Repairs the skeleton in place inside the 32-pixel frame. `counts` and
// `sums` are w x h byte scratch images (neighbour counts and their sums).
void vwn_ThinModify(uint8_t *skeleton, uint8_t *counts, uint8_t *sums, int32_t w, int32_t h);

#endif
