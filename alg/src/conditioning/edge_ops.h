// In-place border operations on byte images and the disc dilation of a finger
// mask (0 = finger, 255 = background).
#ifndef QV_EDGE_OPS_H
#define QV_EDGE_OPS_H

#include <cstdint>

// The dilation stores pixel coordinates as single bytes: images it processes
// are at most this many pixels wide and high.
inline constexpr int32_t kMaxByteCoordImage = 256;

// Grows the image in place to (w + 2b) x (h + 2b): the old rows move into the
// middle and a border of b pixels of the fill value surrounds them. *w and *h
// are updated. The buffer must hold the grown image.
void vwn_ExpandEdge(uint8_t *image, int32_t *w, int32_t *h, int32_t b, uint8_t fill);

// Shrinks the image in place to (w - 2bx) x (h - 2by) by dropping bx columns
// on the left and right and by rows at the top and bottom. *w and *h are
// updated. A border that would leave nothing is refused (image unchanged).
void vwn_CropEdge(uint8_t *image, int32_t *w, int32_t *h, int32_t bx, int32_t by);

// Grows the background of the mask into the finger by a disc of radius r:
// every background pixel of the box around the finger (inside the window of
// rows top..bottom and columns left..right) that touches a finger pixel
// stamps the disc with 255. The disc table is left in nImageFilter. The
// scratch must hold 2 x w x h bytes (cleared, then the boundary list as column
// and row bytes). Returns 1, or 0 without touching the mask when the image is
// larger than kMaxByteCoordImage, the window lies outside the image or the
// radius does not fit the disc table.
int32_t vwn_ImageDilate3(uint8_t *mask, uint8_t *scratch, int32_t w, int32_t h, int32_t r, int32_t top, int32_t bottom,
                         int32_t left, int32_t right);

#endif
