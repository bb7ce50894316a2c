#include "conditioning/enhance16to8.h"

#include <cstring>

#include "QVAlgDll.h"
#include "conditioning/edge_ops.h"
#include "conditioning/reference_subtract.h"
#include "core/variant_rules.h"

namespace {

// Fixed workspace figures: the corrected image starts at kCorrectedOffset and
// the mask erosion's boundary list gets at least kDilationBytes.
constexpr int32_t kCorrectedOffset = 30000;
constexpr int32_t kDilationBytes = 30000;
constexpr int32_t kBudgetBase = kCorrectedOffset + kDilationBytes;
constexpr int32_t kMaxBudget = 499999;

// Mask erosion of the column-quad path: 4-pixel border, disc radius 2, and a
// 30-pixel frame of the grown mask left alone.
constexpr int32_t kErodeBorder = 4;
constexpr int32_t kErodeRadius = 2;
constexpr int32_t kErodeFrame = 30;

// Per-mille share of the finger pixels cut off at each end of the stretch,
// and the stretch's margin (a tenth of the level range).
constexpr int32_t kTailPerMille = 15;
constexpr int32_t kMarginDivisor = 10;
constexpr int32_t kScaleShift = 10;
constexpr int32_t kScale255 = 255 << kScaleShift;  // 261120
constexpr int32_t kRoundBias = 50;

constexpr int32_t kHistLimit = INT16_MAX;

int32_t roundUpEven(int32_t v) { return (v + 1) & ~1; }

uint16_t *correctedImage(const EnhanceLayout &l) { return reinterpret_cast<uint16_t *>(tempbuf + l.corrected); }

// Grows the background of the mask by the erosion disc, away from the frame.
void erodeMask(uint8_t *mask, int32_t w, int32_t h, const EnhanceLayout &l) {
    int32_t ew = w;
    int32_t eh = h;
    vwn_ExpandEdge(mask, &ew, &eh, kErodeBorder, 255);
    vwn_ImageDilate3(mask, tempbuf + l.dilation, ew, eh, kErodeRadius, kErodeFrame, eh - kErodeFrame, kErodeFrame,
                     ew - kErodeFrame);
    vwn_CropEdge(mask, &ew, &eh, kErodeBorder, kErodeBorder);
}

}  // namespace

bool PlanEnhanceLayout(int32_t w, int32_t h, bool stripe, EnhanceLayout *layout) {
    // Bounds that keep every product below in 32 bits; the budget refuses far
    // smaller images anyway.
    if (w <= 0 || h <= 0 || w > QV_WORKSPACE_SIZE || h > QV_WORKSPACE_SIZE / w) return false;
    const int32_t p = w * h;
    const Conditioning path = CurrentVariantRules().conditioning;
    const bool erosion = path == Conditioning::kColumnQuads;
    int32_t budget = kBudgetBase + 2 * p;
    int32_t stripeBytes = 0;
    if (stripe) {
        if (path == Conditioning::kChannels) {
            budget += (3 * p) / 8;
        } else {
            stripeBytes = 5 * ColumnGroups(path) * h;  // 8-bit counts, then 32-bit sums
            budget += stripeBytes;
        }
    }
    if (budget > kMaxBudget) return false;

    // The mask grows by the erosion border in place; the boundary list may
    // hold every pixel of the grown mask.
    int32_t maskBytes = p;
    int32_t dilationBytes = kDilationBytes;
    if (erosion) {
        const int32_t ew = w + 2 * kErodeBorder;
        const int32_t eh = h + 2 * kErodeBorder;
        if (ew > kMaxByteCoordImage || eh > kMaxByteCoordImage) return false;
        maskBytes = ew * eh;
        if (2 * ew * eh > dilationBytes) dilationBytes = 2 * ew * eh;
    }
    EnhanceLayout l;
    l.corrected = roundUpEven(maskBytes > kCorrectedOffset ? maskBytes : kCorrectedOffset);
    l.dilation = l.corrected + 2 * p;
    l.stripe = l.dilation + dilationBytes;
    l.end = l.stripe + stripeBytes;
    l.budget = budget > l.end ? budget : l.end;
    if (l.budget > QV_WORKSPACE_SIZE) return false;
    *layout = l;
    return true;
}

int32_t ExpandHistogram16to8(const uint16_t *raw, uint8_t *out, const uint8_t *mask, int32_t n, int32_t bits) {
    const int32_t shift = bits < 8 ? 0 : (bits - 8 > 15 ? 15 : bits - 8);
    const int32_t top = IMG_DATA_MAX;
    std::memset(nHist, 0, sizeof(int16_t) * static_cast<size_t>(top + 1));
    int32_t fingerCount = 0;
    for (int32_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(raw[i] >> shift);
        if (mask[i] != 0) continue;
        // Counters are 16 bits; they saturate rather than wrap on images
        // larger than any sensor delivers.
        const int32_t level = raw[i] > top ? top : raw[i];
        if (nHist[level] < kHistLimit) ++nHist[level];
        ++fingerCount;
    }
    if (fingerCount == 0) return 0;

    const int32_t tail = (fingerCount * kTailPerMille + 500) / 1000;
    int32_t hi = -1;
    for (int32_t level = top, sum = 0; level >= 0; --level) {
        sum += nHist[level];
        if (sum >= tail) {
            hi = level;
            break;
        }
    }
    int32_t lo = top;
    for (int32_t level = 0, sum = 0; level < top; ++level) {
        sum += nHist[level];
        if (sum >= tail) {
            lo = level;
            break;
        }
    }
    if (lo >= hi) return 0;

    const int32_t margin = (hi - lo) / kMarginDivisor;
    const int32_t lower = lo - margin < 0 ? 0 : lo - margin;
    const int32_t upper = hi + margin > IMG_DATA_WHITE ? IMG_DATA_WHITE : hi + margin;
    const int32_t span = upper - lower;
    const int32_t scale = span > 0 ? (span / 2 + kScale255) / span : 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t v = raw[i];
        int32_t o;
        if (v <= lower) {
            o = 0;
        } else if (v >= upper) {
            o = 255;
        } else {
            o = ((v - lower) * scale + kRoundBias) >> kScaleShift;
            o = o < 0 ? 0 : (o > 255 ? 255 : o);
        }
        out[i] = static_cast<uint8_t>(o);
    }
    return lower;
}

