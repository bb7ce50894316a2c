#include "matching/gallery_merge.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/gallery_template.h"
#include "matching/gallery_match.h"

namespace {

constexpr int32_t kRefused = 1;
constexpr int32_t kDone = 0;
static_assert(kMaxIslands * (2 + 16 + 31 * kMaxIslandPoints + 78) + 4 + kMaxIslands <= QV_TEMPLATE_SIZE,
              "island length prefix, header, points and the 112 x 88 mask");
constexpr uint8_t kOldest = 255;

// Writes `view` with `island` (trimmed to maxPoints) put at `slot` (appended
// when slot == count) into scratch. Returns the bytes written or -1.
int32_t writeWithIsland(GalleryView view, int32_t slot, GalleryIsland island, int32_t maxPoints, uint8_t *scratch,
                        int32_t scratchSize) {
    if (scratchSize < 2 * QV_TEMPLATE_SIZE) return -1;
    uint8_t *trimmed = scratch + QV_TEMPLATE_SIZE;
    if (IslandPoints(island.templ) > maxPoints) {
        island.length = TrimIsland(island.templ, island.length, maxPoints, trimmed, QV_TEMPLATE_SIZE);
        if (island.length < 0) return -1;
        island.templ = trimmed;
    }
    if (slot == view.count) ++view.count;
    view.islands[slot] = island;
    return WriteGallery(view, scratch, QV_TEMPLATE_SIZE);
}

// Copies the gallery written into scratch to out, zero padded.
int32_t deliver(int32_t bytes, const uint8_t *scratch, uint8_t *out) {
    if (bytes < 0) return kRefused;
    std::memcpy(out, scratch, static_cast<size_t>(bytes));
    std::memset(out + bytes, 0, static_cast<size_t>(QV_TEMPLATE_SIZE - bytes));
    return kDone;
}

}  // namespace

int32_t GalleryMergeInto(const uint8_t *base, const uint8_t *add, int32_t maxPoints, uint8_t *scratch,
                         int32_t scratchSize) {
    GalleryView gallery{};
    GalleryView touch{};
    if (scratch == nullptr) return -1;
    if (!ReadGallery(base, QV_TEMPLATE_SIZE, gallery) || !ReadGallery(add, QV_TEMPLATE_SIZE, touch)) return -1;
    if (gallery.profile != touch.profile) return -1;
    if (gallery.count >= kMaxIslands || IslandPoints(touch.islands[0].templ) < kMinIslandPoints) return -1;
    GalleryIsland island = touch.islands[0];
    island.age = 0;
    // The base's own first island may be a whole touch (the first merge of an
    // enrolment): it is trimmed like every other island.
    if (IslandPoints(gallery.islands[0].templ) > maxPoints) {
        if (scratchSize < 3 * QV_TEMPLATE_SIZE) return -1;
        uint8_t *head = scratch + 2 * QV_TEMPLATE_SIZE;
        const GalleryIsland &first = gallery.islands[0];
        const int32_t length = TrimIsland(first.templ, first.length, maxPoints, head, QV_TEMPLATE_SIZE);
        if (length < 0) return -1;
        gallery.islands[0] = GalleryIsland{head, length, first.age};
    }
    return writeWithIsland(gallery, gallery.count, island, maxPoints, scratch, scratchSize);
}

int32_t GalleryMerge(const uint8_t *base, const uint8_t *add, uint8_t *out, uint8_t *scratch, int32_t scratchSize) {
    if (out == nullptr) return kRefused;
    return deliver(GalleryMergeInto(base, add, kMaxIslandPoints, scratch, scratchSize), scratch, out);
}

int32_t GalleryRenewInto(int32_t minScore, int32_t maxPoints, uint8_t *scratch, int32_t scratchSize, int32_t &slot) {
    const GalleryMatchState &last = LastGalleryMatch();
    if (scratch == nullptr || !last.valid || last.score < minScore) return -1;
    ForgetGalleryMatch();
    GalleryView gallery{};
    GalleryView touch{};
    if (!ReadGallery(last.stored, QV_TEMPLATE_SIZE, gallery) || !ReadGallery(last.probe, QV_TEMPLATE_SIZE, touch) ||
        gallery.profile != touch.profile || IslandPoints(touch.islands[0].templ) < kMinIslandPoints)
        return -1;
    for (int32_t k = 0; k < gallery.count; ++k)
        if (gallery.islands[k].age < kOldest) ++gallery.islands[k].age;
    gallery.islands[last.island].age = 0;
    slot = gallery.count;
    if (gallery.count >= kMaxIslands) {
        slot = last.island == 0 ? 1 : 0;
        for (int32_t k = 0; k < gallery.count; ++k)
            if (k != last.island && gallery.islands[k].age >= gallery.islands[slot].age) slot = k;
    }
    GalleryIsland island = touch.islands[0];
    island.age = 0;
    return writeWithIsland(gallery, slot, island, maxPoints, scratch, scratchSize);
}

int32_t GalleryRenew(uint8_t *out, uint8_t *scratch, int32_t scratchSize) {
    int32_t slot = 0;
    if (out == nullptr) return kRefused;
    return deliver(GalleryRenewInto(kGalleryRenewScore, kMaxIslandPoints, scratch, scratchSize, slot), scratch, out);
}
