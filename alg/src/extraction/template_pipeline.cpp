#include "extraction/template_pipeline.h"

#include <cstring>

#include "conditioning/edge_ops.h"
#include "conditioning/histogram_stretch.h"
#include "core/gallery_template.h"
#include "core/recognition_profile.h"
#include "core/template_codec.h"
#include "core/variant_rules.h"
#include "extraction/binarisation.h"
#include "extraction/contrast_normalisation.h"
#include "extraction/descriptors.h"
#include "extraction/knee_points.h"
#include "extraction/minutiae.h"
#include "extraction/orientation_field.h"
#include "extraction/ridge_filter.h"
#include "extraction/segmentation.h"
#include "extraction/skeleton_repair.h"
#include "extraction/smoothing.h"
#include "extraction/thinning.h"

namespace {

namespace L = pipeline_layout;

constexpr uint8_t kExpandFill = 250;
constexpr uint8_t kFilteredMax = 250;
constexpr int32_t kMaskShrinkRadius = 7;
constexpr int32_t kMaskGrowRadius = 4;
constexpr int32_t kMorphologyMargin = 30;
constexpr int32_t kOrientationRadius = 8;
constexpr int32_t kSpurShort = 4;
constexpr int32_t kSpurLong = 5;
constexpr int32_t kMaxDryWetBlocks = 400;

// Mean of the finger pixels (mask below 255), 0 when there are none.
int32_t fingerMean(const uint8_t *image, const uint8_t *mask, int32_t n) {
    int64_t sum = 0;
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (mask[i] < 255) {
            sum += image[i];
            ++count;
        }
    }
    return count ? static_cast<int32_t>(sum / count) : 0;
}

}  // namespace

int32_t CalFingerArea(const uint8_t *mask, int32_t w, int32_t h) {
    int32_t area = 0;
    for (int32_t i = 0; i < w * h; ++i) area += mask[i] == 0;
    return area;
}

int32_t CalImgQuality(const FeatureSet *set) {
    int32_t q = 4 * static_cast<int32_t>(set->minutiaCount);
    const uint32_t end = FeaturePointCount(*set);
    for (uint32_t i = set->minutiaCount; i < end && i < static_cast<uint32_t>(kMaxFeaturePoints); ++i) {
        const uint32_t type = set->points[i].type;
        q += type < 151 ? 7 : (type <= 160 ? 6 : 4);
    }
    return q / 4;
}

