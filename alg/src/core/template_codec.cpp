// Template codec. Every byte is written and read explicitly, most significant
// first, so the format does not depend on the memory layout or byte order of
// the machine. The decoder reads data from disk: it checks every length and
// count before it touches the slot, so no template can make it read or write
// outside its buffers.
#include "core/template_codec.h"

#include <cstring>

#include "core/recognition_profile.h"

namespace {

// Header offsets.
constexpr int32_t kFormatOffset = 0;
constexpr int32_t kWidthOffset = 1;
constexpr int32_t kHeightOffset = 3;
constexpr int32_t kVersionOffset = 5;
constexpr int32_t kDryWetOffset = 10;
constexpr int32_t kValleyKneeCountOffset = 11;
constexpr int32_t kKneeCountOffset = 13;
constexpr int32_t kMinutiaCountOffset = 15;

// Point record: a packed word, a flags byte, coverage, weak flag, descriptor.
constexpr int32_t kFlagsOffset = 4;
constexpr int32_t kCoverageOffset = 5;
constexpr int32_t kWeakOffset = 6;
constexpr int32_t kDescriptorOffset = 7;
static_assert(kDescriptorOffset + kDescriptorLength == kTemplatePointSize);

// Fields of the packed word.
constexpr int32_t kXShift = 22;
constexpr int32_t kYShift = 12;
constexpr uint32_t kCoordMask = 0x3FF;
constexpr int32_t kAngleShift = 3;
constexpr uint32_t kAngleMask = 0x1FF;
constexpr uint32_t kKindBit = 1u << 2;

// Fields of the flags byte.
constexpr uint32_t kEdgeMask = 0x3;
constexpr int32_t kHitShift = 2;
constexpr uint32_t kHitMask = 0x7;
constexpr int32_t kMergeShift = 5;
constexpr uint32_t kMergeMask = 0x7;

// Directions are whole degrees below a full turn.
constexpr uint32_t kFullTurn = 360;
// Descriptor values are stored in offset binary.
constexpr int32_t kDescriptorOffsetBinary = 128;

constexpr int32_t kBitsPerByte = 8;

void putU16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void putU32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t getU16(const uint8_t *p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }

uint32_t getU32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void encodePoint(uint8_t *rec, const Minutia &p, bool isMinutia) {
    uint32_t word =
        ((p.x & kCoordMask) << kXShift) | ((p.y & kCoordMask) << kYShift) | ((p.angle & kAngleMask) << kAngleShift);
    if (isMinutia && p.type == kMinutiaKind2) word |= kKindBit;
    putU32(rec, word);
    rec[kFlagsOffset] = static_cast<uint8_t>((p.edgeFlag & kEdgeMask) | ((p.hitCount & kHitMask) << kHitShift) |
                                             ((p.mergeCount & kMergeMask) << kMergeShift));
    rec[kCoverageOffset] = static_cast<uint8_t>(p.coverage);
    rec[kWeakOffset] = static_cast<uint8_t>(p.weakFlag & 1);
    for (int32_t i = 0; i < kDescriptorLength; ++i)
        rec[kDescriptorOffset + i] = static_cast<uint8_t>(p.descriptor[i] + kDescriptorOffsetBinary);
}

void decodePoint(const uint8_t *rec, Minutia &p, bool isMinutia) {
    const uint32_t word = getU32(rec);
    p.x = (word >> kXShift) & kCoordMask;
    p.y = (word >> kYShift) & kCoordMask;
    p.angle = (word >> kAngleShift) & kAngleMask;
    p.type = isMinutia ? ((word & kKindBit) ? kMinutiaKind2 : kMinutiaKind1) : 0;
    const uint32_t flags = rec[kFlagsOffset];
    p.edgeFlag = static_cast<uint8_t>(flags & kEdgeMask);
    p.hitCount = static_cast<uint8_t>((flags >> kHitShift) & kHitMask);
    p.mergeCount = static_cast<uint8_t>((flags >> kMergeShift) & kMergeMask);
    p.pairState = 0;
    p.coverage = rec[kCoverageOffset];
    p.weakFlag = static_cast<uint8_t>(rec[kWeakOffset] & 1);
    for (int32_t i = 0; i < kDescriptorLength; ++i)
        p.descriptor[i] = static_cast<int16_t>(rec[kDescriptorOffset + i] - kDescriptorOffsetBinary);
}

uint32_t recordAngle(const uint8_t *rec) { return (getU32(rec) >> kAngleShift) & kAngleMask; }

// Bitmap of count cells, first cell in bit 7 of the first byte, 1 for a
// non-zero (background) cell. When the last group is partial it is written
// twice: in the last bitmap byte and in the tail byte after it.
void encodeMask(uint8_t *bits, const uint8_t *cells, int64_t count) {
    const int64_t fullBytes = count / kBitsPerByte;
    const int32_t rest = static_cast<int32_t>(count % kBitsPerByte);
    for (int64_t b = 0; b <= fullBytes; ++b) {
        const int32_t n = b < fullBytes ? kBitsPerByte : rest;
        if (n == 0) break;
        uint32_t byte = 0;
        for (int32_t j = 0; j < n; ++j)
            if (cells[b * kBitsPerByte + j] != kMaskFinger) byte |= 0x80u >> j;
        bits[b] = static_cast<uint8_t>(byte);
    }
    if (rest != 0) bits[fullBytes + 1] = bits[fullBytes];
}

// The last partial group is taken from the tail byte.
void decodeMask(const uint8_t *bits, uint8_t *cells, int64_t count) {
    const int64_t fullBytes = count / kBitsPerByte;
    const int32_t rest = static_cast<int32_t>(count % kBitsPerByte);
    for (int64_t b = 0; b <= fullBytes; ++b) {
        const int32_t n = b < fullBytes ? kBitsPerByte : rest;
        const uint32_t byte = b < fullBytes ? bits[b] : bits[fullBytes + 1];
        for (int32_t j = 0; j < n; ++j)
            cells[b * kBitsPerByte + j] = (byte & (0x80u >> j)) ? kMaskBackground : kMaskFinger;
    }
}

uint32_t pointsToMove(const FeatureSet &set) {
    const uint64_t total = static_cast<uint64_t>(set.minutiaCount) + set.kneeCount + set.valleyKneeCount;
    return total < static_cast<uint64_t>(kMaxFeaturePoints) ? static_cast<uint32_t>(total) : kMaxFeaturePoints;
}

void shiftPoints(FeatureSet &set, uint32_t delta) {
    const uint32_t n = pointsToMove(set);
    for (uint32_t i = 0; i < n; ++i) {
        set.points[i].x += delta;  // unsigned: a shift back below 0 wraps, as templates expect
        set.points[i].y += delta;
    }
}

}  // namespace

