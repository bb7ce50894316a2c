// The two template entry points: a raw capture (conditioned to 8 bits first)
// or an 8-bit capture (stripes removed first), then the extraction pipeline,
// then the quality word of the info block.
#include <cstring>

#include "conditioning/enhance16to8.h"
#include "conditioning/reference_subtract.h"
#include "core/recognition_profile.h"
#include "core/variant_rules.h"
#include "correlation/phase_records.h"
#include "extraction/template_pipeline.h"
#include "matching/gallery_match.h"

namespace {

constexpr int32_t kMaxBudget = 499999;
constexpr int32_t kBudgetBase = 60000;
constexpr int32_t kStripeArea = 30000;  // stripe-corrected image of the 8-bit path
constexpr int32_t kStripeScratch = 60000;

struct QualityThresholds {
    int32_t mean;
    int32_t range;
};

QualityThresholds thresholdsFor(int32_t flags) {
    return (flags & kFlagHighQualityThresholds) ? QualityThresholds{2900, 2450} : QualityThresholds{2300, 1700};
}

// Some variants lower the quality of bright or washed-out captures.
void penaliseRawLevels(int32_t *info, QualityThresholds t) {
    if (!CurrentVariantRules().rawLevelPenalty) return;
    if (g_nMean12Bit > t.mean) info[info_word::kQuality] -= (g_nMean12Bit - t.mean) >> 3;
    if (g_nRange > t.range) info[info_word::kQuality] -= (g_nRange - t.range) >> 3;
}

void clampQuality(int32_t *info) {
    int32_t &q = info[info_word::kQuality];
    q = q < 0 ? 0 : (q > 100 ? 100 : q);
}

// Stripe-removal scratch per image row and column group, of the raw and the
// 8-bit entry point (the channel path's raw budget counts one group).
constexpr int64_t kRawStripeBytesPerGroup = 5;
constexpr int64_t kByteStripeBytesPerGroup = 3;

int64_t rawBudget(int32_t w, int32_t h, int32_t flags) {
    int64_t budget = kBudgetBase + 2 * static_cast<int64_t>(w) * h;
    if (flags & kFlagRemoveHStripes) {
        const Conditioning path = CurrentVariantRules().conditioning;
        const int64_t groups = path == Conditioning::kChannels ? 1 : ColumnGroups(path);
        budget += kRawStripeBytesPerGroup * groups * h;
    }
    return budget;
}

int64_t byteBudget(int32_t w, int32_t h, int32_t flags) {
    int64_t budget = kBudgetBase;
    if (flags & kFlagRemoveHStripes) {
        const Conditioning path = CurrentVariantRules().conditioning;
        budget += path == Conditioning::kChannels ? (3 * static_cast<int64_t>(w) * h) / 8
                                                  : kByteStripeBytesPerGroup * ColumnGroups(path) * h;
    }
    return budget;
}

// Stripe removal of an 8-bit capture through the area at tempbuf + 30000; the
// corrected image replaces the caller's.
void removeStripes(uint8_t *image, int32_t w, int32_t h, bool horizontal) {
    uint8_t *area = tempbuf + kStripeArea;
    uint8_t *scratch = tempbuf + kStripeScratch;
    const size_t n = static_cast<size_t>(w) * h;
    const Conditioning path = CurrentVariantRules().conditioning;
    if (path == Conditioning::kChannels) {
        removeStripeLP(image, area, w, h);
    } else if (path == Conditioning::kColumnPairs) {
        if (horizontal) {
            removeHStripeLP_3(image, area, w, h, ColumnGroups(path), scratch);
            std::memcpy(image, area, n);
        }
        removeStripeLP_3(image, area, w, h, ColumnGroups(path));
    } else if (horizontal) {
        removeHStripeLP_3(image, area, w, h, ColumnGroups(path), scratch);
    } else {
        std::memcpy(area, image, n);
    }
    std::memcpy(image, area, n);
}

// Profile 3 touches carry the phase records of the ridge-filtered image the
// extraction left in `image`.
int32_t addPhaseRecords(uint8_t *templ, const uint8_t *image, int32_t w, int32_t h) {
    if (CurrentRecognitionProfile() != kProfileCorrelated) return 0;
    return AppendTouchPhases(templ, QV_TEMPLATE_SIZE, image, w, h) > 0 ? 0 : kCreateWorkspaceTooSmall;
}

}  // namespace

extern "C" int16_t Quorvane_CreateTemplate16(uint16_t *raw, uint8_t *image, int16_t width, int16_t height,
                                             uint8_t *templ, int32_t *info) {
    ForgetGalleryMatch();  // renewal must follow its match directly
    if (raw == nullptr || image == nullptr || templ == nullptr || info == nullptr || width <= 0 || height <= 0)
        return static_cast<int16_t>(kCreateWrongSize);
    const int32_t flags = info[info_word::kFlags];
    const int64_t budget = rawBudget(width, height, flags);
    if (budget > kMaxBudget) return static_cast<int16_t>(kCreateWorkspaceTooSmall);
    std::memset(tempbuf, 0, static_cast<size_t>(budget));
    if (ConditionRawImage(raw, image, width, height, (flags & kFlagRemoveHStripes) != 0) != 1)
        return static_cast<int16_t>(kCreateWorkspaceTooSmall);
    int32_t r = GetFeaFromImg(image, width, height, templ, QV_TEMPLATE_SIZE, tempbuf, QV_WORKSPACE_SIZE, info, 1);
    if (r == 0) r = addPhaseRecords(templ, image, width, height);
    if (r != 0) return static_cast<int16_t>(r);
    penaliseRawLevels(info, thresholdsFor(flags));
    clampQuality(info);
    return 1;
}

extern "C" int16_t Quorvane_CreateTemplate(uint8_t *image, int16_t width, int16_t height, uint8_t *templ,
                                           int32_t *info) {
    ForgetGalleryMatch();  // renewal must follow its match directly
    if (image == nullptr || templ == nullptr || info == nullptr || width <= 0 || height <= 0)
        return static_cast<int16_t>(kCreateWrongSize);
    int32_t flags = info[info_word::kFlags];
    if (byteBudget(width, height, flags) > kMaxBudget) return static_cast<int16_t>(kCreateWorkspaceTooSmall);
    // The stripe area and its scratch must hold the image; the pipeline then
    // refuses any size but the configured one.
    if (static_cast<int64_t>(width) * height > kStripeArea) return static_cast<int16_t>(kCreateWrongSize);
    if (g_bData16Bit == 2 && (flags & kFlagRemoveHStripes)) {
        // Stripes were already removed in 16 bits.
        info[info_word::kFlags] &= ~kFlagRemoveHStripes;
        flags &= ~kFlagRemoveHStripes;
    }
    removeStripes(image, width, height, (flags & kFlagRemoveHStripes) != 0);
    int32_t r =
        GetFeaFromImg(image, width, height, templ, QV_TEMPLATE_SIZE, tempbuf, QV_WORKSPACE_SIZE, info, g_bData16Bit);
    if (r == 0) r = addPhaseRecords(templ, image, width, height);
    if (r != 0) return static_cast<int16_t>(r);
    if (g_bData16Bit == 2) penaliseRawLevels(info, thresholdsFor(flags));
    clampQuality(info);
    g_bData16Bit = 0;
    return 1;
}
