#include "conditioning/reference_subtract.h"

#include <cstring>

#include "QVAlgDll.h"

namespace {

enum class Layout { Period8, ColumnGroups, RowPhase, Rows };

constexpr int32_t kPeriod = 8;
constexpr int32_t kMax8 = 255;
constexpr int32_t kNoCap = INT32_MAX;

// Which pixels form each channel. Channels are disjoint, so a channel's own
// destination pixels stay untouched until the channel itself is written.
struct Channels {
    Layout layout;
    int32_t w, h, g, n;

    int32_t count() const {
        switch (layout) {
        case Layout::Period8:
            return n / kPeriod > 0 ? kPeriod : 0;
        case Layout::ColumnGroups:
            return w / g;
        case Layout::RowPhase:
            return w / g > 0 ? g * h : 0;
        case Layout::Rows:
            return h;
        }
        return 0;
    }

    // Calls f(index) for every pixel of channel c.
    template <typename F>
    void visit(int32_t c, F f) const {
        switch (layout) {
        case Layout::Period8:
            for (int32_t i = c; i < (n / kPeriod) * kPeriod; i += kPeriod) f(i);
            break;
        case Layout::ColumnGroups:
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = c * g; x < c * g + g; ++x) f(y * w + x);
            break;
        case Layout::RowPhase: {
            const int32_t row = c / g;
            const int32_t end = (w / g) * g;
            for (int32_t x = c % g; x < end; x += g) f(row * w + x);
            break;
        }
        case Layout::Rows:
            for (int32_t x = 0; x < w; ++x) f(c * w + x);
            break;
        }
    }
};

// How one variant treats levels.
struct Rule {
    bool sixteenBit;
    int32_t minStart;          // starting value of the minimum search
    int32_t meanCap;           // upper bound of a channel mean
    bool clampToByte;          // removeStripeLP keeps every result in 0..255
    bool capWhiteOnShortfall;  // 16-bit column/phase variants cap white pixels when lifting
};

bool isWhite(int32_t v, bool sixteenBit) { return sixteenBit ? v >= IMG_DATA_WHITE : v >= kWhite8; }

template <typename T>
int32_t channelMean(const T *minSubtracted, const Channels &ch, int32_t c, const Rule &rule) {
    int64_t sum = 0;
    int32_t count = 0;
    ch.visit(c, [&](int32_t i) {
        const int32_t v = minSubtracted[i];
        if (!isWhite(v, rule.sixteenBit)) {
            sum += v;
            ++count;
        }
    });
    const int32_t mean = count > 0 ? static_cast<int32_t>(sum / count) : 0;
    return mean > rule.meanCap ? rule.meanCap : mean;
}

template <typename T>
int32_t removeChannelOffsets(const T *src, T *dst, int32_t total, const Channels &ch, const Rule &rule) {
    if (total <= 0) return 1;
    std::memcpy(dst, src, sizeof(T) * static_cast<size_t>(total));
    int32_t m = rule.minStart;
    for (int32_t i = 0; i < total; ++i)
        if (dst[i] < m) m = dst[i];
    for (int32_t i = 0; i < total; ++i) dst[i] = static_cast<T>(dst[i] - m);

    // Shortfall: the largest amount by which a source pixel lies below its
    // channel mean. Means come from the minimum-subtracted copy.
    const int32_t channels = ch.count();
    bool shortfall = false;
    int32_t lift = 0;
    for (int32_t c = 0; c < channels; ++c) {
        const int32_t mean = channelMean(dst, ch, c, rule);
        ch.visit(c, [&](int32_t i) {
            if (src[i] < mean) {
                shortfall = true;
                if (mean - src[i] > lift) lift = mean - src[i];
            }
        });
    }

    const int32_t outMax = rule.sixteenBit ? IMG_DATA_MAX : kMax8;
    for (int32_t c = 0; c < channels; ++c) {
        const int32_t mean = channelMean(dst, ch, c, rule);
        ch.visit(c, [&](int32_t i) {
            const int32_t v = src[i];
            int32_t out;
            if (isWhite(v, rule.sixteenBit)) {
                out = (shortfall && rule.capWhiteOnShortfall && v > IMG_DATA_MAX) ? IMG_DATA_MAX : v;
            } else if (shortfall) {
                out = lift + v - mean;
                if (out > outMax) out = outMax;
                if (rule.clampToByte && out < 0) out = 0;
            } else {
                out = v - mean;
                if (rule.clampToByte) out = out < 0 ? 0 : (out > kMax8 ? kMax8 : out);
            }
            dst[i] = static_cast<T>(out);
        });
    }
    return 1;
}

bool validGroups(int32_t w, int32_t h, int32_t g) { return w > 0 && h > 0 && g > 0; }

