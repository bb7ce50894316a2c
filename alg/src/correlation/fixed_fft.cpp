#include "correlation/fixed_fft.h"

#include <cstring>

namespace {

// sin(pi/2 * q / 16) for q in 0..16, in Q14: Taylor series in Q30 integers.
constexpr int32_t quarterSin(int64_t q) {
    constexpr int64_t kHalfPiQ30 = 1686629713;  // pi / 2 * 2^30
    const int64_t x = kHalfPiQ30 * q / 16;
    int64_t term = x;
    int64_t sum = x;
    for (int64_t n = 1; n <= 10; ++n) {
        term = -((term * x) >> 30) * x >> 30;
        term /= (2 * n) * (2 * n + 1);
        sum += term;
    }
    return static_cast<int32_t>((sum + (1 << 15)) >> 16);
}

struct QuarterTable {
    int32_t v[17];
};

constexpr QuarterTable makeQuarter() {
    QuarterTable t{};
    for (int32_t q = 0; q <= 16; ++q) t.v[q] = quarterSin(q);
    return t;
}

constexpr QuarterTable kQuarter = makeQuarter();
static_assert(kQuarter.v[0] == 0 && kQuarter.v[16] == 1 << kTwiddleShift && kQuarter.v[8] == 11585);

constexpr int32_t reverse6(int32_t i) {
    int32_t r = 0;
    for (int32_t b = 0; b < kFftLog; ++b) r |= ((i >> b) & 1) << (kFftLog - 1 - b);
    return r;
}

constexpr int32_t sinOf(int32_t k) {
    k &= kFftSize - 1;
    if (k <= 16) return kQuarter.v[k];
    if (k <= 32) return kQuarter.v[32 - k];
    if (k <= 48) return -kQuarter.v[k - 32];
    return -kQuarter.v[64 - k];
}

struct Twiddles {
    int32_t cos[kFftSize / 2];
    int32_t sin[kFftSize / 2];
};

constexpr Twiddles makeTwiddles(bool inverse) {
    Twiddles t{};
    for (int32_t k = 0; k < kFftSize / 2; ++k) {
        t.cos[k] = sinOf(k + 16);
        t.sin[k] = inverse ? sinOf(k) : -sinOf(k);
    }
    return t;
}

struct ReverseTable {
    uint8_t v[kFftSize];
};

constexpr ReverseTable makeReverse() {
    ReverseTable t{};
    for (int32_t i = 0; i < kFftSize; ++i) t.v[i] = static_cast<uint8_t>(reverse6(i));
    return t;
}

constexpr ReverseTable kReverse = makeReverse();

constexpr Twiddles kForward = makeTwiddles(false);
constexpr Twiddles kInverse = makeTwiddles(true);

// On x86-64 the butterflies also get an AVX2 build, chosen at load time when
// the processor has it (eight 32-bit lanes with a native multiply instead of
// four emulated ones); integer results are the same either way.
#if defined(__x86_64__) && defined(__GNUC__)
#define QV_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define QV_WIDE_VECTORS
#endif

// One butterfly on each of Lanes lanes (the four rows never overlap).
template <int32_t Lanes>
inline void butterflyLanes(int32_t *__restrict ar, int32_t *__restrict ai, int32_t *__restrict br,
                           int32_t *__restrict bi, int32_t wr, int32_t wi) {
    for (int32_t x = 0; x < Lanes; ++x) {
        const int32_t tr = (br[x] * wr - bi[x] * wi + (1 << 13)) >> kTwiddleShift;
        const int32_t ti = (br[x] * wi + bi[x] * wr + (1 << 13)) >> kTwiddleShift;
        const int32_t ur = ar[x], ui = ai[x];
        ar[x] = (ur + tr + 1) >> 1;
        ai[x] = (ui + ti + 1) >> 1;
        br[x] = (ur - tr + 1) >> 1;
        bi[x] = (ui - ti + 1) >> 1;
    }
}

// Transform along the row index of every column at once; rows must be in
// bit-reversed order, the result is in natural order.
QV_WIDE_VECTORS void butterflyRows(FftFrame &f, const Twiddles &tw) {
    for (int32_t half = 1, step = kFftSize / 2; half < kFftSize; half <<= 1, step >>= 1) {
        for (int32_t start = 0; start < kFftSize; start += 2 * half) {
            for (int32_t j = 0; j < half; ++j) {
                const int32_t a = (start + j) * kFftSize, b = a + half * kFftSize;
                butterflyLanes<kFftSize>(f.re + a, f.im + a, f.re + b, f.im + b, tw.cos[j * step], tw.sin[j * step]);
            }
        }
    }
}

// Lanes of a band limited first pass: columns 0 .. 23 (ky = 0 .. 23) and
// 40 .. 63 (ky = -24 .. -1), three vectors of eight each.
constexpr int32_t kBandLanes = 24;
constexpr int32_t kBandKyLimit = kBandLanes - 1;

// butterflyRows on those lanes only; the others must be zero and stay so.
QV_WIDE_VECTORS void butterflyBandRows(FftFrame &f, const Twiddles &tw) {
    constexpr int32_t high = kFftSize - kBandLanes;
    for (int32_t half = 1, step = kFftSize / 2; half < kFftSize; half <<= 1, step >>= 1) {
        for (int32_t start = 0; start < kFftSize; start += 2 * half) {
            for (int32_t j = 0; j < half; ++j) {
                const int32_t a = (start + j) * kFftSize, b = a + half * kFftSize;
                const int32_t wr = tw.cos[j * step], wi = tw.sin[j * step];
                butterflyLanes<kBandLanes>(f.re + a, f.im + a, f.re + b, f.im + b, wr, wi);
                butterflyLanes<kBandLanes>(f.re + a + high, f.im + a + high, f.re + b + high, f.im + b + high, wr, wi);
            }
        }
    }
}

// out[BitReverse6(c)][r] = in[r][c]: the transpose that puts the next pass's
// index in bit-reversed row order.
// Columns from zeroFrom to zeroTo - 1 are known to be zero: their rows are
// cleared instead of read.
void transposeReversing(const FftFrame &in, FftFrame &out, int32_t zeroFrom = 0, int32_t zeroTo = 0) {
    for (int32_t c = 0; c < kFftSize; ++c) {
        int32_t *re = out.re + kReverse.v[c] * kFftSize;
        int32_t *im = out.im + kReverse.v[c] * kFftSize;
        if (c >= zeroFrom && c < zeroTo) {
            std::memset(re, 0, sizeof(int32_t) * kFftSize);
            std::memset(im, 0, sizeof(int32_t) * kFftSize);
            continue;
        }
        for (int32_t r = 0; r < kFftSize; ++r) {
            re[r] = in.re[r * kFftSize + c];
            im[r] = in.im[r * kFftSize + c];
        }
    }
}

}  // namespace

int32_t FftSin(int32_t k) { return sinOf(k); }
int32_t FftCos(int32_t k) { return sinOf(k + 16); }
int32_t BitReverse6(int32_t i) { return kReverse.v[i & (kFftSize - 1)]; }

void Fft2DFromLoaded(FftFrame &loaded, FftFrame &out, bool inverse, int32_t kyLimit) {
    const Twiddles &tw = inverse ? kInverse : kForward;
    // Along x: loaded[kx or x][y].
    if (kyLimit <= kBandKyLimit) {
        butterflyBandRows(loaded, tw);
        transposeReversing(loaded, out, kBandLanes, kFftSize - kBandLanes);
    } else {
        butterflyRows(loaded, tw);
        transposeReversing(loaded, out);
    }
    butterflyRows(out, tw);  // along y
}

void Fft2D(FftFrame &frame, FftFrame &scratch, bool inverse) {
    transposeReversing(frame, scratch);
    Fft2DFromLoaded(scratch, frame, inverse);
}
