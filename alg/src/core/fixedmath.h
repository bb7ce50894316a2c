// Integer geometry: whole-degree directions measured from +x towards +y (y
// down), sines and cosines scaled by 512, table arctangents and vector
// lengths, integer square roots. Templates store values computed with these,
// so every result is bit-exact on every platform.
#ifndef QV_FIXEDMATH_H
#define QV_FIXEDMATH_H

#include <cstdint>

#include "QVAlgDll.h"

int32_t sin512(int32_t a);
int32_t cos512(int32_t a);
// Direction (0..359) of the vector (c, s).
int32_t atan_256(int32_t s, int32_t c);
// Direction from point 1 to point 2.
int32_t GetAngle(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Approximately sqrt(a * a + b * b); components below 2896 in magnitude.
int32_t sqrt_256(int32_t a, int32_t b);
// Integer square root of abs(n) after exactly 20 Newton steps.
int32_t getSqrtByInt(int32_t n);
// Integer square root of n by Newton steps until two estimates differ by at most 1.
int32_t SqrtByNewton(int32_t n);
// Angle between two undirected lines given as orientations 0..179: 0..90.
int32_t GetJiajiao(int32_t a, int32_t b);
// Angle between two directions 0..359: 0..180.
int32_t AngleAbs360(int32_t a, int32_t b);
// Turn from direction a to direction b: 0..359.
int32_t GetAngleDis(int32_t a, int32_t b);
// Mean of two directions across the 0/360 wrap.
int32_t AngleMean360(int32_t a, int32_t b);
// Bin of orientation a for n = 8, 12, 16 or 18 bins (bin 0 around 0 and 180).
int32_t DDIndex(int32_t a, int32_t n);
// b - a, plus 10 when wrap is set and the difference is negative.
int32_t getOriChange(int32_t a, int32_t b, uint8_t wrap);

// Column and row of a pixel pointer in a row-major buffer of stride w.
template <typename T>
inline int32_t PX(const T *p, const T *base, int32_t w) {
    return static_cast<int32_t>(static_cast<int64_t>(p - base) % w);
}
template <typename T>
inline int32_t PY(const T *p, const T *base, int32_t w) {
    return static_cast<int32_t>(static_cast<int64_t>(p - base) / w);
}

#endif
