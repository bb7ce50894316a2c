#include "core/gallery_template.h"

#include <cstring>

#include "core/recognition_profile.h"
#include "core/template_codec.h"

namespace {

constexpr uint8_t kMagic0 = 'G';
constexpr uint8_t kMagic1 = 'L';
constexpr uint8_t kBlockVersion = 1;
constexpr int32_t kBlockHeader = 4;  // magic, version, count; the ages follow
constexpr int32_t kLengthBytes = 2;
// Header fields of a feature template that trimming rewrites.
constexpr int32_t kValleyKneeCountOffset = 11;
constexpr int32_t kKneeCountOffset = 13;
constexpr int32_t kMinutiaCountOffset = 15;
constexpr int32_t kCoverageByte = 5;

uint32_t getU16(const uint8_t *p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
void putU16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

bool readableIsland(const uint8_t *templ, int32_t length, int32_t profile) {
    return length >= kTemplateHeaderSize && TemplateProfile(templ) == profile &&
           DeclaredTemplateLength(templ, length) == length;
}

}  // namespace

int32_t IslandPoints(const uint8_t *templ) {
    return templ[kMinutiaCountOffset] + static_cast<int32_t>(getU16(templ + kKneeCountOffset)) +
           static_cast<int32_t>(getU16(templ + kValleyKneeCountOffset));
}

bool ReadGallery(const uint8_t *templ, int32_t size, GalleryView &view) {
    if (templ == nullptr || size < kTemplateHeaderSize || !IsGalleryProfile(TemplateProfile(templ))) return false;
    const int32_t profile = TemplateProfile(templ);
    const int64_t head = DeclaredTemplateLength(templ, size);
    if (head < 0 || head + kBlockHeader > size) return false;
    const uint8_t *block = templ + head;
    if (block[0] != kMagic0 || block[1] != kMagic1 || block[2] != kBlockVersion) return false;
    const int32_t count = block[3];
    if (count < 1 || count > kMaxIslands || head + kBlockHeader + count > size) return false;
    view.profile = profile;
    view.count = count;
    view.islands[0] = GalleryIsland{templ, static_cast<int32_t>(head), block[kBlockHeader]};
    int64_t at = head + kBlockHeader + count;
    for (int32_t k = 1; k < count; ++k) {
        if (at + kLengthBytes > size) return false;
        const int32_t length = static_cast<int32_t>(getU16(templ + at));
        at += kLengthBytes;
        if (length > size - at || !readableIsland(templ + at, length, profile)) return false;
        view.islands[k] = GalleryIsland{templ + at, length, block[kBlockHeader + k]};
        at += length;
    }
    return true;
}

int64_t GalleryBytes(const GalleryView &view) {
    if (view.count < 1) return -1;
    int64_t total = view.islands[0].length + kBlockHeader + view.count;
    for (int32_t k = 1; k < view.count; ++k) total += kLengthBytes + view.islands[k].length;
    return total;
}

int32_t WriteGallery(const GalleryView &view, uint8_t *out, int32_t capacity) {
    const int64_t total = GalleryBytes(view);
    if (out == nullptr || view.count > kMaxIslands || total < 0 || total > capacity) return -1;
    int32_t at = 0;
    std::memcpy(out, view.islands[0].templ, static_cast<size_t>(view.islands[0].length));
    at += view.islands[0].length;
    out[at++] = kMagic0;
    out[at++] = kMagic1;
    out[at++] = kBlockVersion;
    out[at++] = static_cast<uint8_t>(view.count);
    for (int32_t k = 0; k < view.count; ++k) out[at++] = view.islands[k].age;
    for (int32_t k = 1; k < view.count; ++k) {
        putU16(out + at, static_cast<uint32_t>(view.islands[k].length));
        at += kLengthBytes;
        std::memcpy(out + at, view.islands[k].templ, static_cast<size_t>(view.islands[k].length));
        at += view.islands[k].length;
    }
    return at;
}

int32_t TrimIsland(const uint8_t *templ, int32_t length, int32_t maxPoints, uint8_t *out, int32_t capacity) {
    const int32_t minutiae = templ[kMinutiaCountOffset];
    const int32_t knees = static_cast<int32_t>(getU16(templ + kKneeCountOffset));
    const int32_t valleys = static_cast<int32_t>(getU16(templ + kValleyKneeCountOffset));
    const int32_t total = minutiae + knees + valleys;
    if (total > kMaxFeaturePoints) return -1;
    const int32_t bitmap = length - kTemplateHeaderSize - total * kTemplatePointSize;
    if (bitmap < 0) return -1;
    // Knee points to keep: the widest coverage first, earlier ones first on a tie.
    bool keep[kMaxFeaturePoints] = {};
    int32_t room = maxPoints - minutiae;
    for (int32_t i = 0; i < minutiae && i < kMaxFeaturePoints; ++i) keep[i] = true;
    for (int32_t coverage = 255; coverage >= 0 && room > 0; --coverage)
        for (int32_t i = minutiae; i < total && room > 0; ++i)
            if (templ[kTemplateHeaderSize + i * kTemplatePointSize + kCoverageByte] == coverage) {
                keep[i] = true;
                --room;
            }
    int32_t keptKnees = 0, keptValleys = 0, kept = 0;
    for (int32_t i = minutiae; i < total; ++i)
        if (keep[i]) (i < minutiae + knees ? keptKnees : keptValleys)++;
    for (int32_t i = 0; i < total; ++i) kept += keep[i];
    const int32_t newLength = kTemplateHeaderSize + kept * kTemplatePointSize + bitmap;
    if (newLength > capacity) return -1;
    std::memcpy(out, templ, kTemplateHeaderSize);
    putU16(out + kKneeCountOffset, static_cast<uint32_t>(keptKnees));
    putU16(out + kValleyKneeCountOffset, static_cast<uint32_t>(keptValleys));
    uint8_t *rec = out + kTemplateHeaderSize;
    for (int32_t i = 0; i < total; ++i) {
        if (!keep[i]) continue;
        std::memcpy(rec, templ + kTemplateHeaderSize + i * kTemplatePointSize, kTemplatePointSize);
        rec += kTemplatePointSize;
    }
    std::memcpy(rec, templ + kTemplateHeaderSize + total * kTemplatePointSize, static_cast<size_t>(bitmap));
    return newLength;
}

int32_t EncodeGalleryCapture(const FeatureSet *set, const uint8_t *cells, int32_t width, int32_t height, uint8_t *out,
                             int32_t capacity, int32_t profile) {
    if (EncodeTemplateAs(set, cells, width, height, out, capacity, profile) != kCodecOk) return -1;
    const int64_t head = DeclaredTemplateLength(out, capacity);
    if (head < 0 || head + kBlockHeader + 1 > capacity) return -1;
    uint8_t *block = out + head;
    block[0] = kMagic0;
    block[1] = kMagic1;
    block[2] = kBlockVersion;
    block[3] = 1;
    block[4] = 0;
    return static_cast<int32_t>(head) + kBlockHeader + 1;
}
