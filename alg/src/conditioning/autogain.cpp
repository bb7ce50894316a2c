#include "conditioning/autogain.h"

#include <cstring>

#include "QVAlgDll.h"
#include "conditioning/gauss_smooth.h"

namespace {

// Private copies of the gain tables for the raw variant (the 8-bit variant
// reads the exported ones); the values are the same.
constexpr int32_t kZenYi16[16] = {2, 4, 5, 6, 7, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28};
constexpr int32_t kZenYi2_16[16] = {1, 2, 4, 8};
constexpr int32_t kZenYi3_16[16] = {1, 2, 3, 4, 5, 6, 7, 8};
constexpr int16_t kRatios16[100] = {
    32,  36,  42,  47,  54,  61,  69,  77,  87,  97,  108, 120, 133, 147, 162, 177, 193, 208, 224, 240,
    256, 272, 288, 304, 321, 337, 353, 369, 384, 399, 414, 429, 444, 459, 473, 488, 502, 516, 529, 542,
    555, 568, 580, 592, 604, 616, 628, 639, 650, 661, 672, 683, 693, 704, 714, 724, 734, 744, 753, 761,
    770, 779, 787, 796, 804, 811, 819, 826, 833, 840, 846, 853, 859, 865, 871, 877, 883, 888, 893, 898,
    903, 908, 913, 917, 921, 925, 929, 933, 937, 940, 944, 947, 950, 953, 955, 958, 961, 963, 966, 968,
};
constexpr int32_t kRatioCount = 100;

struct GainTables {
    const int32_t *stage;  // g0 and g1
    const int32_t *g2;
    const int32_t *g3;
    const int16_t *ratios;
};
const GainTables kTables16{kZenYi16, kZenYi2_16, kZenYi3_16, kRatios16};
const GainTables kTables8{g_ZenYiValues, g_ZenYiValues2, g_ZenYiValues3, aGA_g_StaticRatios};

constexpr int32_t kLevels16 = 1024;
constexpr int32_t kLevels8 = 256;
constexpr int32_t kTop10Bit = kLevels16 - 1;
constexpr int32_t kRawShift = 2;  // raw pixels enter as 12-bit values
constexpr int32_t kLevel8To10 = 4;

constexpr int32_t kNeutralOffset = 512;
constexpr int32_t kOffsetLimit = 1022;
constexpr int32_t kOffsetRescale = 1001;  // offsets from here on re-pick g0
constexpr int32_t kOffsetHeadroom = 488;
constexpr int32_t kOffsetPerGain = 500;  // offset units per unit of later-stage gain, x 1000

// Target ranges on the 10-bit scale.
constexpr int32_t kTarget16Lo = 448;
constexpr int32_t kTarget16Hi = 576;
constexpr int32_t kTarget8Lo = 200;
constexpr int32_t kTarget8Hi = 824;
constexpr int32_t kTargetBlackLo = 1016;
constexpr int32_t kTargetBlackHi = 1024;

constexpr int32_t kTailDivisor = 50;  // 2 percent at each end
constexpr int32_t kBorderDivisor = 8;
constexpr int32_t kMinBorder = 2;

constexpr int32_t kSearch16 = 15;  // g0 candidates 0..14
constexpr int32_t kSearch8 = 13;   // g0 candidates 0..12
constexpr int32_t kSearchBias8 = 70;
constexpr int32_t kMinLift8 = 2043;
constexpr int32_t kLiftBase8 = 2044;
constexpr int32_t kLiftOffset8 = 522;

using Gains = int32_t[4];

int64_t totalGain(const GainTables &t, const int32_t *g) {
    return static_cast<int64_t>(t.stage[g[0]]) * t.stage[g[1]] * t.g2[g[2]] * t.g3[g[3]];
}

int64_t laterGain(const GainTables &t, const int32_t *g) {
    return static_cast<int64_t>(t.stage[g[1]]) * t.g2[g[2]] * t.g3[g[3]];
}

int64_t min64(int64_t a, int64_t b) { return a < b ? a : b; }
int64_t abs64(int64_t a) { return a < 0 ? -a : a; }

void unpack(int32_t word, int32_t *g) {
    g[0] = word & 0xF;
    g[1] = (word >> 4) & 0xF;
    g[2] = (word >> 8) & 0x3;
    g[3] = (word >> 10) & 0x7;
}

int32_t pack(const int32_t *g) { return g[0] + 16 * g[1] + 256 * g[2] + 1024 * g[3]; }

void cumulate(const int16_t *hist, int16_t *sum, int32_t levels) {
    int32_t s = 0;
    for (int32_t i = 0; i < levels; ++i) {
        s += hist[i];
        sum[i] = static_cast<int16_t>(s);
    }
}

int32_t firstAtLeast(const int16_t *table, int32_t n, int32_t value) {
    for (int32_t i = 0; i < n; ++i)
        if (table[i] >= value) return i;
    return n - 1;
}

template <typename T>
void innerHistogram(const T *image, int32_t w, int32_t h, int32_t n, int16_t *hist, int32_t levels) {
    std::memset(hist, 0, sizeof(int16_t) * static_cast<size_t>(levels));
    if (n <= 0) return;
    const int32_t by = h / n;
    const int32_t bx = w / n;
    for (int32_t y = by; y < h - by; ++y)
        for (int32_t x = bx; x < w - bx; ++x) {
            const int32_t v = image[y * w + x];
            if (v < levels) ++hist[v];
        }
}

// The measured and target ranges and the region statistics the core reads.
struct Measurement {
    const int16_t *sum;  // cumulative histogram
    int32_t levels;
    int32_t n;         // pixels of the inner region
    int32_t mLo, mHi;  // measured range
    int32_t tLo, tHi;  // target range
};

// Counts the inner region (border of an eighth, at least 2) of the smoothed
// image and finds the levels 2 percent from either end.
template <typename T>
void measure(const T *smoothed, int32_t w, int32_t h, int16_t *hist, int16_t *sum, int32_t levels, int32_t *lo,
             int32_t *hi, int32_t *n) {
    const int32_t by = h / kBorderDivisor > kMinBorder ? h / kBorderDivisor : kMinBorder;
    const int32_t bx = w / kBorderDivisor > kMinBorder ? w / kBorderDivisor : kMinBorder;
    *n = (h - 2 * by) * (w - 2 * bx);
    std::memset(hist, 0, sizeof(int16_t) * static_cast<size_t>(levels));
    for (int32_t y = by; y < h - by; ++y)
        for (int32_t x = bx; x < w - bx; ++x) ++hist[smoothed[y * w + x]];
    cumulate(hist, sum, levels);
    const int32_t total = sum[levels - 1];
    const int32_t tail = total / kTailDivisor;
    *lo = 0;
    while (*lo < levels - 1 && sum[*lo] < tail) ++*lo;
    *hi = 0;
    while (*hi < levels - 1 && sum[*hi] < total - tail) ++*hi;
}

// Lowers the target's low end when the black level clips (level 0 holds more
// than the tail share): the clipped share picks it from the ratio table.
void clipBlack(const GainTables &t, const int16_t *hist, Measurement *m, int32_t targetHi) {
    const int32_t total = m->sum[m->levels - 1];
    if (hist[0] <= total / kTailDivisor) return;
    const int32_t ratio = m->sum[0] * 1000 / total;
    m->tLo = 10 * firstAtLeast(t.ratios, kRatioCount, ratio);
    if (m->tLo > (m->mLo - m->mHi) / 2 + targetHi) {
        m->tLo = targetHi + m->mLo - m->mHi;
        if (m->tLo >= targetHi) m->tHi = m->tLo + 1;
    }
}

// Core steps shared by both variants: the offset that centres the measured
// range, its rescaling for a large offset, and the desired total gain.
struct CoreStart {
    int32_t off;   // after the rescaling
    int32_t off1;  // before it
    int64_t desired;
};

CoreStart startCore(const GainTables &t, const int32_t *g, int32_t *gOut, int32_t offsetIn, const Measurement &m) {
    CoreStart s;
    const int64_t later = laterGain(t, g);
    s.off = static_cast<int32_t>(offsetIn + ((m.tLo + m.tHi - m.mLo - m.mHi) * 1000LL) / (later * kOffsetPerGain));
    s.off1 = s.off;
    if (s.off >= kOffsetRescale) {
        const int32_t d = s.off - kNeutralOffset;
        const int32_t a = t.stage[g[0]] * kOffsetHeadroom;
        gOut[0] = 0;
        for (int32_t i = 15; i >= 0; --i)
            if (a / d >= t.stage[i]) {
                gOut[0] = i;
                break;
            }
        s.off = static_cast<int32_t>(static_cast<int64_t>(t.stage[gOut[0]]) * d / t.stage[g[0]] + kNeutralOffset);
    }
    const int64_t total = totalGain(t, g);
    s.desired = m.mHi == m.mLo ? 0 : (m.tHi - m.tLo) * total / (m.mHi - m.mLo);
    if (s.desired > 3 * total) s.desired = 3 * total;
    return s;
}

int64_t easeLargeGain(int64_t desired, int64_t total) { return desired > 2 * total ? 19 * desired / 20 : desired; }

int32_t core16(const int32_t *g, int32_t *gOut, int32_t offsetIn, const Measurement &m, int32_t *offOut) {
    const GainTables &t = kTables16;
    CoreStart s = startCore(t, g, gOut, offsetIn, m);
    const int64_t total = totalGain(t, g);
    const int64_t all = m.sum[kTop10Bit];
    const int64_t s1 = m.sum[1];
    const int64_t s2 = m.sum[2];
    int64_t d = s.desired;
    if (s1 > all / 5) d = min64(d, (2 * all - s1) * total / all);
    if (100 * s1 > 75 * all) d = min64(d, 8 * total / 10);
    if (100 * s2 > 60 * all) d = min64(d, total);
    if (all < (8LL * m.n) / 10) d = min64(d, (3 * all + m.n / 2) * total / m.n);
    d = easeLargeGain(d, total);

    int64_t best = total + d;
    int32_t cand[4] = {0, gOut[1], gOut[2], gOut[3]};
    for (int32_t i = 0; i < kSearch16; ++i) {
        cand[0] = i;
        const int64_t gi = totalGain(t, cand);
        const int64_t c = static_cast<int64_t>(t.stage[i]) * (s.off1 - kNeutralOffset) / t.stage[g[0]] + kNeutralOffset;
        if (abs64(gi - d) < best && c <= kOffsetLimit) {
            best = abs64(gi - d);
            gOut[0] = i;
            s.off = static_cast<int32_t>(c);
        }
    }
    *offOut = s.off;
    return 1;
}

int32_t core8(const int32_t *g, int32_t *gOut, int32_t offsetIn, const Measurement &m, int32_t *offOut) {
    const GainTables &t = kTables8;
    CoreStart s = startCore(t, g, gOut, offsetIn, m);
    const int64_t total = totalGain(t, g);
    const int32_t s0 = m.sum[0];
    const int32_t s253 = m.sum[kLevels8 - 3];
    const int32_t s255 = m.sum[kLevels8 - 1];
    int64_t d = s.desired;
    if (3 * s253 < s255) d = min64(d, total);
    if (2 * s0 > s255) d = min64(d, total);
    d = easeLargeGain(d, total);

    int64_t best = total + d;
    int32_t cand[4] = {0, gOut[1], gOut[2], gOut[3]};
    for (int32_t i = 0; i < kSearch8; ++i) {
        cand[0] = i;
        const int64_t gi = totalGain(t, cand);
        const int64_t c =
            t.stage[i] * (s.off1 - kNeutralOffset - (t.stage[i] * kSearchBias8) / gi) / t.stage[g[0]] + kNeutralOffset;
        if (abs64(gi - d) < best && c <= kOffsetLimit) {
            best = abs64(gi - d);
            gOut[0] = i;
            s.off = static_cast<int32_t>(c);
        }
    }
    // A saturated or empty top end: back the first stage off by a third and
    // keep the offset high enough to lift the black level.
    if ((s0 == s255 || s253 == 0) && gOut[0] > 1) gOut[0] = 2 * gOut[0] / 3;
    if (s.off < kNeutralOffset) s.off = kNeutralOffset;
    const int64_t later = laterGain(t, gOut);
    if ((s.off - kNeutralOffset) * later <= kMinLift8) s.off = static_cast<int32_t>(kLiftBase8 / later + kLiftOffset8);
    *offOut = s.off;
    return 1;
}

void begin(const int32_t *settingsIn, int32_t *settingsOut, int32_t *g, int32_t *gOut) {
    unpack(settingsIn[0], g);
    for (int32_t i = 0; i < kSettingsWords; ++i) settingsOut[i] = settingsIn[i];
    for (int32_t i = 0; i < 4; ++i) gOut[i] = g[i];
}

// Entry points accept images whose smoothed copy fits its buffer and that keep
// an inner region.
bool acceptable(const void *image, int32_t w, int32_t h, const int32_t *in, const int32_t *out) {
    if (image == nullptr || in == nullptr || out == nullptr) return false;
    if (w < kAutoGainMinSide || h < kAutoGainMinSide) return false;
    return w <= kAutoGainMaxPixels && h <= kAutoGainMaxPixels / w;
}

}  // namespace

