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

namespace {

// The workspace regions and sizes of one extraction, shared by its phases.
struct Extraction {
    uint8_t *mask;
    uint8_t *orient;
    uint8_t *work;
    uint8_t *scratch;
    uint8_t *words;  // 32-bit work area, also the skeleton repair's scratch
    uint8_t *valley;
    uint8_t *minutiae;  // minutiae workspace
    FeatureSet *set;
    int32_t w, h;    // source size
    int32_t ew, eh;  // expanded size, once the border is added
    const StageObserver *observer;
};

Extraction extractionIn(uint8_t *workspace, int32_t w, int32_t h, const StageObserver *observer) {
    return Extraction{workspace + L::kMask,
                      workspace + L::kOrientation,
                      workspace + L::kWorkImage,
                      workspace + L::kScratchImage,
                      workspace + L::kWords,
                      workspace + L::kValley,
                      workspace + L::kMinutiae,
                      reinterpret_cast<FeatureSet *>(workspace + L::kFeatureSet),
                      w,
                      h,
                      w,
                      h,
                      observer};
}

void show(const Extraction &x, ExtractionStage stage, const uint8_t *image) {
    if (x.observer == nullptr) return;
    const bool mapped = stage >= ExtractionStage::kOrientation;
    const bool source = stage <= ExtractionStage::kNormalised;
    x.observer->seen(x.observer->context, StageView{stage, source ? x.w : x.ew, source ? x.h : x.eh, image,
                                                    mapped ? x.orient : nullptr, mapped ? x.mask : nullptr,
                                                    stage == ExtractionStage::kNormalised ? g_fNormalize : nullptr});
}

// Dry/wet measure, contrast stretch, normalisation and smoothing of the
// source image into the working image, whose border is then filled.
int32_t conditionImage(Extraction &x, const uint8_t *image, int32_t *info) {
    const int32_t n = x.w * x.h;
    std::memcpy(x.work, image, static_cast<size_t>(n));
    info[info_word::kDryWet] =
        DryWetStrengthNew(x.work, x.scratch, x.mask, g_pImgbuf, static_cast<uint16_t>(x.w), static_cast<uint16_t>(x.h));
    g_DryWetValue = static_cast<uint8_t>(info[info_word::kDryWet]);

    if (!ExpandHistogram(x.work, x.w, x.h)) return kCreateNoContrast;
    show(x, ExtractionStage::kStretched, x.work);
    if (!Normalize(x.work, g_fNormalize, x.w, x.h)) return kCreateNormaliseFailed;
    GaussSmooth2(g_fNormalize, x.mask, g_fGaussSmooth, x.w, x.h);
    show(x, ExtractionStage::kNormalised, nullptr);
    vwn_GaussSmooth2(x.work, g_pImgbuf, x.mask, x.scratch, x.w, x.h);
    std::memcpy(x.work, x.scratch, static_cast<size_t>(n));
    vwn_ExpandEdge(x.work, &x.ew, &x.eh, kExpandBorder, kExpandFill);
    show(x, ExtractionStage::kSmoothed, x.work);
    return 0;
}

// Orientation map and finger mask of the expanded image.
int32_t estimateOrientation(Extraction &x, uint8_t *image, int32_t *info) {
    if (!vwn_getOrientMap22(image, x.work, x.scratch, x.ew, x.eh, x.orient, x.mask,
                            reinterpret_cast<int32_t *>(x.words), kOrientationRadius))
        return kCreateNoOrientation;
    info[info_word::kFingerArea] = CalFingerArea(x.mask, x.ew, x.eh);
    show(x, ExtractionStage::kOrientation, x.work);
    return 0;
}

// The oriented ridge filter; the filtered source area goes back to the caller.
void filterRidges(Extraction &x, uint8_t *image) {
    segment_clearEdge(x.mask, x.orient, x.work, x.ew, x.eh);
    orientFilter(x.work, x.orient, x.scratch, x.ew, x.eh);
    show(x, ExtractionStage::kFiltered, x.work);
    std::memcpy(x.scratch, x.work, static_cast<size_t>(x.ew * x.eh));
    int32_t cw = x.ew, ch = x.eh;
    vwn_CropEdge(x.scratch, &cw, &ch, kExpandBorder, kExpandBorder);
    const int32_t n = x.w * x.h;
    for (int32_t i = 0; i < n; ++i) image[i] = x.scratch[i] > kFilteredMax ? kFilteredMax : x.scratch[i];
}

// Binarisation, thinning and skeleton clean-up of the ridges, and of the
// valleys for the variants that use them.
void buildSkeletons(Extraction &x) {
    const int32_t ew = x.ew, eh = x.eh;
    const size_t en = static_cast<size_t>(ew * eh);
    binary(x.work, x.orient, x.scratch, ew, eh);
    std::memcpy(x.work, x.scratch, en);
    show(x, ExtractionStage::kBinary, x.work);
    binaryClear(x.work, x.mask, x.scratch, ew, eh);
    show(x, ExtractionStage::kBinaryClean, x.work);
    const bool valleys = CurrentVariantRules().valleys;
    if (valleys) {
        binaryinversion(x.work, x.scratch, x.mask, ew, eh, kExpandBorder);
        std::memcpy(x.valley, x.scratch, en);
    }
    imageThin(x.work, x.scratch, ew, eh);
    show(x, ExtractionStage::kThinned, x.work);
    if (valleys) imageThin(x.valley, x.scratch, ew, eh);
    vwn_ImageDilate3(x.mask, x.scratch, ew, eh, kMaskShrinkRadius, kMorphologyMargin, eh - kMorphologyMargin,
                     kMorphologyMargin, ew - kMorphologyMargin);
    thinClear3(x.work, x.mask, ew, eh, kSpurShort, kSpurLong);
    if (valleys) thinClear3(x.valley, x.mask, ew, eh, kSpurShort, kSpurLong);
    vwn_ThinModify(x.work, x.scratch, x.words, ew, eh);
    show(x, ExtractionStage::kSkeleton, x.work);
    if (valleys) {
        vwn_ThinModify(x.valley, x.scratch, x.words, ew, eh);
        show(x, ExtractionStage::kValleySkeleton, x.valley);
    }
}

// Minutiae and knee points into the feature set, and the info words.
int32_t findFeatures(Extraction &x, int32_t *info) {
    const int32_t ew = x.ew, eh = x.eh;
    std::memset(x.set, 0, sizeof *x.set);
    x.set->dryWet = static_cast<uint32_t>(info[info_word::kDryWet]);
    const int32_t r =
        vwn_getMinutia5(x.work, x.valley, g_pImgbuf, x.orient, x.mask, x.set, ew, eh, x.minutiae, L::kMinutiaeSize);
    if (r != 0) return r;
    vwn_ImageErode3(x.mask, x.valley, ew, eh, kMaskGrowRadius, kMorphologyMargin, eh - kMorphologyMargin,
                    kMorphologyMargin, ew - kMorphologyMargin);
    info[info_word::kPointCount] = static_cast<int32_t>(FeaturePointCount(*x.set));
    info[info_word::kKneeOrientation] = CalKneePtMaxOrient(x.set);
    info[info_word::kQuality] = CalImgQuality(x.set) - 2 * g_nFalseMinutiaNum;
    if (CurrentVariantRules().doubledQuality) info[info_word::kQuality] *= 2;
    return 0;
}

// The finger mask cropped and compressed, the descriptors, and the encoded
// template. Within the point and mask limits the template always fits; a
// refusal must not pass as a template.
int32_t encodeTemplate(Extraction &x, uint8_t *templ, int32_t templCapacity) {
    std::memcpy(x.orient, x.mask, static_cast<size_t>(x.ew * x.eh));
    int32_t mw = x.ew, mh = x.eh;
    vwn_CropEdge(x.orient, &mw, &mh, kExpandBorder, kExpandBorder);
    int32_t cellW = x.ew, cellH = x.eh;
    CompressGndImg(x.mask, &cellW, &cellH);
    CutBackFeatures(x.set, x.mask, cellW, cellH);
    if (const int32_t profile = CurrentRecognitionProfile(); IsGalleryProfile(profile)) {
        CreateStyledDescriptors(x.set, g_fGaussSmooth, x.w, x.h, g_fRotImg, g_fGradvec, GalleryDescriptorStyle());
        return EncodeGalleryCapture(x.set, x.mask, cellW, cellH, templ, templCapacity, profile) > 0
                   ? 0
                   : kCreateWorkspaceTooSmall;
    }
    CreateDescriptors(x.set, g_fGaussSmooth, x.w, x.h, g_fRotImg, g_fGradvec);
    if (EncodeTemplate(x.set, x.mask, cellW, cellH, templ, templCapacity) != kCodecOk) return kCreateWorkspaceTooSmall;
    return 0;
}

}  // namespace

int32_t GetFeaFromImg(uint8_t *image, int32_t w, int32_t h, uint8_t *templ, int32_t templCapacity, uint8_t *workspace,
                      int32_t workspaceSize, int32_t *info, int32_t keepMask, const StageObserver *observer) {
    g_bRenewFlag = 0;
    if (workspaceSize < L::kRequired) return kCreateWorkspaceTooSmall;
    const int32_t clearFrom = keepMask ? L::kOrientation : L::kMask;
    std::memset(workspace + clearFrom, 0, static_cast<size_t>(L::kRequired - clearFrom));
    if (w != IMAGE_WIDTH_SRC || h != IMAGE_HEIGHT_SRC) return kCreateWrongSize;

    Extraction x = extractionIn(workspace, w, h, observer);
    if (const int32_t r = conditionImage(x, image, info); r != 0) return r;
    if (const int32_t r = estimateOrientation(x, image, info); r != 0) return r;
    filterRidges(x, image);
    buildSkeletons(x);
    if (const int32_t r = findFeatures(x, info); r != 0) return r;
    return encodeTemplate(x, templ, templCapacity);
}
