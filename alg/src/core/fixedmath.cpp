#include "core/fixedmath.h"

#include "core/table_gen.h"

namespace {

// Compile-time reference functions for the table rules. They run only in the
// compiler; the library itself uses the resulting integer tables.
constexpr double kPi = 3.14159265358979323846;

constexpr double sinRad(double x) {
    // Taylor series; x is at most pi / 2, where 30 terms are far below 1e-15.
    double term = x;
    double sum = x;
    for (int k = 1; k < 30; ++k) {
        term *= -x * x / ((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}

constexpr double sqrtReal(double v) {
    double x = v > 1 ? v : 1;
    for (int k = 0; k < 100; ++k) x = 0.5 * (x + v / x);
    return x;
}

constexpr double atanRad(double x) {
    // Halve the angle twice (atan x = 2 atan(x / (1 + sqrt(1 + x^2)))) so the
    // series converges fast for x up to 1.
    x = x / (1 + sqrtReal(1 + x * x));
    x = x / (1 + sqrtReal(1 + x * x));
    double term = x;
    double sum = x;
    for (int k = 1; k < 40; ++k) {
        term *= -x * x;
        sum += term / (2 * k + 1);
    }
    return 4 * sum;
}

constexpr int32_t roundNonNegative(double v) { return static_cast<int32_t>(v + 0.5); }

constexpr int32_t isqrtFloor(int32_t n) {
    int32_t r = 0;
    while ((r + 1) * (r + 1) <= n) ++r;
    return r;
}

// round(512 sin(i degrees))
constexpr int16_t sinEntry(int i) { return static_cast<int16_t>(roundNonNegative(512 * sinRad(i * kPi / 180))); }

// round(256 sqrt(1 + i / 256)) = round(sqrt(n)) with n = 256 (256 + i), exactly:
// sqrt(n) >= r + 1/2 exactly when n > r^2 + r.
constexpr int16_t sqrtEntry(int i) {
    const int32_t n = 256 * (256 + i);
    const int32_t r = isqrtFloor(n);
    return static_cast<int16_t>(n - r * r > r ? r + 1 : r);
}

// round(atan(i / 256) in degrees)
constexpr uint8_t atanEntry(int i) { return static_cast<uint8_t>(roundNonNegative(atanRad(i / 256.0) * 180 / kPi)); }

// floor(sqrt(i^2 + j^2)) for entry 10 i + j
constexpr uint8_t distEntry(int k) {
    const int32_t i = k / 10;
    const int32_t j = k % 10;
    return static_cast<uint8_t>(isqrtFloor(i * i + j * j));
}

int32_t absValue(int32_t v) { return v < 0 ? -v : v; }

// Directions outside the table range would read outside g_nSinTable; fold them
// back into 0..359 (callers normally do this themselves).
int32_t foldDirection(int32_t a) {
    if (a >= 0 && a <= 360) return a;
    a %= 360;
    return a < 0 ? a + 360 : a;
}

}  // namespace

const int16_t g_nSinTable[91] = {QV_SEQ90(sinEntry, 0), sinEntry(90)};
const int16_t g_nSqrt_Table[257] = {QV_SEQ250(sqrtEntry, 0), sqrtEntry(250), sqrtEntry(251), sqrtEntry(252),
                                    sqrtEntry(253),          sqrtEntry(254), sqrtEntry(255), sqrtEntry(256)};
const uint8_t g_nAtan_Table[257] = {QV_SEQ250(atanEntry, 0), atanEntry(250), atanEntry(251), atanEntry(252),
                                    atanEntry(253),          atanEntry(254), atanEntry(255), atanEntry(256)};
const uint8_t g_DisTbl[100] = {QV_SEQ100(distEntry, 0)};

int32_t sin512(int32_t a) {
    a = foldDirection(a);
    if (a <= 90) return g_nSinTable[a];
    if (a <= 180) return g_nSinTable[180 - a];
    if (a <= 270) return -g_nSinTable[a - 180];
    return -g_nSinTable[360 - a];
}

int32_t cos512(int32_t a) {
    a = foldDirection(a);
    if (a <= 90) return g_nSinTable[90 - a];
    if (a <= 180) return -g_nSinTable[a - 90];
    if (a <= 270) return -g_nSinTable[270 - a];
    return g_nSinTable[a - 270];
}

int32_t atan_256(int32_t s, int32_t c) {
    // 64-bit magnitudes: abs(INT32_MIN) and the scaled ratio stay defined.
    int64_t p = s < 0 ? -static_cast<int64_t>(s) : s;
    int64_t q = c < 0 ? -static_cast<int64_t>(c) : c;
    if (p == 0 && q == 0) return 0;
    int32_t t;
    if (p > q) {
        if (q == 0) return s >= 1 ? 90 : 270;
        if (p > 0x40000) {
            p >>= 8;
            q >>= 8;
        }
        while (q > 65536) {
            p >>= 1;
            q >>= 1;
        }
        t = 90 - g_nAtan_Table[(q * 256 + (p - 1) / 2) / p];
    } else if (p < q) {
        if (p == 0) return c >= 1 ? 0 : 180;
        if (q > 0x40000) {
            p >>= 8;
            q >>= 8;
        }
        while (p > 65536) {
            p >>= 1;
            q >>= 1;
        }
        t = g_nAtan_Table[(p * 256 + (q - 1) / 2) / q];
    } else {
        t = 45;
    }
    if (c < 0) t = 180 - t;
    return s >= 0 ? t : 360 - t;
}

int32_t GetAngle(int32_t x1, int32_t y1, int32_t x2, int32_t y2) { return atan_256(y2 - y1, x2 - x1); }

int32_t sqrt_256(int32_t a, int32_t b) {
    if (a == 0 && b == 0) return 0;
    const int64_t a2 = static_cast<int64_t>(a) * a;
    const int64_t b2 = static_cast<int64_t>(b) * b;
    if (a2 > b2) {
        if (b2 == 0) return absValue(a);
        return static_cast<int32_t>(
            (absValue(a) * static_cast<int64_t>(g_nSqrt_Table[(b2 * 256 + (a2 - 1) / 2) / a2])) >> 8);
    }
    if (a2 == b2) return static_cast<int32_t>((absValue(b) * static_cast<int64_t>(g_nSqrt_Table[256])) >> 8);
    if (a2 == 0) return absValue(b);
    return static_cast<int32_t>((absValue(b) * static_cast<int64_t>(g_nSqrt_Table[(a2 * 256 + (b2 - 1) / 2) / b2])) >>
                                8);
}

int32_t getSqrtByInt(int32_t n) {
    const int64_t m = n < 0 ? -static_cast<int64_t>(n) : n;
    if (m < 2) return static_cast<int32_t>(m);
    int64_t x = m;
    for (int step = 0; step < 20; ++step) x = (x + m / x) / 2;
    return static_cast<int32_t>(x);
}

int32_t SqrtByNewton(int32_t n) {
    // Defined for positive n; 0 and negative values would divide by zero or
    // never settle, so they give 0.
    if (n <= 0) return 0;
    int64_t x = n;
    int64_t previous;
    do {
        previous = x;
        x = (n / previous + previous) >> 1;
    } while (x - previous > 1 || previous - x > 1);
    return static_cast<int32_t>(x);
}

int32_t GetJiajiao(int32_t a, int32_t b) {
    const int32_t d = absValue(a - b);
    return d <= 90 ? d : 180 - d;
}

int32_t AngleAbs360(int32_t a, int32_t b) {
    const int32_t d = absValue(a - b);
    return d <= 180 ? d : 360 - d;
}

int32_t GetAngleDis(int32_t a, int32_t b) {
    const int32_t d = b - a;
    return d < 0 ? d + 360 : d;
}

int32_t AngleMean360(int32_t a, int32_t b) {
    if ((a >= 90 || b <= 270) && (b >= 90 || a <= 270)) return (a + b) >> 1;
    const int32_t m = (a + b - 360) >> 1;
    return m < 0 ? m + 360 : m;
}

int32_t DDIndex(int32_t a, int32_t n) {
    switch (n) {
    case 8:
        return (a > 10 && a < 169) ? (2 * a - 22) / 45 + 1 : 0;
    case 12:
        return (a > 7 && a < 173) ? (a - 8) / 15 + 1 : 0;
    case 16:
        return (a > 5 && a < 174) ? (4 * a - 24) / 45 + 1 : 0;
    case 18:
        return (a > 4 && a < 175) ? (a - 5) / 10 + 1 : 0;
    default:
        return 1;
    }
}

int32_t getOriChange(int32_t a, int32_t b, uint8_t wrap) {
    const int32_t d = b - a;
    return (wrap != 0 && d < 0) ? d + 10 : d;
}
