// Profile 2 enrolment and renewal: a gallery grows by one island per touch,
// and renewal folds a confidently matched touch into the gallery.
#ifndef QV_GALLERY_MERGE_H
#define QV_GALLERY_MERGE_H

#include <cstdint>

// Fewest points a touch needs to become an island.
inline constexpr int32_t kMinIslandPoints = 6;
// Points an island keeps (every minutia, then the knee points of the widest
// descriptor windows): sixteen islands of the largest sensor then always fit a
// template, and a match of sixteen islands stays within half a millisecond.
inline constexpr int32_t kMaxIslandPoints = 48;

// Appends the touch `add` (its first island) to the gallery `base`; writes
// the result into out (QV_TEMPLATE_SIZE bytes, zero padded). Returns 0, or 1
// with nothing written when either template does not read, the touch has too
// few points, the gallery is full or the result would not fit even with the
// touch's knee points trimmed.
int32_t GalleryMerge(const uint8_t *base, const uint8_t *add, uint8_t *out, uint8_t *scratch, int32_t scratchSize);

// Renewal after a gallery match that scored at least kGalleryRenewScore: the
// touch becomes an island (replacing the island unmatched the longest when the
// gallery is full) and every island ages by one but the matched one. Returns
// 0 with the renewed template in out, or 1 with nothing written.
int32_t GalleryRenew(uint8_t *out, uint8_t *scratch, int32_t scratchSize);

// The two steps above without delivering the result: the gallery (islands
// trimmed to maxPoints) is written at the start of scratch and its length
// returned, -1 when refused. Renewal needs a last match of at least minScore
// and reports the island slot the touch took. Profile 3 appends its phase
// records to what these write.
int32_t GalleryMergeInto(const uint8_t *base, const uint8_t *add, int32_t maxPoints, uint8_t *scratch,
                         int32_t scratchSize);
int32_t GalleryRenewInto(int32_t minScore, int32_t maxPoints, uint8_t *scratch, int32_t scratchSize, int32_t &slot);

#endif
