// Template renewal: after a confident match, fold the verified capture into
// the stored template along the alignment the match found. Nothing is decoded
// again: the canvas merge runs on the two sets the match left in the slots.
#include <cstring>

#include "QVAlgDll.h"
#include "feature_match.h"
#include "gallery_match.h"
#include "gallery_merge.h"
#include "image_merge.h"
#include "template_merge.h"

namespace {

constexpr int32_t kRenewed = 0;
constexpr int32_t kNotRenewed = 1;
// Fewest matched pairs a renewal needs under the variants that ask for them.
constexpr int32_t kMinRenewPairs = 3;

bool needsThreePairs(int32_t version) { return version == 2 || version == 3 || version == 6; }

int32_t FeatureRenew(uint8_t *out, uint16_t *width, uint16_t *height) {
    // Only the state of a match that nothing has consumed since can be
    // renewed: after a merge or an earlier renewal the reference set is gone.
    if (out == nullptr || !MatchStateForRenewal()) return kNotRenewed;
    if (resultMax[kResultScore] < EATURE_RENEW_THRESHOLD) return kNotRenewed;
    if (needsThreePairs(QV_CURRENT_VER) && resultMax[kResultPairs] < kMinRenewPairs) return kNotRenewed;
    g_bRenewFlag = 1;
    ConsumeMatchState();
    if (MFeatureTemp.set == nullptr || MFeatureWait.set == nullptr || MFeatureMerge.set == nullptr ||
        pxlyMatchPtMax == nullptr)
        return kNotRenewed;

    std::memset(MFeatureMerge.set, 0, sizeof(FeatureSet));
    std::memset(MFeatureMerge.mask, 0, sizeof(FeatureMask));
    int32_t alignment[kResultFields];
    std::memcpy(alignment, resultMax, sizeof alignment);
    if (ImageMerge2(*MFeatureTemp.set, *MFeatureTemp.mask, *MFeatureWait.set, *MFeatureWait.mask, &MFeatureMerge,
                    alignment, *pxlyMatchPtMax) != 0)
        return kNotRenewed;
    uint16_t w = 0;
    uint16_t h = 0;
    if (!EncodeMergedSlot(MFeatureMerge, out, w, h)) return kNotRenewed;
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return kRenewed;
}

}  // namespace

extern "C" int16_t Quorvane_RenewFeature(uint8_t *templ, void *, uint16_t *width, uint16_t *height) {
    // A gallery match leaves no engine state and an engine match no gallery
    // state, so at most one of the two renews.
    if (LastGalleryMatch().valid) return static_cast<int16_t>(GalleryRenew(templ, tempbuf, QV_WORKSPACE_SIZE));
    return static_cast<int16_t>(FeatureRenew(templ, width, height));
}
