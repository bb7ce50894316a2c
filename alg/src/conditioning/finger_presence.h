// Finger presence on an 8-bit capture: how much of the image a finger covers,
// from the strength of the ridge gradients at half resolution, and the
// centroid of its dark pixels.
#ifndef QV_FINGER_PRESENCE_H
#define QV_FINGER_PRESENCE_H

#include <cstdint>

// Radius of the detector's finger-growing and background-growing discs.
inline constexpr int32_t kDetectDiscRadius = 5;

// Percentage 0..100 of the image covered by finger whose mean brightness lies
// strictly between lo and hi; 0 when no usable finger is found or when the
// image does not fit the library's buffers (its copy padded by 32 pixels on
// every side must fit g_pImgbuf, and half of that padded size must stay within
// the dilation's byte coordinates). Uses g_pImgbuf, the given workspace
// (tempbuf, 4 x the half-size image) and nImageFilter.
int16_t vwn_GetImgAreaScore(const uint8_t *image, uint8_t *work, int32_t w, int32_t h, uint8_t lo, uint8_t hi);

// Halves a w x h image into out ((w / 2) x (h / 2)): rim pixels are sampled,
// inner pixels take the 3 x 3 (4, 2, 1) smoothing at every second pixel.
void zoomout1(const uint8_t *image, int32_t w, int32_t h, uint8_t *out);

// Grows the finger (0) of a mask by the disc of radius r: every pixel within
// the disc of a finger pixel becomes finger. The disc table is left in
// nImageFilter. Returns 0 (mask unchanged) for a radius the table cannot hold.
int32_t vwn_ImageErode(uint8_t *mask, int32_t w, int32_t h, int32_t r);

// Mean column and row of the pixels below 128. Returns 1, or 0 with the
// outputs untouched when there is none. The workspace is not used.
int32_t CalFingerCentroid(const uint8_t *image, uint8_t *work, int32_t w, int32_t h, int32_t *column, int32_t *row);

#endif