int64_t TemplateLength(uint32_t pointCount, int32_t width, int32_t height) {
    if (width < 0 || height < 0) return -1;
    const int64_t cells = static_cast<int64_t>(width) * height;
    const int64_t length = kTemplateHeaderSize + static_cast<int64_t>(kTemplatePointSize) * pointCount +
                           (cells + kBitsPerByte - 1) / kBitsPerByte + (cells % kBitsPerByte != 0 ? 1 : 0);
    return length <= INT32_MAX ? length : -1;
}

int32_t EncodeTemplate(const FeatureSet *set, const uint8_t *cells, int32_t width, int32_t height, uint8_t *out,
                       int32_t outSize) {
    return EncodeTemplateAs(set, cells, width, height, out, outSize, kProfileDescribed);
}

int32_t EncodeTemplateAs(const FeatureSet *set, const uint8_t *cells, int32_t width, int32_t height, uint8_t *out,
                         int32_t outSize, int32_t profile) {
    if (set == nullptr || out == nullptr) return kCodecRefused;
    if (width < 0 || height < 0 || width > kMaxTemplateMaskSide || height > kMaxTemplateMaskSide) return kCodecRefused;
    const int64_t cellCount = static_cast<int64_t>(width) * height;
    if (cells == nullptr && cellCount > 0) return kCodecRefused;
    if (set->minutiaCount > kMaxTemplateMinutiae) return kCodecRefused;
    const uint64_t total = static_cast<uint64_t>(set->minutiaCount) + set->kneeCount + set->valleyKneeCount;
    if (total > static_cast<uint64_t>(kMaxFeaturePoints)) return kCodecRefused;
    const uint32_t n = static_cast<uint32_t>(total);
    // An angle of a full turn or more would decode as a corrupt template.
    for (uint32_t i = 0; i < n; ++i)
        if (set->points[i].angle >= kFullTurn) return kCodecRefused;
    const int64_t length = TemplateLength(n, width, height);
    if (length < 0 || length > outSize) return kCodecRefused;

    out[kFormatOffset] = kTemplateFormat;
    putU16(out + kWidthOffset, static_cast<uint32_t>(width));
    putU16(out + kHeightOffset, static_cast<uint32_t>(height));
    std::memcpy(out + kVersionOffset, ProfileVersionCode(profile), QV_VERSION_CODE_SIZE);
    out[kDryWetOffset] = static_cast<uint8_t>(set->dryWet);
    putU16(out + kValleyKneeCountOffset, set->valleyKneeCount);
    putU16(out + kKneeCountOffset, set->kneeCount);
    out[kMinutiaCountOffset] = static_cast<uint8_t>(set->minutiaCount);

    uint8_t *rec = out + kTemplateHeaderSize;
    for (uint32_t i = 0; i < n; ++i, rec += kTemplatePointSize) encodePoint(rec, set->points[i], i < set->minutiaCount);
    encodeMask(rec, cells, cellCount);
    return kCodecOk;
}

