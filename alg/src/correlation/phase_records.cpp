#include "correlation/phase_records.h"

#include <cstring>

#include "QVAlgDll.h"
#include "core/recognition_profile.h"

namespace {

constexpr uint8_t kMagic0 = 'P';
constexpr uint8_t kMagic1 = 'C';
constexpr uint8_t kBlockVersion = 1;
// Points a touch keeps when its rotated records would not fit otherwise.
constexpr int32_t kTouchPointsWhenFull = 480;

uint8_t g_touch[QV_TEMPLATE_SIZE];
uint8_t g_rotated[kTouchRotations * kPhaseBytes];

}  // namespace

bool ReadCorrelatedTemplate(const uint8_t *templ, int32_t size, GalleryView &gallery, PhaseRecords &phases) {
    if (!ReadGallery(templ, size, gallery) || gallery.profile != kProfileCorrelated) return false;
    const int64_t at = GalleryBytes(gallery);
    if (at < 0 || at + kPhaseBlockHeader > size) return false;
    const uint8_t *block = templ + at;
    if (block[0] != kMagic0 || block[1] != kMagic1 || block[2] != kBlockVersion) return false;
    const int32_t count = block[3];
    if (count != gallery.count && !(gallery.count == 1 && count == kTouchRotations)) return false;
    if (at + kPhaseBlockHeader + static_cast<int64_t>(count) * kPhaseBytes > size) return false;
    phases = PhaseRecords{count, block + kPhaseBlockHeader};
    return true;
}

const uint8_t *IslandRecord(const GalleryView &gallery, const PhaseRecords &phases, int32_t k) {
    const int32_t r = phases.count == gallery.count ? k : kUnrotatedRecord;
    return phases.records + static_cast<int64_t>(r) * kPhaseBytes;
}

int32_t AppendPhaseBlock(uint8_t *out, int32_t at, int32_t capacity, const uint8_t *const *records, int32_t count) {
    if (at < 0 || count < 1 || count > 255 ||
        at + kPhaseBlockHeader + static_cast<int64_t>(count) * kPhaseBytes > capacity)
        return -1;
    out[at++] = kMagic0;
    out[at++] = kMagic1;
    out[at++] = kBlockVersion;
    out[at++] = static_cast<uint8_t>(count);
    for (int32_t r = 0; r < count; ++r) {
        std::memmove(out + at, records[r], kPhaseBytes);
        at += kPhaseBytes;
    }
    return at;
}

int32_t AppendTouchPhases(uint8_t *templ, int32_t capacity, const uint8_t *image, int32_t w, int32_t h) {
    GalleryView view{};
    if (!ReadGallery(templ, capacity, view) || view.count != 1 || view.profile != kProfileCorrelated) return -1;
    int64_t at = GalleryBytes(view);
    constexpr int64_t kBlockBytes = kPhaseBlockHeader + int64_t{kTouchRotations} * kPhaseBytes;
    if (at + kBlockBytes > capacity) {
        // Rebuild the one-island gallery with fewer points.
        const int32_t length =
            TrimIsland(view.islands[0].templ, view.islands[0].length, kTouchPointsWhenFull, g_touch, QV_TEMPLATE_SIZE);
        if (length < 0) return -1;
        view.islands[0].templ = g_touch;
        view.islands[0].length = length;
        const int32_t bytes = WriteGallery(view, templ, capacity);
        if (bytes < 0 || bytes + kBlockBytes > capacity) return -1;
        at = bytes;
    }
    const uint8_t *records[kTouchRotations];
    for (int32_t r = 0; r < kTouchRotations; ++r) {
        uint8_t *rec = g_rotated + r * kPhaseBytes;
        TouchPhases(image, w, h, kFirstRotation + r * kRotationStep, rec);
        records[r] = rec;
    }
    const int32_t end = AppendPhaseBlock(templ, static_cast<int32_t>(at), capacity, records, kTouchRotations);
    if (end > 0) std::memset(templ + end, 0, static_cast<size_t>(capacity - end));
    return end;
}
