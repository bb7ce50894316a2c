#include "conditioning/host_conversions.h"

#include <cstring>

#include "QVAlgDll.h"

namespace {

constexpr int32_t kByteTop = 255;
// Threshold16to8 scales by 255 with four decimal places.
constexpr int32_t kThresholdScale = 2550000;
constexpr int32_t kThresholdUnit = 10000;
constexpr int32_t kRoundBias = 50;

uint8_t clampByte(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > kByteTop ? kByteTop : v)); }

}  // namespace

int32_t Data16to8(const uint16_t *raw, uint8_t *out, int32_t n, int32_t bits) {
    const int32_t shift = bits < 8 ? 0 : (bits - 8 > 15 ? 15 : bits - 8);
    for (int32_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((raw[i] >> shift) & 0xFF);
    return 1;
}

int32_t Data16Normalto8(const uint16_t *raw, uint8_t *out, int32_t n, int32_t) {
    int32_t hi = 0;
    int32_t lo = IMG_DATA_MAX;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t v = raw[i];
        if (v < DATA16_NORMAL_TO8_MAX && v > hi) hi = v;
        if (v > DATA16_NORMAL_TO8_MIN && v < lo) lo = v;
    }
    int32_t range = hi - lo;
    if (range < 1) range = IMG_DATA_MAX;
    for (int32_t i = 0; i < n; ++i) out[i] = clampByte((raw[i] - lo) * kByteTop / range);
    return 1;
}

int32_t Threshold16to8(const uint16_t *raw, uint8_t *out, int32_t n, int32_t lo32, int32_t hi32) {
    // 64-bit so that any pair of bounds a host passes stays exact.
    int64_t lo = lo32;
    int64_t hi = hi32;
    if (lo == hi) {
        if (hi == 0)
            hi = 1;
        else
            lo = hi - 1;
    }
    const int64_t span = hi - lo;
    const int64_t scale = (span / 2 + kThresholdScale) / span;
    for (int32_t i = 0; i < n; ++i) {
        const int64_t v = raw[i];
        if (v <= lo)
            out[i] = 0;
        else if (v >= hi)
            out[i] = kByteTop;
        else
            out[i] = clampByte(static_cast<int32_t>(((v - lo) * scale + kRoundBias) / kThresholdUnit));
    }
    return 1;
}

int32_t Histogram16(const uint16_t *raw, int32_t n, int32_t *histogram, int32_t bins) {
    if (raw == nullptr || histogram == nullptr) return 0;
    if (bins > 0) std::memset(histogram, 0, sizeof(int32_t) * static_cast<size_t>(bins));
    for (int32_t i = 0; i < n; ++i)
        if (raw[i] < bins) ++histogram[raw[i]];
    return 1;
}

int32_t Avg16(const uint16_t *raw, int32_t n, double *mean) {
    if (raw == nullptr || mean == nullptr || n <= 0) return 0;
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += raw[i];
    *mean = static_cast<double>(sum) / n;
    return 1;
}