namespace {

// Claims and clears the workspace; false when the image does not fit it.
bool claimWorkspace(const uint16_t *raw, const uint8_t *image, int32_t w, int32_t h, bool stripe, EnhanceLayout *l) {
    if (raw == nullptr || image == nullptr || !PlanEnhanceLayout(w, h, stripe, l)) return false;
    std::memset(tempbuf, 0, static_cast<size_t>(l->budget));
    return true;
}

// The variants up to 2 (the service's): period-8 offsets removed, mask and
// mean from the raw image, stretch of the corrected image. The raw image is
// left unchanged.
void enhanceDefault(const uint16_t *raw, uint8_t *image, int32_t w, int32_t h, const EnhanceLayout &l) {
    const int32_t p = w * h;
    uint8_t *mask = tempbuf;
    uint16_t *corrected = correctedImage(l);
    SubCurrentRefer16(raw, corrected, p);
    CacFingerprintMask16(raw, mask, w, h);
    g_nMean12Bit = CacFingerprintMean16(raw, mask, w, h);
    ExpandHistogram16to8(corrected, image, mask, p, IMG_DATA_BITS);
}

}  // namespace

extern "C" int32_t Quorvane_Enhance16to8(uint16_t *raw, uint8_t *image, int16_t width, int16_t height) {
    // Only the column-pair path converts differently from the template path's
    // conditioning: offsets removed before the mask, both results in 8 bits.
    const Conditioning path = CurrentVariantRules().conditioning;
    if (path != Conditioning::kColumnPairs) {
        if (ConditionRawImage(raw, image, width, height, false) != 1) return -1;
        g_bData16Bit = 2;
        return 1;
    }
    EnhanceLayout l;
    if (!claimWorkspace(raw, image, width, height, false, &l)) return -1;
    const int32_t p = width * height;
    uint8_t *mask = tempbuf;
    uint16_t *corrected = correctedImage(l);
    SubCurrentRefer16_3(raw, corrected, width, height, ColumnGroups(path));
    CacFingerprintMask16(raw, mask, width, height);
    g_nMean12Bit = CacFingerprintMean16(raw, mask, width, height) >> 4;
    g_nRange = ExpandHistogram16to8(corrected, image, mask, p, IMG_DATA_BITS) >> 4;
    g_bData16Bit = 2;
    return 1;
}

int32_t ConditionRawImage(uint16_t *raw, uint8_t *image, int32_t width, int32_t height, bool stripe) {
    EnhanceLayout l;
    if (!claimWorkspace(raw, image, width, height, stripe, &l)) return -1;
    const int32_t p = width * height;
    uint8_t *mask = tempbuf;
    uint16_t *corrected = correctedImage(l);
    const Conditioning path = CurrentVariantRules().conditioning;
    const int32_t groups = ColumnGroups(path);
    if (path == Conditioning::kChannels) {
        // The stripe flag only enlarges the budget on this path.
        enhanceDefault(raw, image, width, height, l);
    } else if (path == Conditioning::kColumnPairs) {
        CacFingerprintMask16(raw, mask, width, height);
        g_nMean12Bit = CacFingerprintMean16(raw, mask, width, height) >> 4;
        if (stripe) {
            removeHStripeLP16_3(raw, corrected, width, height, groups, tempbuf + l.stripe);
            std::memcpy(raw, corrected, sizeof(uint16_t) * static_cast<size_t>(p));
        }
        SubCurrentRefer16_3(raw, corrected, width, height, groups);
        g_nRange = ExpandHistogram16to8(corrected, image, mask, p, IMG_DATA_BITS);
    } else {
        if (stripe) removeHStripeLP16_3(raw, corrected, width, height, groups, tempbuf + l.stripe);
        CacFingerprintMask16(raw, mask, width, height);
        g_nMean12Bit = CacFingerprintMean16(raw, mask, width, height);
        erodeMask(mask, width, height, l);
        g_nRange = ExpandHistogram16to8(stripe ? corrected : raw, image, mask, p, IMG_DATA_BITS);
    }
    return 1;
}

extern "C" int32_t Quorvane_Enhance16to8_EX(uint16_t *raw, uint8_t *image, int16_t width, int16_t height,
                                            int32_t *flags) {
    const bool stripe = flags != nullptr && (*flags & 1) != 0;
    if (ConditionRawImage(raw, image, width, height, stripe) != 1) return -1;
    g_bData16Bit = 2;
    return 1;
}