Rule rule16(int32_t meanCap, bool capWhite) { return Rule{true, IMG_DATA_MAX, meanCap, false, capWhite}; }

Rule rule8(int32_t minStart, int32_t meanCap, bool clampToByte) {
    return Rule{false, minStart, meanCap, clampToByte, false};
}

// Stored-reference subtraction, shared by both pixel types.
template <typename T>
int32_t subtractReference(const T *src, const T *ref, T *dst, int32_t n, int32_t outMax) {
    int32_t lift = 0;
    bool shortfall = false;
    for (int32_t i = 0; i < n; ++i)
        if (src[i] < ref[i]) {
            shortfall = true;
            if (ref[i] - src[i] > lift) lift = ref[i] - src[i];
        }
    for (int32_t i = 0; i < n; ++i) {
        int32_t out = src[i] - ref[i];
        if (shortfall) {
            out += lift;
            if (out > outMax) out = outMax;
        }
        dst[i] = static_cast<T>(out);
    }
    return n;
}

}  // namespace

int32_t SubCurrentRefer16(const uint16_t *src, uint16_t *dst, int32_t n) {
    return removeChannelOffsets(src, dst, n, Channels{Layout::Period8, 0, 0, 1, n}, rule16(IMG_DATA_WHITE, false));
}

int32_t removeStripeLP(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h) {
    if (w <= 0 || h <= 0) return 1;
    const int32_t n = w * h;
    return removeChannelOffsets(src, dst, n, Channels{Layout::Period8, w, h, 1, n}, rule8(kMax8, kMax8, true));
}

int32_t SubCurrentRefer16_3(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h, int32_t g) {
    if (!validGroups(w, h, g)) return 1;
    return removeChannelOffsets(src, dst, w * h, Channels{Layout::ColumnGroups, w, h, g, w * h},
                                rule16(IMG_DATA_WHITE, true));
}

int32_t removeStripeLP_3(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h, int32_t g) {
    if (!validGroups(w, h, g)) return 1;
    return removeChannelOffsets(src, dst, w * h, Channels{Layout::ColumnGroups, w, h, g, w * h},
                                rule8(kWhite8, kWhite8, false));
}

int32_t removeHStripeLP16_3(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h, int32_t g, uint8_t *) {
    if (!validGroups(w, h, g)) return 1;
    return removeChannelOffsets(src, dst, w * h, Channels{Layout::RowPhase, w, h, g, w * h}, rule16(kNoCap, true));
}

int32_t removeHStripeLP_3(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h, int32_t g, uint8_t *) {
    if (!validGroups(w, h, g)) return 1;
    return removeChannelOffsets(src, dst, w * h, Channels{Layout::RowPhase, w, h, g, w * h},
                                rule8(kWhite8, kWhite8, false));
}

int32_t removeHStripeLP16(const uint16_t *src, uint16_t *dst, int32_t w, int32_t h, uint8_t *) {
    if (!validGroups(w, h, 1)) return 1;
    return removeChannelOffsets(src, dst, w * h, Channels{Layout::Rows, w, h, 1, w * h}, rule16(kNoCap, false));
}

int32_t removeHStripeLP(const uint8_t *src, uint8_t *dst, int32_t w, int32_t h, uint8_t *) {
    if (!validGroups(w, h, 1)) return 1;
    return removeChannelOffsets(src, dst, w * h, Channels{Layout::Rows, w, h, 1, w * h}, rule8(kMax8, kNoCap, false));
}

int32_t SubRefer16(const uint16_t *src, const uint16_t *ref, uint16_t *dst, int32_t n) {
    return subtractReference(src, ref, dst, n, IMG_DATA_MAX);
}

int32_t SubRefer(const uint8_t *src, const uint8_t *ref, uint8_t *dst, int32_t n) {
    return subtractReference(src, ref, dst, n, kMax8);
}

void CacFingerprintMask16(const uint16_t *raw, uint8_t *mask, int32_t w, int32_t h) {
    if (w <= 0 || h <= 0) return;
    const int32_t n = w * h;
    for (int32_t i = 0; i < n; ++i) mask[i] = raw[i] <= IMG_DATA_WHITE ? 0 : 255;
}

int32_t CacFingerprintMean16(const uint16_t *raw, const uint8_t *mask, int32_t w, int32_t h) {
    if (w <= 0 || h <= 0) return IMG_DATA_WHITE;
    const int32_t n = w * h;
    int64_t sum = 0;
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i)
        if (mask[i] == 0) {
            sum += raw[i];
            ++count;
        }
    return count > 0 ? static_cast<int32_t>(sum / count) : IMG_DATA_WHITE;
}
