// Fixed-point FFT of 64 x 64 frames. Values are int32 pairs (real,
// imaginary) of modulus below 2^16; twiddles are Q14; every butterfly stage
// halves its outputs with rounding, so a frame transform divides by 4096 and
// products stay within 32 bits. The butterflies of a pass run over whole rows
// (64 lanes with one twiddle), which the compiler vectorises.
#ifndef QV_FIXED_FFT_H
#define QV_FIXED_FFT_H

#include <cstdint>

inline constexpr int32_t kFftLog = 6;
inline constexpr int32_t kFftSize = 1 << kFftLog;
inline constexpr int32_t kFftCells = kFftSize * kFftSize;
inline constexpr int32_t kTwiddleShift = 14;

// sin(2 pi k / 64) and cos(2 pi k / 64) in Q14, from an integer Taylor series
// evaluated by the compiler (k any integer).
int32_t FftSin(int32_t k);
int32_t FftCos(int32_t k);

// 6-bit bit reversal.
int32_t BitReverse6(int32_t i);

// A frame: 64 x 64 real and imaginary parts, row-major.
struct FftFrame {
    int32_t re[kFftCells];
    int32_t im[kFftCells];
};

// In-place transform of the natural-order frame (frame[y][x] becomes
// frame[ky][kx]) through `scratch`. inverse: exp(+2 pi i ...) instead of
// exp(-2 pi i ...).
void Fft2D(FftFrame &frame, FftFrame &scratch, bool inverse);

// The same transform for input already placed as loaded[BitReverse6(kx)][ky]
// (the layout of the first pass): saves the first reordering when a caller
// fills a sparse spectrum. When every ky with |ky| > kyLimit is zero (a band
// limited spectrum), the first pass leaves those columns alone: they stay
// zero through it, so the result is the same.
void Fft2DFromLoaded(FftFrame &loaded, FftFrame &out, bool inverse, int32_t kyLimit = kFftSize / 2);

#endif