int32_t DecodeTemplate(const uint8_t *templ, int32_t inSize, const FeatureSlot *slot) {
    return DecodeTemplateAs(templ, inSize, slot, kProfileDescribed);
}

int64_t DeclaredTemplateLength(const uint8_t *templ, int32_t inSize) {
    if (templ == nullptr || inSize < kTemplateHeaderSize) return -1;
    const uint32_t minutiae = templ[kMinutiaCountOffset];
    uint32_t knees = getU16(templ + kKneeCountOffset);
    const uint32_t valleyKnees = getU16(templ + kValleyKneeCountOffset);
    if (valleyKnees > kMaxFeaturePoints - minutiae) return -1;
    if (minutiae + knees + valleyKnees > kMaxFeaturePoints) knees = kMaxFeaturePoints - minutiae - valleyKnees;
    return TemplateLength(minutiae + knees + valleyKnees, static_cast<int32_t>(getU16(templ + kWidthOffset)),
                          static_cast<int32_t>(getU16(templ + kHeightOffset)));
}

int32_t DecodeTemplateAs(const uint8_t *templ, int32_t inSize, const FeatureSlot *slot, int32_t profile) {
    return DecodeTemplateOver(templ, inSize, slot, profile, kMaxFeaturePoints);
}

int32_t DecodeTemplateOver(const uint8_t *templ, int32_t inSize, const FeatureSlot *slot, int32_t profile,
                           uint32_t dirtyPoints) {
    if (templ == nullptr || slot == nullptr || slot->set == nullptr || slot->mask == nullptr) return kCodecRefused;
    if (inSize < kTemplateHeaderSize) return kCodecRefused;
    if (std::memcmp(templ + kVersionOffset, ProfileVersionCode(profile), QV_VERSION_CODE_SIZE) != 0)
        return kCodecRefused;

    const uint32_t minutiae = templ[kMinutiaCountOffset];
    uint32_t knees = getU16(templ + kKneeCountOffset);
    const uint32_t valleyKnees = getU16(templ + kValleyKneeCountOffset);
    // The ridge knee count gives way when the counts exceed the capacity; the
    // other two are kept, so they alone must leave room (no count below 0).
    if (valleyKnees > kMaxFeaturePoints - minutiae) return kCodecRefused;
    if (minutiae + knees + valleyKnees > kMaxFeaturePoints) knees = kMaxFeaturePoints - minutiae - valleyKnees;
    const uint32_t n = minutiae + knees + valleyKnees;

    const int32_t width = static_cast<int32_t>(getU16(templ + kWidthOffset));
    const int32_t height = static_cast<int32_t>(getU16(templ + kHeightOffset));
    if (TemplateLength(n, width, height) > inSize) return kCodecRefused;
    const int64_t grownCells =
        static_cast<int64_t>(width + 2 * kMaskBorderCells) * static_cast<int64_t>(height + 2 * kMaskBorderCells);
    if (grownCells > kMaxMaskCells) return kCodecRefused;

    const uint8_t *records = templ + kTemplateHeaderSize;
    for (uint32_t i = 0; i < n; ++i)
        if (recordAngle(records + i * kTemplatePointSize) >= kFullTurn) return kCodecRefused;

    // Everything fits: fill the slot.
    FeatureSet &set = *slot->set;
    FeatureMask &mask = *slot->mask;
    const uint32_t cleared = dirtyPoints > n ? (dirtyPoints < kMaxFeaturePoints ? dirtyPoints : kMaxFeaturePoints) : n;
    std::memset(&set, 0, offsetof(FeatureSet, points) + cleared * sizeof(Minutia));
    set.minutiaCount = minutiae;
    set.kneeCount = knees;
    set.valleyKneeCount = valleyKnees;
    set.dryWet = templ[kDryWetOffset];
    for (uint32_t i = 0; i < n; ++i) decodePoint(records + i * kTemplatePointSize, set.points[i], i < minutiae);

    mask.width = static_cast<uint32_t>(width);
    mask.height = static_cast<uint32_t>(height);
    decodeMask(records + n * kTemplatePointSize, mask.cells, static_cast<int64_t>(width) * height);

    ExtendFeatures(slot);  // cannot fail: the grown mask was checked above
    return static_cast<int32_t>(minutiae);
}