void mapGainDataToGain_16(int32_t word, int32_t *g) { unpack(word, g); }
int32_t mapGainToGainData_16(const int32_t *g) { return pack(g); }
void mapGainDataToGain(int32_t word, int32_t *g) { unpack(word, g); }
int32_t mapGaintoGainData(const int32_t *g) { return pack(g); }

void getSumHist_16(const int16_t *hist, int16_t *sum, int32_t levels) { cumulate(hist, sum, levels); }
void getSumHist(const int16_t *hist, int16_t *sum, int32_t levels) { cumulate(hist, sum, levels); }

int32_t findIndexByDayu_16(const int16_t *table, int32_t n, int32_t value) { return firstAtLeast(table, n, value); }
int32_t findIndexByDayu(const int16_t *table, int32_t n, int32_t value) { return firstAtLeast(table, n, value); }

void getHist_16(const uint16_t *image, int32_t w, int32_t h, int32_t n, int16_t *hist) {
    innerHistogram(image, w, h, n, hist, kLevels16);
}

void getHist(const uint8_t *image, int32_t w, int32_t h, int32_t n, int16_t *hist) {
    innerHistogram(image, w, h, n, hist, kLevels8);
}

int32_t AutoGain16(uint16_t *image, int32_t w, int32_t h, const int32_t *settingsIn, int32_t *settingsOut) {
    int32_t g[4];
    int32_t gOut[4];
    begin(settingsIn, settingsOut, g, gOut);
    const int32_t n = w * h;
    for (int32_t i = 0; i < n; ++i)
        if (image[i] > kTop10Bit) image[i] = kTop10Bit;
    vwn_GaussSmooth_16(image, g_tempBufByGain16, w, h);

    int32_t lo, hi;
    Measurement m{iSumHist, kLevels16, 0, 0, 0, kTarget16Lo, kTarget16Hi};
    measure(g_tempBufByGain16, w, h, iHist, iSumHist, kLevels16, &lo, &hi, &m.n);
    m.mLo = lo - 1;
    m.mHi = hi + 1;
    clipBlack(kTables16, iHist, &m, kTarget16Hi);

    const int32_t result = core16(g, gOut, settingsIn[1], m, &settingsOut[1]);
    settingsOut[0] = pack(gOut);
    return result;
}

