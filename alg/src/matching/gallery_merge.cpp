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

// Writes `view` with `island` (trimmed to kMaxIslandPoints) put at `slot`
// (appended when slot == count) into out through scratch.
int32_t writeWithIsland(GalleryView view, int32_t slot, GalleryIsland island, uint8_t *out, uint8_t *scratch,
                        int32_t scratchSize) {
    if (scratchSize < 2 * QV_TEMPLATE_SIZE) return kRefused;
    uint8_t *trimmed = scratch + QV_TEMPLATE_SIZE;
    if (IslandPoints(island.templ) > kMaxIslandPoints) {
        island.length = TrimIsland(island.templ, island.length, kMaxIslandPoints, trimmed, QV_TEMPLATE_SIZE);
        if (island.length < 0) return kRefused;
        island.templ = trimmed;
    }
    if (slot == view.count) ++view.count;
    view.islands[slot] = island;
    const int32_t bytes = WriteGallery(view, scratch, QV_TEMPLATE_SIZE);
    if (bytes < 0) return kRefused;
    std::memcpy(out, scratch, static_cast<size_t>(bytes));
    std::memset(out + bytes, 0, static_cast<size_t>(QV_TEMPLATE_SIZE - bytes));
    return kDone;
}

}  // namespace

int32_t GalleryMerge(const uint8_t *base, const uint8_t *add, uint8_t *out, uint8_t *scratch, int32_t scratchSize) {
    GalleryView gallery{};
    GalleryView touch{};
    if (out == nullptr || scratch == nullptr) return kRefused;
    if (!ReadGallery(base, QV_TEMPLATE_SIZE, gallery) || !ReadGallery(add, QV_TEMPLATE_SIZE, touch)) return kRefused;
    if (gallery.count >= kMaxIslands || IslandPoints(touch.islands[0].templ) < kMinIslandPoints) return kRefused;
    GalleryIsland island = touch.islands[0];
    island.age = 0;
    // The base's own first island may be a whole touch (the first merge of an
    // enrolment): it is trimmed like every other island.
    if (IslandPoints(gallery.islands[0].templ) > kMaxIslandPoints) {
        if (scratchSize < 3 * QV_TEMPLATE_SIZE) return kRefused;
        uint8_t *head = scratch + 2 * QV_TEMPLATE_SIZE;
        const GalleryIsland &first = gallery.islands[0];
        const int32_t length = TrimIsland(first.templ, first.length, kMaxIslandPoints, head, QV_TEMPLATE_SIZE);
        if (length < 0) return kRefused;
        gallery.islands[0] = GalleryIsland{head, length, first.age};
    }
    return writeWithIsland(gallery, gallery.count, island, out, scratch, scratchSize);
}

int32_t GalleryRenew(uint8_t *out, uint8_t *scratch, int32_t scratchSize) {
    const GalleryMatchState &last = LastGalleryMatch();
    if (out == nullptr || scratch == nullptr || !last.valid || last.score < kGalleryRenewScore) return kRefused;
    ForgetGalleryMatch();
    GalleryView gallery{};
    GalleryView touch{};
    if (!ReadGallery(last.stored, QV_TEMPLATE_SIZE, gallery) || !ReadGallery(last.probe, QV_TEMPLATE_SIZE, touch) ||
        IslandPoints(touch.islands[0].templ) < kMinIslandPoints)
        return kRefused;
    for (int32_t k = 0; k < gallery.count; ++k)
        if (gallery.islands[k].age < kOldest) ++gallery.islands[k].age;
    gallery.islands[last.island].age = 0;
    int32_t slot = gallery.count;
    if (gallery.count >= kMaxIslands) {
        slot = last.island == 0 ? 1 : 0;
        for (int32_t k = 0; k < gallery.count; ++k)
            if (k != last.island && gallery.islands[k].age >= gallery.islands[slot].age) slot = k;
    }
    GalleryIsland island = touch.islands[0];
    island.age = 0;
    return writeWithIsland(gallery, slot, island, out, scratch, scratchSize);
}
