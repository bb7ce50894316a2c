// Thinning of the binary ridge (or valley) image to a one-pixel skeleton and
// the removal of isolated points and short spurs from it.
#ifndef QV_THINNING_H
#define QV_THINNING_H

#include <cstdint>

// Thins the black regions in place with alternating horizontal and vertical
// sweeps until a full iteration erases nothing. The scratch receives a copy
// of the input. Returns 0.
int32_t imageThin(uint8_t *image, uint8_t *scratch, int32_t w, int32_t h);

// Erases isolated black pixels and short lines hanging from an ending: up to
// longLimit - 1 pixels after the ending away from the edge of the print, up to
// shortLimit - 1 where the grown mask is set at the ending or the line joins
// another ending. Black pixels must lie at least two pixels inside the image,
// as imageThin leaves them, so that every trace step reads inside it.
// Returns 0.
int32_t thinClear3(uint8_t *skeleton, const uint8_t *grownMask, int32_t w, int32_t h, int32_t shortLimit,
                   int32_t longLimit);

#endif
