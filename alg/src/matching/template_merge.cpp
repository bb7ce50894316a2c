// The merge decision: enough pairs, a score the pair mix calls for, the
// stricter bar while renewal is active; then the canvas merge and encoding.
#include "matching/template_merge.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/template_codec.h"
#include "core/variant_rules.h"
#include "matching/image_merge.h"
#include "matching/minutiae_align.h"

namespace {

constexpr uint32_t kMinMergePairs = 3;
// Required score: at least this, at most kMaxRequiredScore.
constexpr int32_t kMinRequiredScore = 15;
constexpr int32_t kLowPairMixLimit = 14;
constexpr int32_t kMaxRequiredScore = 35;
// Mask sides reported in pixels are taken modulo this many cells so they fit 16 bits.
constexpr uint32_t kReportedCellsModulo = 16384;

}  // namespace

int32_t RequiredMergeScore(int32_t minutiaPairs, int32_t kneePairs) {
    const int64_t q = (static_cast<int64_t>(minutiaPairs) * minutiaPairs + 2 * static_cast<int64_t>(kneePairs)) * 2;
    if (q <= kLowPairMixLimit) return kMinRequiredScore;
    return q < kMaxRequiredScore ? static_cast<int32_t>(q) : kMaxRequiredScore;
}

int32_t MergeOverlapDivisor(int32_t version) { return VariantRulesFor(version).mergeOverlapDivisor; }

bool EncodeMergedSlot(const FeatureSlot &merged, uint8_t *out, uint16_t &widthPixels, uint16_t &heightPixels) {
    int32_t width = static_cast<int32_t>(merged.mask->width);
    int32_t height = static_cast<int32_t>(merged.mask->height);
    if (CutBackFeatures(merged.set, merged.mask->cells, width, height) != kCodecOk) return false;
    if (EncodeTemplate(merged.set, merged.mask->cells, width, height, out, QV_TEMPLATE_SIZE) != kCodecOk) return false;
    widthPixels = static_cast<uint16_t>((static_cast<uint32_t>(width) % kReportedCellsModulo) * kCellPixels);
    heightPixels = static_cast<uint16_t>((static_cast<uint32_t>(height) % kReportedCellsModulo) * kCellPixels);
    return true;
}

int32_t MergeAligned(const MatchWorkspace &ws, uint8_t *out, uint16_t *overlap, uint16_t *width, uint16_t *height) {
    const PairList &best = *ws.best;
    if (best.total < kMinMergePairs) return kMergeRefused;
    const int32_t score = resultMax[kResultScore];
    const int32_t kneePairs = static_cast<int32_t>(best.kneePairs + best.valleyKneePairs);
    if (score < RequiredMergeScore(static_cast<int32_t>(best.minutiaPairs), kneePairs)) return kMergeRefused;
    if (g_bRenewFlag && score < EATURE_RENEW_THRESHOLD2) return kMergeRefused;

    const Minutia &anchor = ws.probe->points[resultMax[kResultProbeAnchor]];
    int32_t visited = 0;
    int32_t overlapping = 0;
    MaskOverlap(*ws.probeMask, *ws.refMask, static_cast<int32_t>(anchor.x), static_cast<int32_t>(anchor.y),
                resultMax[kResultDx], resultMax[kResultDy], resultMax[kResultRotation], visited, overlapping);
    const int32_t overlapMeasure = overlapping * 100 / MergeOverlapDivisor(QV_CURRENT_VER);

    std::memset(ws.alignedRef, 0, sizeof(FeatureSet));
    std::memset(ws.mergeMask, 0, sizeof(FeatureMask));
    const FeatureSlot mergedSlot{ws.alignedRef, ws.mergeMask};
    if (ImageMerge2(*ws.ref, *ws.refMask, *ws.probe, *ws.probeMask, &mergedSlot, resultMax, best) != kMergeDone)
        return kMergeRefused;
    uint16_t w = 0;
    uint16_t h = 0;
    if (!EncodeMergedSlot(mergedSlot, out, w, h)) return kMergeRefused;
    if (overlap != nullptr) *overlap = static_cast<uint16_t>(overlapMeasure);
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return kMergeDone;
}
