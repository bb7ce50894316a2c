// One 8-bit capture to one template: the fixed sequence of extraction stages
// sharing one workspace, and the quality numbers reported in the info block.
#ifndef QV_TEMPLATE_PIPELINE_H
#define QV_TEMPLATE_PIPELINE_H

#include <cstdint>

#include "core/featureset.h"

// Workspace regions of the pipeline (byte offsets into the caller's
// workspace). They are used one after another; the feature set overlaps the
// 32-bit orientation work area, which is dead by the time it is filled.
namespace pipeline_layout {
inline constexpr int32_t kMask = 0;              // 30000: finger mask
inline constexpr int32_t kOrientation = 30000;   // 30000: orientation map, later the cropped mask copy
inline constexpr int32_t kWorkImage = 60000;     // 30000: working image
inline constexpr int32_t kScratchImage = 90000;  // 30000: scratch image
inline constexpr int32_t kFeatureSet = 90000;    // 60816: the feature set, after thinning
inline constexpr int32_t kWords = 120000;        // 90000: 32-bit work area, skeleton repair scratch
inline constexpr int32_t kMinutiae = 150816;     // 48200: minutiae workspace
inline constexpr int32_t kValley = 210000;       // 30000: valley skeleton and erosion scratch
inline constexpr int32_t kRegionSize = 30000;
inline constexpr int32_t kMinutiaeSize = 48200;
inline constexpr int32_t kRequired = 240000;
}  // namespace pipeline_layout

// Info block words.
namespace info_word {
inline constexpr int kPointCount = 0;
inline constexpr int kFingerArea = 1;
inline constexpr int kKneeOrientation = 2;
inline constexpr int kQuality = 3;
inline constexpr int kDryWet = 4;
inline constexpr int kFlags = 9;
}  // namespace info_word

// Info flags (word 9).
inline constexpr int32_t kFlagRemoveHStripes = 1;
inline constexpr int32_t kFlagHighQualityThresholds = 2;

// Template creation codes.
inline constexpr int32_t kCreateWorkspaceTooSmall = -1;
inline constexpr int32_t kCreateWrongSize = -2;
inline constexpr int32_t kCreateNoOrientation = -4;
inline constexpr int32_t kCreateNoContrast = -31;
inline constexpr int32_t kCreateNormaliseFailed = -33;

// The images of an extraction in the order they are produced, shown to a
// stage observer (a diagnostic tool; production passes none).
enum class ExtractionStage : uint8_t {
    kStretched,       // source size: the capture after the contrast stretch
    kNormalised,      // source size: `normalised` holds the normalised image
    kSmoothed,        // expanded: smoothed, the border filled
    kOrientation,     // expanded: orientation map and finger mask over the image they came from
    kFiltered,        // expanded: after the oriented ridge filter
    kBinary,          // expanded: binarised
    kBinaryClean,     // expanded: isolated noise removed
    kThinned,         // expanded: the ridges thinned
    kSkeleton,        // expanded: the ridge skeleton after spur removal and repair
    kValleySkeleton,  // expanded: the valley skeleton (variants with valleys only)
};

struct StageView {
    ExtractionStage stage;
    int32_t w;
    int32_t h;
    const uint8_t *image;
    const uint8_t *orientation;  // from kOrientation on, else null
    const uint8_t *mask;         // from kOrientation on, else null
    const int16_t *normalised;   // kNormalised only, else null
};

// Called with every stage's view while the extraction runs; the pointers are
// valid only during the call.
struct StageObserver {
    void (*seen)(void *context, const StageView &view);
    void *context;
};

// Runs the extraction stages on the W x H source image and encodes the
// template. Returns 0 or a negative creation code. With keepMask set the
// first 30000 workspace bytes (the finger mask) are kept. The image is
// replaced by its ridge-filtered version.
int32_t GetFeaFromImg(uint8_t *image, int32_t w, int32_t h, uint8_t *templ, int32_t templCapacity, uint8_t *workspace,
                      int32_t workspaceSize, int32_t *info, int32_t keepMask, const StageObserver *observer = nullptr);

// Number of mask bytes equal to 0 (finger).
int32_t CalFingerArea(const uint8_t *mask, int32_t w, int32_t h);

// Quality from the point counts and the knee types.
int32_t CalImgQuality(const FeatureSet *set);

// Percentage of image blocks whose ridge contrast is far below the average
// (dry or wet skin); the flagged blocks are marked 255 in the W x H map.
int32_t DryWetStrengthNew(const uint8_t *image, uint8_t *block, const uint8_t *mask, uint8_t *map, uint16_t w,
                          uint16_t h);

#endif
