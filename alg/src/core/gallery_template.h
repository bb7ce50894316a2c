// Profile 2 template layout: a gallery of islands, each island one enrolment
// touch (or a touch added by renewal) as an ordinary feature template with
// profile 2's version code. Island 0 is the head of the whole template, so a
// reader of the ordinary format sees one touch; the other islands follow it in
// a block:
//
//   'G' 'L' version(1) islandCount age[islandCount]
//   island k > 0: length (2 bytes, big-endian), feature template
//
// An island's age counts the renewals since it last matched; renewal replaces
// the oldest island once the gallery is full.
#ifndef QV_GALLERY_TEMPLATE_H
#define QV_GALLERY_TEMPLATE_H

#include <cstdint>

inline constexpr int32_t kMaxIslands = 16;

struct GalleryIsland {
    const uint8_t *templ;
    int32_t length;
    uint8_t age;
};

struct GalleryView {
    int32_t profile;  // 2, or 3 for a gallery with phase spectra after it
    int32_t count;
    GalleryIsland islands[kMaxIslands];
};

// Reads the gallery in the first `size` bytes, checking every length against
// the buffer and every island's header (all of the head's profile). False
// when it is not a readable gallery of profile 2 or 3.
bool ReadGallery(const uint8_t *templ, int32_t size, GalleryView &view);

// Bytes the gallery takes when written, -1 for an empty one.
int64_t GalleryBytes(const GalleryView &view);

// Writes the gallery into out, which must not overlap the islands' buffers.
// Returns the bytes written, or -1 (nothing written) when it has no island,
// more than kMaxIslands, or does not fit `capacity`.
int32_t WriteGallery(const GalleryView &view, uint8_t *out, int32_t capacity);

// Copies an island's feature template keeping at most maxPoints points: every
// minutia, then the knee points of the widest descriptor coverage, in their
// original order. Returns the new length, or -1 when it does not fit capacity.
int32_t TrimIsland(const uint8_t *templ, int32_t length, int32_t maxPoints, uint8_t *out, int32_t capacity);

struct FeatureSet;
// Encodes one touch (points in the template frame, width x height mask cells)
// as a one-island gallery of `profile` (2 or 3). Returns its length, or -1
// when it does not fit.
int32_t EncodeGalleryCapture(const FeatureSet *set, const uint8_t *cells, int32_t width, int32_t height, uint8_t *out,
                             int32_t capacity, int32_t profile = 2);

// Number of points an island's feature template declares.
int32_t IslandPoints(const uint8_t *templ);

#endif