int32_t ExtendFeatures(const FeatureSlot *slot) {
    if (slot == nullptr || slot->set == nullptr || slot->mask == nullptr) return kCodecRefused;
    FeatureMask &mask = *slot->mask;
    if (mask.width > static_cast<uint32_t>(kMaxMaskCells) || mask.height > static_cast<uint32_t>(kMaxMaskCells))
        return kCodecRefused;
    const uint64_t width = mask.width;
    const uint64_t height = mask.height;
    const uint64_t grownWidth = width + 2 * kMaskBorderCells;
    const uint64_t grownHeight = height + 2 * kMaskBorderCells;
    if (grownWidth * grownHeight > static_cast<uint64_t>(kMaxMaskCells)) return kCodecRefused;

    shiftPoints(*slot->set, kWorkingFrameShift);

    // Every row moves to a higher index, so moving from the last row backwards
    // never overwrites a cell that has not moved yet.
    uint8_t *cells = mask.cells;
    for (uint64_t r = height; r-- > 0;)
        std::memmove(cells + (r + kMaskBorderCells) * grownWidth + kMaskBorderCells, cells + r * width, width);
    const uint64_t border = kMaskBorderCells;
    std::memset(cells, kMaskBackground, border * grownWidth);
    std::memset(cells + (border + height) * grownWidth, kMaskBackground, border * grownWidth);
    for (uint64_t r = border; r < border + height; ++r) {
        std::memset(cells + r * grownWidth, kMaskBackground, border);
        std::memset(cells + r * grownWidth + border + width, kMaskBackground, border);
    }
    mask.width = static_cast<uint32_t>(grownWidth);
    mask.height = static_cast<uint32_t>(grownHeight);
    return kCodecOk;
}

int32_t CutBackFeatures(FeatureSet *set, uint8_t *cells, int32_t &width, int32_t &height) {
    if (set == nullptr || cells == nullptr) return kCodecRefused;
    if (width < 2 * kMaskBorderCells || height < 2 * kMaskBorderCells) return kCodecRefused;

    shiftPoints(*set, 0u - static_cast<uint32_t>(kWorkingFrameShift));

    // Every kept cell moves to a lower index: pack forwards, row by row.
    const int64_t oldWidth = width;
    const int32_t newWidth = width - 2 * kMaskBorderCells;
    const int32_t newHeight = height - 2 * kMaskBorderCells;
    for (int64_t r = 0; r < newHeight; ++r)
        std::memmove(cells + r * newWidth, cells + (r + kMaskBorderCells) * oldWidth + kMaskBorderCells,
                     static_cast<size_t>(newWidth));
    width = newWidth;
    height = newHeight;
    return kCodecOk;
}