int32_t DryWetStrengthNew(const uint8_t *image, uint8_t *block, const uint8_t *mask, uint8_t *map, uint16_t w,
                          uint16_t h) {
    const BlockSize size = CurrentVariantRules().dryWetBlock;
    const int32_t nbx = w / size.w;
    const int32_t nby = h / size.h;
    const int32_t blocks = nbx * nby;
    std::memset(map, 0, static_cast<size_t>(w) * h);
    if (blocks == 0 || blocks > kMaxDryWetBlocks) return 0;

    const int32_t f = fingerMean(image, mask, w * h);
    int64_t product[kMaxDryWetBlocks];
    int32_t ridgeMean[kMaxDryWetBlocks];
    int64_t productSum = 0;
    int32_t ridgeBlocks = 0;
    const int32_t packed = size.w * size.h;
    for (int32_t b = 0; b < blocks; ++b) {
        gegSegImg(image, mask, w, h, block, (b % nbx) * size.w, (b / nbx) * size.h, static_cast<int16_t>(size.w),
                  static_cast<int16_t>(size.h));
        int32_t darkSum = 0, darkCount = 0;
        for (int32_t k = 0; k < packed; ++k) {
            if (block[k] < 255 && block[k] < f) {
                darkSum += block[k];
                ++darkCount;
            }
        }
        const int32_t m = darkCount ? darkSum / darkCount : 0;
        int32_t varSum = 0, count = 0;
        for (int32_t k = 0; k < packed; ++k) {
            if (block[k] < 255) {
                varSum += (block[k] - m) * (block[k] - m);
                ++count;
            }
        }
        int32_t v = count ? varSum / count : 0;
        if (v == 0) v = 1;
        ridgeMean[b] = m;
        product[b] = static_cast<int64_t>(m) * v;
        productSum += product[b];
        if (m > 0) ++ridgeBlocks;
    }
    const int64_t average = ridgeBlocks ? productSum / ridgeBlocks : 0;

    uint8_t flag[kMaxDryWetBlocks];
    for (int32_t b = 0; b < blocks; ++b) {
        const bool weak = product[b] > 0 && product[b] < average / 4 && ridgeMean[b] > 0 && f >= ridgeMean[b];
        flag[b] = weak ? 255 : 0;
    }
    // Neighbour vote by flat block index, in place (a neighbour index may wrap
    // into the previous or next block row).
    for (int32_t b = 0; b < blocks; ++b) {
        int32_t set = 0, clear = 0;
        for (int32_t dy = -1; dy <= 1; ++dy) {
            for (int32_t dx = -1; dx <= 1; ++dx) {
                if (dy == 0 && dx == 0) continue;
                const int32_t n = b + dy * nbx + dx;
                if (n < 0 || n >= blocks) continue;
                set += flag[n] == 255;
                clear += flag[n] == 0;
            }
        }
        if (set > 6) flag[b] = 255;
        if (clear > 6) flag[b] = 0;
    }
    int32_t flagged = 0;
    for (int32_t b = 0; b < blocks; ++b) {
        if (flag[b] != 255) continue;
        ++flagged;
        uint8_t *corner = map + (b / nbx) * size.h * w + (b % nbx) * size.w;
        for (int32_t y = 0; y < size.h; ++y) std::memset(corner + y * w, 255, static_cast<size_t>(size.w));
    }
    return flagged * 100 / blocks;
}

