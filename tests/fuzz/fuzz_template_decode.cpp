// Fuzz target of the template decoder: finger files come from disk, so any
// byte string must be either refused or decoded within the buffers. A decoded
// template must also be a consistent working-frame set whose cut-back
// re-encoding decodes to the very same set and mask.
//
// Every input is tried twice: as it is, and with the library's version code
// written over bytes 5..9, so that mutations reach the checks behind the
// version comparison.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "QVAlgDll.h"
#include "core/featureset.h"
#include "core/template_codec.h"

namespace {

FeatureSet g_first;
FeatureMask g_firstMask;
FeatureSet g_work;
FeatureMask g_workMask;
FeatureSet g_again;
FeatureMask g_againMask;
uint8_t g_reencoded[QV_TEMPLATE_SIZE];

void require(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "template decode check failed: %s\n", what);
        std::abort();
    }
}

void checkWorkingFrame(const FeatureSet &set, const FeatureMask &mask, int32_t result) {
    require(result == static_cast<int32_t>(set.minutiaCount), "result is the minutia count");
    require(set.minutiaCount <= kMaxTemplateMinutiae, "minutia count fits a byte");
    const uint64_t total = static_cast<uint64_t>(set.minutiaCount) + set.kneeCount + set.valleyKneeCount;
    require(total <= static_cast<uint64_t>(kMaxFeaturePoints), "point count within capacity");
    require(mask.width >= 2 * kMaskBorderCells && mask.height >= 2 * kMaskBorderCells, "mask has its border");
    require(static_cast<uint64_t>(mask.width) * mask.height <= static_cast<uint64_t>(kMaxMaskCells),
            "mask within capacity");
    for (uint32_t i = 0; i < total; ++i) {
        const Minutia &p = set.points[i];
        require(p.angle < 360, "angle below a full turn");
        require(p.pairState == 0, "pair state cleared");
        require(p.x >= static_cast<uint32_t>(kWorkingFrameShift) && p.y >= static_cast<uint32_t>(kWorkingFrameShift),
                "points shifted into the working frame");
        require(i < set.minutiaCount ? (p.type == 1 || p.type == 2) : p.type == 0, "point type");
        for (int16_t d : p.descriptor) require(d >= -128 && d <= 127, "descriptor range");
    }
    static const Minutia kZero{};
    for (uint32_t i = static_cast<uint32_t>(total); i < static_cast<uint32_t>(kMaxFeaturePoints); ++i)
        require(std::memcmp(&set.points[i], &kZero, sizeof kZero) == 0, "points past the counts are zero");
    const uint32_t b = kMaskBorderCells;
    for (uint32_t r = 0; r < mask.height; ++r)
        for (uint32_t c = 0; c < mask.width; ++c) {
            const uint8_t cell = mask.cells[r * mask.width + c];
            const bool border = r < b || c < b || r >= mask.height - b || c >= mask.width - b;
            require(border ? cell == kMaskBackground : (cell == kMaskBackground || cell == kMaskFinger), "mask cells");
        }
}

void decodeAndCheck(const uint8_t *data, int32_t size) {
    const FeatureSlot first{&g_first, &g_firstMask};
    const int32_t result = DecodeTemplate(data, size, &first);
    if (result < 0) return;
    checkWorkingFrame(g_first, g_firstMask, result);

    // Round trip: decode again, cut back, encode, decode the new template.
    const FeatureSlot work{&g_work, &g_workMask};
    require(DecodeTemplate(data, size, &work) == result, "decoding is repeatable");
    int32_t width = static_cast<int32_t>(g_workMask.width);
    int32_t height = static_cast<int32_t>(g_workMask.height);
    require(CutBackFeatures(&g_work, g_workMask.cells, width, height) == kCodecOk, "cut-back");
    const uint32_t total = FeaturePointCount(g_work);
    const int64_t length = TemplateLength(total, width, height);
    require(length > 0 && length <= size, "re-encoded template is no longer than the input");
    if (length > QV_TEMPLATE_SIZE) return;
    require(EncodeTemplate(&g_work, g_workMask.cells, width, height, g_reencoded, QV_TEMPLATE_SIZE) == kCodecOk,
            "re-encode");
    const FeatureSlot again{&g_again, &g_againMask};
    require(DecodeTemplate(g_reencoded, static_cast<int32_t>(length), &again) == result, "re-decode");
    require(std::memcmp(&g_again, &g_first, sizeof g_first) == 0, "same set after the round trip");
    require(g_againMask.width == g_firstMask.width && g_againMask.height == g_firstMask.height, "same mask size");
    require(std::memcmp(g_againMask.cells, g_firstMask.cells, g_firstMask.width * g_firstMask.height) == 0,
            "same mask after the round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > static_cast<size_t>(INT32_MAX)) return 0;
    const int32_t inSize = static_cast<int32_t>(size);
    decodeAndCheck(data, inSize);

    // An exact-size copy, so that any read past the end still shows.
    const int32_t versionEnd = 5 + QV_VERSION_CODE_SIZE;
    if (inSize >= versionEnd) {
        std::vector<uint8_t> stamped(data, data + size);
        std::memcpy(stamped.data() + 5, g_cAlgVerNoKey, QV_VERSION_CODE_SIZE);
        decodeAndCheck(stamped.data(), inSize);
    }
    return 0;
}
