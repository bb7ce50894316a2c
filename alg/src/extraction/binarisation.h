// Binary ridge image from the filtered image: an oriented local-mean
// threshold, removal of isolated noise pixels, and the valley image.
// Binary images hold 0 (black: ridge) and 255 (white).
#ifndef QV_BINARISATION_H
#define QV_BINARISATION_H

#include <cstdint>

// A pixel inside the 32-pixel frame with an orientation is black when its
// weighted mean along the ridge is darker than the plain mean across it.
// Everything else is white. Returns 0.
int32_t binary(const uint8_t *filtered, const uint8_t *orient, uint8_t *out, int32_t w, int32_t h);

// Flips, in a few rounds, the finger pixels that have fewer than three
// neighbours of their own value. The scratch holds the marks.
void binaryClear(uint8_t *image, const uint8_t *mask, uint8_t *scratch, int32_t w, int32_t h);

// Valley image: black where the finger mask is set and the binary image is
// white, inside a frame of the given width; white elsewhere. Returns 0.
int32_t binaryinversion(const uint8_t *image, uint8_t *out, const uint8_t *mask, int32_t w, int32_t h, int32_t frame);

#endif