int32_t GetFeaFromImg(uint8_t *image, int32_t w, int32_t h, uint8_t *templ, int32_t templCapacity, uint8_t *workspace,
                      int32_t workspaceSize, int32_t *info, int32_t keepMask) {
    g_bRenewFlag = 0;
    if (workspaceSize < L::kRequired) return kCreateWorkspaceTooSmall;
    const int32_t clearFrom = keepMask ? L::kOrientation : L::kMask;
    std::memset(workspace + clearFrom, 0, static_cast<size_t>(L::kRequired - clearFrom));
    if (w != IMAGE_WIDTH_SRC || h != IMAGE_HEIGHT_SRC) return kCreateWrongSize;

    uint8_t *mask = workspace + L::kMask;
    uint8_t *orient = workspace + L::kOrientation;
    uint8_t *work = workspace + L::kWorkImage;
    uint8_t *scratch = workspace + L::kScratchImage;
    int32_t *words = reinterpret_cast<int32_t *>(workspace + L::kWords);
    uint8_t *valley = workspace + L::kValley;
    const int32_t n = w * h;

    std::memcpy(work, image, static_cast<size_t>(n));
    info[info_word::kDryWet] =
        DryWetStrengthNew(work, scratch, mask, g_pImgbuf, static_cast<uint16_t>(w), static_cast<uint16_t>(h));
    g_DryWetValue = static_cast<uint8_t>(info[info_word::kDryWet]);

    if (!ExpandHistogram(work, w, h)) return kCreateNoContrast;
    if (!Normalize(work, g_fNormalize, w, h)) return kCreateNormaliseFailed;
    GaussSmooth2(g_fNormalize, mask, g_fGaussSmooth, w, h);
    vwn_GaussSmooth2(work, g_pImgbuf, mask, scratch, w, h);
    std::memcpy(work, scratch, static_cast<size_t>(n));

    int32_t ew = w, eh = h;
    vwn_ExpandEdge(work, &ew, &eh, kExpandBorder, kExpandFill);
    const int32_t en = ew * eh;
    if (!vwn_getOrientMap22(image, work, scratch, ew, eh, orient, mask, words, kOrientationRadius))
        return kCreateNoOrientation;
    info[info_word::kFingerArea] = CalFingerArea(mask, ew, eh);
    segment_clearEdge(mask, orient, work, ew, eh);
    orientFilter(work, orient, scratch, ew, eh);

    // The ridge-filtered source area goes back to the caller.
    std::memcpy(scratch, work, static_cast<size_t>(en));
    int32_t cw = ew, ch = eh;
    vwn_CropEdge(scratch, &cw, &ch, kExpandBorder, kExpandBorder);
    for (int32_t i = 0; i < n; ++i) image[i] = scratch[i] > kFilteredMax ? kFilteredMax : scratch[i];

    binary(work, orient, scratch, ew, eh);
    std::memcpy(work, scratch, static_cast<size_t>(en));
    binaryClear(work, mask, scratch, ew, eh);
    const bool valleys = CurrentVariantRules().valleys;
    if (valleys) {
        binaryinversion(work, scratch, mask, ew, eh, kExpandBorder);
        std::memcpy(valley, scratch, static_cast<size_t>(en));
    }
    imageThin(work, scratch, ew, eh);
    if (valleys) imageThin(valley, scratch, ew, eh);
    vwn_ImageDilate3(mask, scratch, ew, eh, kMaskShrinkRadius, kMorphologyMargin, eh - kMorphologyMargin,
                     kMorphologyMargin, ew - kMorphologyMargin);
    thinClear3(work, mask, ew, eh, kSpurShort, kSpurLong);
    if (valleys) thinClear3(valley, mask, ew, eh, kSpurShort, kSpurLong);
    vwn_ThinModify(work, scratch, workspace + L::kWords, ew, eh);
    if (valleys) vwn_ThinModify(valley, scratch, workspace + L::kWords, ew, eh);

    FeatureSet *set = reinterpret_cast<FeatureSet *>(workspace + L::kFeatureSet);
    std::memset(set, 0, sizeof *set);
    set->dryWet = static_cast<uint32_t>(info[info_word::kDryWet]);
    const int32_t r =
        vwn_getMinutia5(work, valley, g_pImgbuf, orient, mask, set, ew, eh, workspace + L::kMinutiae, L::kMinutiaeSize);
    if (r != 0) return r;
    vwn_ImageErode3(mask, valley, ew, eh, kMaskGrowRadius, kMorphologyMargin, eh - kMorphologyMargin, kMorphologyMargin,
                    ew - kMorphologyMargin);

    info[info_word::kPointCount] = static_cast<int32_t>(FeaturePointCount(*set));
    info[info_word::kKneeOrientation] = CalKneePtMaxOrient(set);
    info[info_word::kQuality] = CalImgQuality(set) - 2 * g_nFalseMinutiaNum;
    if (CurrentVariantRules().doubledQuality) info[info_word::kQuality] *= 2;

    std::memcpy(orient, mask, static_cast<size_t>(en));
    int32_t mw = ew, mh = eh;
    vwn_CropEdge(orient, &mw, &mh, kExpandBorder, kExpandBorder);
    int32_t cellW = ew, cellH = eh;
    CompressGndImg(mask, &cellW, &cellH);
    CutBackFeatures(set, mask, cellW, cellH);
    // Within the point and mask limits the template always fits; a refusal
    // must not pass as a template.
    if (CurrentRecognitionProfile() == kProfileGallery) {
        CreateStyledDescriptors(set, g_fGaussSmooth, w, h, g_fRotImg, g_fGradvec, GalleryDescriptorStyle());
        return EncodeGalleryCapture(set, mask, cellW, cellH, templ, templCapacity) > 0 ? 0 : kCreateWorkspaceTooSmall;
    }
    CreateDescriptors(set, g_fGaussSmooth, w, h, g_fRotImg, g_fGradvec);
    if (EncodeTemplate(set, mask, cellW, cellH, templ, templCapacity) != kCodecOk) return kCreateWorkspaceTooSmall;
    return 0;
}