int32_t AutoGain8(const uint8_t *image, int32_t w, int32_t h, const int32_t *settingsIn, int32_t *settingsOut) {
    int32_t g[4];
    int32_t gOut[4];
    begin(settingsIn, settingsOut, g, gOut);
    vwn_GaussSmooth(image, g_tempBufByGain, w, h);

    int16_t *hist = g_iTempHistByGain;
    int16_t *sum = g_iTempHistByGain + kLevels8;
    int32_t lo, hi;
    Measurement m{sum, kLevels8, 0, 0, 0, kTarget8Lo, kTarget8Hi};
    measure(g_tempBufByGain, w, h, hist, sum, kLevels8, &lo, &hi, &m.n);
    m.mLo = (lo - 1) * kLevel8To10;
    m.mHi = (hi + 1) * kLevel8To10;
    clipBlack(kTables8, hist, &m, kTarget8Hi);
    if (sum[kLevels8 - 1] > 0 && sum[0] == sum[kLevels8 - 1]) {
        m.tLo = kTargetBlackLo;
        m.tHi = kTargetBlackHi;
    }

    const int32_t result = core8(g, gOut, settingsIn[1], m, &settingsOut[1]);
    settingsOut[0] = pack(gOut);
    return result;
}

extern "C" int32_t Quorvane_AutoGain16(const uint16_t *raw, int32_t width, int32_t height, int32_t *settingsIn,
                                       int32_t *settingsOut) {
    if (!acceptable(raw, width, height, settingsIn, settingsOut)) return 0;
    uint16_t *copy = reinterpret_cast<uint16_t *>(tempbuf);
    const int32_t n = width * height;
    for (int32_t i = 0; i < n; ++i) copy[i] = static_cast<uint16_t>(raw[i] >> kRawShift);
    return AutoGain16(copy, width, height, settingsIn, settingsOut);
}

extern "C" int32_t Quorvane_AutoGain(const uint8_t *image, int32_t width, int32_t height, int32_t *settingsIn,
                                     int32_t *settingsOut) {
    if (!acceptable(image, width, height, settingsIn, settingsOut)) return 0;
    std::memcpy(tempbuf, image, static_cast<size_t>(width * height));
    return AutoGain8(tempbuf, width, height, settingsIn, settingsOut);
}
