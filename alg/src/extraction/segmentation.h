// Operations on the finger mask (0 = finger, 255 = background): blanking the
// background in the images, the 4 x 4 cell compression the template stores,
// the packing of block pixels for the dry/wet measure and the growth of the
// finger region with its finger-position limits.
#ifndef QV_SEGMENTATION_H
#define QV_SEGMENTATION_H

#include <cstdint>

// Sets the image and the orientation map to 255 wherever the mask is 255.
void segment_clearEdge(const uint8_t *mask, uint8_t *orient, uint8_t *image, int32_t w, int32_t h);

// Compresses the mask in place into (w / 4) x (h / 4) cells, 255 where a cell
// holds at least 9 background pixels, and updates w and h.
void CompressGndImg(uint8_t *mask, int32_t *w, int32_t *h);

// Packs the values of the finger pixels of the block at (x0, y0) into the
// block buffer (bw x bh bytes, first filled with 255). Returns the area of
// the block clipped to the image.
int32_t gegSegImg(const uint8_t *image, const uint8_t *mask, int32_t w, int32_t h, uint8_t *block, int32_t x0,
                  int32_t y0, int16_t bw, int16_t bh);

// Grows the finger region by a disc of radius r around every finger pixel
// on its boundary inside the finger's bounding box within rows top..bottom
// and columns left..right. With r = 6 the box must also satisfy the
// configured finger-position limits. Returns 1, or 0 (mask unchanged) when a
// limit fails or r does not fit the disc table.
int32_t vwn_ImageErode3(uint8_t *mask, uint8_t *scratch, int32_t w, int32_t h, int32_t r, int32_t top, int32_t bottom,
                        int32_t left, int32_t right);

#endif
