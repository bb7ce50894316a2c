// The phase records of a profile 3 template, in a block right after its
// gallery:
//
//   'P' 'C' version(1) recordCount, then recordCount x kPhaseBytes
//
// A gallery keeps one record per island (the island's touch unrotated, in
// island order). A touch (one island) keeps kTouchRotations records: the
// touch rotated by kFirstRotation, kFirstRotation + kRotationStep, ...
// degrees, so that matching searches the rotation between two touches
// without another transform of the touch.
#ifndef QV_PHASE_RECORDS_H
#define QV_PHASE_RECORDS_H

#include <cstdint>

#include "core/gallery_template.h"
#include "correlation/phase_spectrum.h"

inline constexpr int32_t kRotationStep = 4;
inline constexpr int32_t kTouchRotations = 23;
inline constexpr int32_t kFirstRotation = -kRotationStep * (kTouchRotations / 2);
inline constexpr int32_t kUnrotatedRecord = kTouchRotations / 2;
inline constexpr int32_t kPhaseBlockHeader = 4;

struct PhaseRecords {
    int32_t count;
    const uint8_t *records;  // count x kPhaseBytes
};

// Reads the gallery and the phase records of a profile 3 template in the
// first `size` bytes: one record per island, or kTouchRotations for a touch.
bool ReadCorrelatedTemplate(const uint8_t *templ, int32_t size, GalleryView &gallery, PhaseRecords &phases);

// The unrotated record of island k.
const uint8_t *IslandRecord(const GalleryView &gallery, const PhaseRecords &phases, int32_t k);

// Appends the block of `count` records (each kPhaseBytes, from `records`) at
// out + at. Returns the new end, or -1 when it does not fit capacity.
int32_t AppendPhaseBlock(uint8_t *out, int32_t at, int32_t capacity, const uint8_t *const *records, int32_t count);

// Appends the rotated phase records of the touch whose one-island gallery
// starts templ (its points trimmed first when the block would not fit).
// image: the touch's ridge-filtered w x h pixels. Returns the template's new
// length, or -1.
int32_t AppendTouchPhases(uint8_t *templ, int32_t capacity, const uint8_t *image, int32_t w, int32_t h);

#endif
